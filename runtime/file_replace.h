// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writing a file so that no run leaves a cut-short file under its final name:
// the data goes to "<name>.NEW" first, and only a complete, closed file takes
// the final name.
#pragma once

#include <stdint.h>

#include "runtime/file_stream.h"

// The names a safe write works with: the new data goes to `Fresh`, and an
// earlier file steps aside to `Old` while the new one takes `Final`.
struct SafeFileNames {
  char Final[64];
  char Fresh[68];
  char Old[68];
};

// The three names for `fileName` (at most 63 characters).
SafeFileNames SafeNamesFor(const char* fileName);

// True when none of the three names is a folder: a folder under the final
// name is not an earlier file to move aside, and one under the other two
// names is not a leftover to remove.
bool NamesHoldNoFolder(const SafeFileNames& names);

// True when the current directory's volume can take `bytes` of new data and
// still grow a directory by one cluster, which a FAT rename may need (it
// writes the new entry before the old one is gone). A volume that does not
// report its free space is given the benefit of the doubt.
bool VolumeHasRoomFor(uint64_t bytes);

// Removes an entry that stepped aside; RemoveFile for a file.
using RemoveEntry = bool (*)(const char* name);

// Puts the complete `fresh` entry in place of `final`. FAT cannot rename onto
// an existing name, so an earlier entry is moved aside first and removed
// (with `remove`) only once the new one stands under the final name; if that
// step fails the earlier entry goes back.
bool ReplaceWithNewEntry(const SafeFileNames& names, RemoveEntry remove);

// ReplaceWithNewEntry for a file.
bool ReplaceWithNewFile(const SafeFileNames& names);

// Writes exactly `size` bytes in `chunkSize` chunks with a progress line per
// chunk ("\r" caption percent), stopping at the first chunk that does not
// reach the file whole (it still gets its progress line); false then.
bool WriteInChunks(FileStream* stream, const uint8_t* data, uint32_t size, uint32_t chunkSize, const char* caption);
