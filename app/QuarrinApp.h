// The application object: the whole start-up course of the loader runs in InitInstance.
#pragma once

#include "platform/Win32.h"
#include "platform/framework/WinApp.h"

class CQuarrinApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

// The system-file check: 0 when the system files are intact, 1 when the main application's
// program is missing and the backup package opens for reading, so it can be restored.
int CheckSystemFiles();

// Runs the update course for a non-zero start-up mode: the update dialog and the release of
// what it leaves. Replaced by the dialog once it exists.
void RunUpdateCourse(CWinApp& app, DWORD mode);
