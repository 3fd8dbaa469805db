// The start-up configuration, fixed in code at the start of InitInstance. The COM port
// numbers of the co-processor links are in contract/UpdateContract.h.
#pragma once

#include "contract/UpdateContract.h"

extern bool g_calibrationEnabled;  // gates the touch-screen calibration backup
