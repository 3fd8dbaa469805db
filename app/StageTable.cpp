#include "app/StageTable.h"

#include "dialog/FirmwareProtocol.h"
#include "dialog/WorkerGuard.h"
#include "link/CoprocessorLink.h"
#include "workers/AppInstallThread.h"
#include "workers/NaviUpdateThread.h"

StageStarters DefaultStages() {
    StageStarters stages;
    stages.appWorker = GuardedWorker<AppInstallThread>;
    stages.naviWorker = GuardedWorker<NaviUpdateThread>;
    stages.startMcu = StartMcuStage;
    stages.startMpeg = StartMpegStage;
    stages.onMcuMessage = OnMcuMessage;
    stages.onMpegMessage = OnMpegMessage;
    stages.onFirmwareTimer = OnFirmwareTimer;
    stages.openMpegLink = OpenMpegLinkOf;
    stages.stopLinkThreads = [](CoprocessorLink* link) { link->StopLinkThreads(); };
    return stages;
}

StageStarters& Stages() {
    static StageStarters stages = DefaultStages();
    return stages;
}
