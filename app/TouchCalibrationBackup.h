// The touch-screen calibration backup: while "ResidentFlash2\TsData.dat" does not exist, the
// user calibrates the touch screen and the calibration values of the touch registry key are
// saved there. Always returns 0.
#pragma once

int BackupTouchCalibration();
