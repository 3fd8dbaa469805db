#include "tests/support/ProcessState.h"

#include "app/StartupConfig.h"
#include "dialog/UpdateDialog.h"
#include "link/PostBudget.h"
#include "plan/SourceRoots.h"
#include "plan/UpdatePlan.h"
#include "workers/TreeOperations.h"

namespace testsupport {

void ResetProcessState() {
    ResetDialogProcessState();
    ResetSourceRoots();
    ResetPostBudgets();
    g_systemFilesDamaged = false;
    g_mcuComPort = 2;
    g_mpegComPort = 3;
    g_calibrationEnabled = false;
    g_directoryList.clear();
    g_fileList.clear();
    g_totalFileCount = 0;
    g_copiedFileCount = 0;
    g_unlistedFolders.clear();
}

}  // namespace testsupport
