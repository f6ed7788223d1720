// Byte streams to files in the shell's current directory, opened by plain name,
// and the few whole-file operations a safe replace needs.
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

// Deletes the file; true when it is gone (or was never there).
bool RemoveFile(const char* name);

// Renames a file within the current directory. As on FAT, a rename onto a
// name that exists fails and changes nothing.
bool RenameFile(const char* from, const char* to);
