// Progress lines of the host build: what the unit's screen says, one line per change, for a
// person or a script following a run without the screen. The device has no such output.
#pragma once

#include "platform/Win32Types.h"

void ReportProgressLine(LPCWSTR line);
