#include "app/QuarrinApp.h"
#include "app/StageTable.h"

// Runs the update dialog modally for the start-up mode, then releases the co-processor
// links it may still hold: the MPEG link first, then the MCU link.
void RunUpdateCourse(CWinApp& app, DWORD mode) {
    CUpdateDialog dialog(Stages());
    app.m_pMainWnd = &dialog;
    SetUpdatePlan(dialog, mode);
    dialog.DoModal();
    for (CoprocessorLink** link : {&dialog.m_mpegLink, &dialog.m_mcuLink}) {
        if (*link != nullptr && Stages().closeAndDeleteLink != nullptr) {
            Stages().closeAndDeleteLink(*link);
        }
    }
    app.m_pMainWnd = nullptr;
}
