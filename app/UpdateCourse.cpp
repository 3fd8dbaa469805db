#include "app/QuarrinApp.h"
#include "app/StageTable.h"

// Runs the update dialog modally for the start-up mode, then releases the co-processor
// links it may still hold: the MPEG link first, then the MCU link.
void RunUpdateCourse(CWinApp& app, DWORD mode) {
    CUpdateDialog dialog(Stages());
    app.m_pMainWnd = &dialog;
    SetUpdatePlan(dialog, mode);
    dialog.DoModal();
    dialog.m_mpegLink.reset();
    dialog.m_mcuLink.reset();
    app.m_pMainWnd = nullptr;
}
