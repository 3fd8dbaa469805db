// A stage's worker thread wrapped so that running out of memory fails the stage, not the
// process: the failure is logged, shown with code 8 (ERROR_NOT_ENOUGH_MEMORY), and the run goes
// on to close the dialog and start the main application, as after any failed stage.
#pragma once

#include <new>

#include "dialog/UpdateDialog.h"

inline constexpr int ERROR_WORKER_OUT_OF_MEMORY = 8;

template <LPTHREAD_START_ROUTINE Worker>
DWORD GuardedWorker(LPVOID dialog) {
    try {
        return Worker(dialog);
    } catch (const std::bad_alloc&) {
        NKDbgPrintfW(L"Update worker out of memory\r\n");
        g_updateErrorCode = ERROR_WORKER_OUT_OF_MEMORY;
        PostMessageW(DialogWindowOf(dialog), WM_UPDATE_PROGRESS, 0, 0);
        return 0;
    }
}
