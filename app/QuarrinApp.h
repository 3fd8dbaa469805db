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

// The start-up mode when the update record cannot be opened: the application and both
// firmware images when the main application is missing too, otherwise nothing.
DWORD ModeWithoutRecord();

// The main application's user files, deleted before an application update so that the new
// application starts with fresh settings.
inline constexpr const wchar_t* USER_FILES[] = {
    L"ResidentFlash2\\UserConfig.dat",     L"ResidentFlash2\\ZELSDBookMark.dat",
    L"ResidentFlash2\\ZELUSBBookMark.dat", L"ResidentFlash4\\bt_conf.ini",
    L"ResidentFlash2\\UiData.xml",
};

// Runs the update course for a non-zero start-up mode: the update dialog and the release of
// what it leaves. Replaced by the dialog once it exists.
void RunUpdateCourse(CWinApp& app, DWORD mode);
