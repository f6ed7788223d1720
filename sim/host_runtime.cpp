// SPDX-License-Identifier: BSD-2-Clause-Patent
// The host side of the runtime: console text goes to the simulated machine's
// console, files to the directory that stands for the shell's current
// directory, which behaves as a FAT directory would (no rename onto an
// existing name), with the board's file failures and free space applied.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "runtime/file_stream.h"
#include "runtime/print.h"
#include "sim/machine_impl.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBufferBytes = 1u << 20;

fs::path PathOf(const char* name) { return fs::path(sim::CurrentMachine().directory()) / name; }

uint64_t SizeOf(const fs::path& path) {
  std::error_code error;
  uint64_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

// Space a file gives back when it is truncated or deleted.
void GiveBack(uint64_t bytes) {
  auto& board = sim::CurrentMachine().board();
  if (board.disk_free) *board.disk_free += bytes;
}

}  // namespace

void WriteConsoleText(const char* text, unsigned length) {
  if (length != 0) sim::CurrentMachine().AppendConsole(text, length);
}

struct FileStream {
  std::FILE* file;
  sim::FileFailure failure;
};

FileStream* OpenFileStream(const char* name, const char* mode) {
  sim::Machine& machine = sim::CurrentMachine();
  if (std::string(mode) != "wb") return nullptr;
  sim::FileFailure failure = machine.board().fail_file;
  if (failure == sim::FileFailure::Open) return nullptr;
  fs::path path = PathOf(name);
  std::error_code error;
  // A link in its place is replaced, never written through.
  if (fs::is_symlink(fs::symlink_status(path, error)) && !fs::remove(path, error)) return nullptr;
  uint64_t truncated = SizeOf(path);
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (descriptor < 0) return nullptr;
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    close(descriptor);
    return nullptr;
  }
  // The save writes block-sized chunks; a large buffer spares a system call
  // per 4 KiB block.
  std::setvbuf(file, nullptr, _IOFBF, kWriteBufferBytes);
  GiveBack(truncated);
  machine.impl().files.insert(name);
  return new FileStream{file, failure};
}

uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size) {
  if (stream->failure == sim::FileFailure::Write) return 0;
  auto& diskFree = sim::CurrentMachine().board().disk_free;
  uint64_t fits = diskFree && *diskFree < size ? *diskFree : size;
  uint64_t written = std::fwrite(data, 1, fits, stream->file);
  if (diskFree) *diskFree -= written;
  return written;
}

bool CloseFileStream(FileStream* stream) {
  bool closed = std::fclose(stream->file) == 0;
  bool ok = closed && stream->failure != sim::FileFailure::Close;
  delete stream;
  return ok;
}

bool FileExists(const char* name) {
  std::error_code error;
  return fs::exists(PathOf(name), error);
}

// A file without its owner's write bit stands for FAT's read-only attribute.
bool FileIsReadOnly(const char* name) {
  std::error_code error;
  fs::file_status status = fs::symlink_status(PathOf(name), error);
  return fs::is_regular_file(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool FolderExists(const char* name) {
  std::error_code error;
  return fs::is_directory(fs::symlink_status(PathOf(name), error));
}

// As FAT reports it: what is left of `disk_free`, in 4 KiB clusters.
bool QueryFreeSpace(uint64_t* freeBytes, uint32_t* clusterBytes) {
  const auto& diskFree = sim::CurrentMachine().board().disk_free;
  *freeBytes = diskFree ? *diskFree : 1ull << 62;
  *clusterBytes = 4096;
  return true;
}

bool RemoveFile(const char* name) {
  // FAT does not delete a read-only file.
  if (FileIsReadOnly(name)) return false;
  fs::path path = PathOf(name);
  uint64_t size = SizeOf(path);
  std::error_code error;
  if (fs::remove(path, error)) GiveBack(size);
  return !error;
}

bool RenameFile(const char* from, const char* to) {
  sim::Machine& machine = sim::CurrentMachine();
  sim::FileFailure failure = machine.board().fail_file;
  if (failure == sim::FileFailure::Rename || FileExists(to) || !FileExists(from)) return false;
  std::string source(from);
  if (failure == sim::FileFailure::RenameIntoPlace && source.size() > 4 && source.ends_with(".NEW")) return false;
  std::error_code error;
  fs::rename(PathOf(from), PathOf(to), error);
  if (error) return false;
  // What the run wrote moves with the name (a folder's files with it); a file
  // that was there before the run is only moved, not written.
  auto& files = machine.impl().files;
  std::string folderPrefix = source + "/";
  std::set<std::string> moved;
  for (auto name = files.begin(); name != files.end();) {
    if (*name == source) {
      moved.insert(to);
    } else if (name->starts_with(folderPrefix)) {
      moved.insert(std::string(to) + "/" + name->substr(folderPrefix.size()));
    } else {
      ++name;
      continue;
    }
    name = files.erase(name);
  }
  files.insert(moved.begin(), moved.end());
  return true;
}

bool CreateFolder(const char* name) {
  fs::path path = PathOf(name);
  std::error_code error;
  fs::create_directory(path, error);
  return fs::is_directory(path, error);
}

bool RemoveEmptyFolder(const char* name) {
  std::error_code error;
  fs::path path = PathOf(name);
  if (!fs::exists(path, error)) return true;
  return fs::is_directory(path, error) && fs::remove(path, error);
}
