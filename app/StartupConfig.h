// The start-up configuration, fixed in code at the start of InitInstance.
#pragma once

#include "platform/Win32.h"

extern int g_mcuComPort;           // COM port number of the MCU link
extern int g_mpegComPort;          // COM port number of the MPEG link
extern bool g_calibrationEnabled;  // gates the touch-screen calibration backup
