// SPDX-License-Identifier: BSD-2-Clause-Patent
// A few worker threads taking jobs from a queue of bounded length: the
// producer waits while the queue is full, so the work in flight, and the
// memory it holds, stays bounded however many jobs there are.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace fleet {

template <typename Job>
class WorkPool {
 public:
  WorkPool(size_t workers, size_t queueLength, std::function<void(Job&&)> work)
      : work_(std::move(work)), queueLength_(queueLength < 1 ? 1 : queueLength) {
    for (size_t i = 0; i < (workers < 1 ? 1 : workers); ++i) threads_.emplace_back([this] { Run(); });
  }
  ~WorkPool() { Finish(); }
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  void Push(Job&& job) {
    std::unique_lock<std::mutex> hold(lock_);
    room_.wait(hold, [this] { return queue_.size() < queueLength_; });
    queue_.push_back(std::move(job));
    ready_.notify_one();
  }

  // Waits for every job pushed to be done.
  void Finish() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_)
      if (thread.joinable()) thread.join();
  }

 private:
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> hold(lock_);
        ready_.wait(hold, [this] { return closed_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
      }
      work_(std::move(job));
    }
  }

  std::function<void(Job&&)> work_;
  size_t queueLength_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<Job> queue_;
  bool closed_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace fleet
