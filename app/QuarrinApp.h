// The application object: the whole start-up course of the loader runs in InitInstance.
#pragma once

#include "platform/Win32.h"
#include "platform/framework/WinApp.h"

class CQuarrinApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

// The system-file check: 0 when the system files are intact, 1 when the main application's
// program cannot be started as it is (missing, a folder, or an empty file) and the backup
// package opens for reading, so that the start-up restores it.
int CheckSystemFiles();

// Whether the main application's program is a file with content: one query.
bool ProgramLooksStartable();

// Whether the backup package "ResidentFlash\ZEL.bin" opens for reading.
bool BackupPackageOpens();

// The start-up mode when the update record cannot be opened. A unit without the program and
// without a backup (one fresh from the factory) asks for the application and both firmware
// images from a medium; otherwise nothing is requested, and the system-file check decides
// (so a unit that has lost its program restores it from the backup).
DWORD ModeWithoutRecord(bool programPresent);

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
