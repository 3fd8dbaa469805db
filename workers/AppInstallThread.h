// The worker thread of an application update: clears the application's folders, unpacks
// the application package with the decompression library, refreshes the backup package,
// imports the touch-key calibration and sets the update record for the next start.
#pragma once

#include "platform/Win32.h"

// Thread procedure; `dialog` is the CUpdateDialog, of which only m_hWnd is read. Reports by
// posting WM_UPDATE_PROGRESS and by g_updateErrorCode; always returns 0.
DWORD AppInstallThread(LPVOID dialog);
