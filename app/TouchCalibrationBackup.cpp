#include "app/TouchCalibrationBackup.h"

// FIXME: the backup needs the registry and TouchCalibrate of the platform layer; until they
// exist it saves nothing. The start-up configuration keeps the step switched off anyway.
int BackupTouchCalibration() { return 0; }
