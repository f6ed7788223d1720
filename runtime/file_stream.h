// SPDX-License-Identifier: BSD-2-Clause-Patent
// Byte streams to files in the shell's current directory, opened by plain name,
// and the few whole-file operations a safe replace needs. A name may lead
// through a folder of the current directory ("FOLDER/NAME").
#pragma once

#include <stdint.h>

struct FileStream;

// Only mode "wb" is supported: create the file or truncate it to empty.
// Returns null when the file cannot be opened that way.
FileStream* OpenFileStream(const char* name, const char* mode);

// Writes `size` bytes; returns the number of bytes the file took.
uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size);

// Closes the stream; returns true when everything written reached the file.
bool CloseFileStream(FileStream* stream);

// True when a file of that name exists in the current directory.
bool FileExists(const char* name);

// True when `name` is a folder (not a file) of the current directory.
bool FolderExists(const char* name);

// True when `name` exists and is marked read-only, which FAT will not delete.
bool FileIsReadOnly(const char* name);

// The free bytes of the current directory's file system and its cluster
// size; false when the file system does not report them.
bool QueryFreeSpace(uint64_t* freeBytes, uint32_t* clusterBytes);

// Deletes the file; true when it is gone (or was never there).
bool RemoveFile(const char* name);

// Renames a file within its folder (`to` names the same folder). As on FAT, a
// rename onto a name that exists fails and changes nothing.
bool RenameFile(const char* from, const char* to);

// Creates a folder in the current directory. True when a folder of that name
// is there afterwards (also when it already was); a file of that name fails.
bool CreateFolder(const char* name);

// Removes an empty folder; true when it is gone.
bool RemoveEmptyFolder(const char* name);
