// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fixed-width ASCII fields: text that may fill its field without a terminator
// (the identity descriptor's texts, the mailbox's part name).
#pragma once

#include <stdint.h>

// Copies at most `limit` characters up to the first NUL and terminates the
// copy; `destination` holds limit + 1 bytes.
void CopyBoundedText(char* destination, const char* source, unsigned limit);

// Copies up to the first NUL (at most `limit` characters) and zero-fills the
// rest of the `limit`-byte field.
void FillBoundedText(char* destination, const char* source, unsigned limit);

// The fields agree when their first `limit` characters match or both end at
// the same NUL before that.
bool BoundedTextEqual(const char* a, const char* b, unsigned limit);
