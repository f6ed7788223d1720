// SPDX-License-Identifier: BSD-2-Clause-Patent
// The file interface (runtime/file_stream.h) over the simple file system of
// the volume the image was loaded from, for a boot application that has no
// shell: names are relative to a working folder of that volume, which starts
// at its root. Beside the files, a log that every console line is copied to.
#pragma once

#include <stdint.h>

// Opens the volume of the loaded image's device; false when the firmware
// offers no file system there.
bool OpenLoadedVolume();

// Names are taken within `folder` of the volume's root from now on ("" for
// the root itself). At most 15 characters.
void SetWorkingFolder(const char* folder);

// Calls `visit` with the name of each entry of the volume's root ('?' for a
// character outside ASCII); false when the root could not be read whole.
bool ForEachRootEntry(void (*visit)(void* context, const char* name), void* context);

// Reads up to `capacity` bytes from the start of `name` in the working
// folder, as the stick returns them; the number of bytes read, 0 when the
// file cannot be read.
uint64_t ReadVolumeFile(const char* name, void* buffer, uint64_t capacity);

// The size of the file `name` in the working folder; false when there is no
// such file (or a folder of that name).
bool VolumeFileSize(const char* name, uint64_t* size);

// Opens `name` in the working folder as the log, created empty; false when
// it cannot be written. The log holds at most `bound` bytes: what comes
// after is dropped.
bool OpenVolumeLog(const char* name, uint64_t bound);

// Adds text to the log, if one is open.
void AppendVolumeLog(const char* text, unsigned length);

// Writes what the log holds in memory through to the stick. A write the
// stick refuses ends the log there: nothing after it is written.
void FlushVolumeLog();

// False once a byte of the log was dropped: a write failed or the bound was
// reached, so the log on the stick stops early.
bool VolumeLogWhole();

void CloseVolumeLog();
