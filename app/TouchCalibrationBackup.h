// Saving the touch-screen calibration to "ResidentFlash2\TsData.dat" once it exists.
#pragma once

int BackupTouchCalibration();
