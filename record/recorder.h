// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-record: captures the board it runs on into a board description that
// pellrix-sim replays. It never writes flash.
#pragma once

// The program, called by the runtime with the UTF-8 argument vector; returns
// the exit status for the shell: 128 when the record was written, 130 when it
// was not (or the start-up chip could not be restored), 131 for arguments.
// With "/room" it records nothing and answers whether the current directory
// has room for a failed comparison's evidence (128, or 130 when it has not).
int RecordBoardMain(int argc, char** argv);
