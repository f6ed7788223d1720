#include "firmware/tool_state.h"

ToolState gTool;

void ResetToolState() { gTool = ToolState{}; }
