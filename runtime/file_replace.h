// Writing a file so that no run leaves a cut-short file under its final name:
// the data goes to "<name>.NEW" first, and only a complete, closed file takes
// the final name.
#pragma once

#include <stdint.h>

#include "runtime/file_stream.h"

// The names a safe write works with: the new data goes to `fresh`, and an
// earlier file steps aside to `old` while the new one takes `final`.
struct SafeFileNames {
  char final[64];
  char fresh[68];
  char old[68];
};

// The three names for `fileName` (at most 63 characters).
SafeFileNames SafeNamesFor(const char* fileName);

// Puts the complete `fresh` file in place of `final`. FAT cannot rename onto
// an existing name, so an earlier file is moved aside first and removed only
// once the new one stands under the final name; if that step fails the
// earlier file goes back.
bool ReplaceWithNewFile(const SafeFileNames& names);

// Writes exactly `size` bytes in `chunkSize` chunks with a progress line per
// chunk ("\r" caption percent), stopping at the first chunk that does not
// reach the file whole (it still gets its progress line); false then.
bool WriteInChunks(FileStream* stream, const uint8_t* data, uint32_t size, uint32_t chunkSize, const char* caption);
