// The update stages of this build: the workers of the file-system updates and the firmware
// update protocol.
#include <new>

#include "dialog/FirmwareProtocol.h"
#include "dialog/UpdateDialog.h"
#include "link/CoprocessorLink.h"
#include "workers/AppInstallThread.h"
#include "workers/NaviUpdateThread.h"

namespace {

// A worker that runs out of memory fails its stage with a log line and code 8
// (ERROR_NOT_ENOUGH_MEMORY) instead of ending the process: the dialog shows the failure and
// closes, and the main application starts as after any failed stage.
template <LPTHREAD_START_ROUTINE Worker>
DWORD GuardedWorker(LPVOID dialog) {
    try {
        return Worker(dialog);
    } catch (const std::bad_alloc&) {
        NKDbgPrintfW(L"Update worker out of memory\r\n");
        g_updateErrorCode = ERROR_NOT_ENOUGH_MEMORY;
        PostMessageW(static_cast<CUpdateDialog*>(dialog)->m_hWnd, WM_UPDATE_PROGRESS, 0, 0);
        return 0;
    }
}

}  // namespace

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
    stages.closeAndDeleteLink = [](CoprocessorLink*& link) {
        link->CloseLink();
        delete link;
        link = nullptr;
    };
    return stages;
}
