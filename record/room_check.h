// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit's check before a comparison: whether the stick can keep what
// a failure leaves (both chips saved, the board record with both chips again,
// the log), so that the technician learns before testing when it cannot.
#pragma once

#include "firmware/tool_state.h"

// Prints one line on the room the current directory's volume has for that
// evidence, sized from the active chip's flash part (a fixed bound for the
// largest common part when no mailbox answers). Success when it fits or the
// file system does not report its free space; NotSupported when it does not.
ExitStatus CheckRoomForEvidence();
