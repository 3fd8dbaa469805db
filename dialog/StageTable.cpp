// The update stages of this build: the workers of the file-system updates and the firmware
// update protocol.
#include "dialog/UpdateDialog.h"
#include "workers/AppInstallThread.h"

StageStarters DefaultStages() {
    StageStarters stages;
    stages.appWorker = AppInstallThread;
    return stages;
}
