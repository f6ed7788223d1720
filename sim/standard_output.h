// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-sim's standard output: the utility's text, and whether it arrived.
// A failure does not stop the run (SIGPIPE is ignored); it is remembered and
// turned into the simulator's own status at the end, so that a host problem
// never looks like one of the utility's statuses.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

class StandardOutput {
 public:
  // Ignores SIGPIPE, and puts /dev/null on any of descriptors 0..2 that is
  // closed: a file the simulator opens later must not become its standard
  // output or error. A closed standard output is remembered as a failure.
  StandardOutput();

  void Write(const char* text, size_t length);

  // Flushes and closes standard output; the problem as one line of text, or
  // empty when every byte was delivered.
  std::string Finish();

 private:
  bool was_closed_ = false;
  int error_ = 0;  // errno of the first failed write
};

}  // namespace sim
