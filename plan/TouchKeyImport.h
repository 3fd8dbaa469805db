// Writes the bounds of the nine touch-key areas from the internal disk into the touch key of
// the registry, as part of an application update.
#pragma once

#include "platform/Win32.h"

// 1 when the file and the key were opened and the 36 values written, 0 otherwise.
int ImportTouchKeyCalibration();
