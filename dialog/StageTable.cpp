// The update stages of this build: the workers of the file-system updates and the firmware
// update protocol.
#include "dialog/UpdateDialog.h"
#include "workers/AppInstallThread.h"
#include "workers/NaviUpdateThread.h"

StageStarters DefaultStages() {
    StageStarters stages;
    stages.appWorker = AppInstallThread;
    stages.naviWorker = NaviUpdateThread;
    return stages;
}
