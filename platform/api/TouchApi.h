// The platform's interactive touch-screen calibration.
#pragma once

#include "platform/Win32Types.h"

// Shows the calibration screen and blocks until the user has finished it. Returns 1 when the
// calibration was completed; its values are then kept under HKEY_LOCAL_MACHINE
// "HARDWARE\DEVICEMAP\TOUCH". Without a calibration screen it returns 0.
BOOL TouchCalibrate();
