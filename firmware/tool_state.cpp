// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/tool_state.h"

ToolState gTool;

void ResetToolState() { gTool = ToolState{}; }
