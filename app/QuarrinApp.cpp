#include "app/QuarrinApp.h"

#include "app/Launch.h"
#include "app/StartupConfig.h"
#include "app/TouchCalibrationBackup.h"
#include "plan/SourceSearch.h"
#include "plan/UpdatePlan.h"
#include "plan/UpdateRecord.h"

namespace {

const wchar_t* ConfigurationLine() {
    if (g_mcuComPort == 2) {
        return g_calibrationEnabled ? L"MCU-COM2-EnableCalitration\r\n"
                                    : L"MCU-COM2-DisableCalitration\r\n";
    }
    return g_calibrationEnabled ? L"MCU-COM1-EnableCalitration\r\n"
                                : L"MCU-COM1-DisableCalitration\r\n";
}

void ShowTaskBar(int command) {
    HWND taskBar = FindWindowW(L"HHTaskBar", L"");
    if (taskBar != nullptr)
        ShowWindow(taskBar, command);
}

}  // namespace

bool BackupPackageOpens() {
    HANDLE backup = CreateFileW(BACKUP_PACKAGE_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (backup == INVALID_HANDLE_VALUE || backup == nullptr)
        return false;
    CloseHandle(backup);
    return true;
}

bool ProgramLooksStartable() {
    // A search for the one name gives its attributes and size in one query.
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(MAIN_APPLICATION_PATH, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return !folder && (found.nFileSizeHigh != 0 || found.nFileSizeLow != 0);
}

int CheckSystemFiles() {
    // With the program in place (the usual boot) the check costs one query; without a backup
    // there is nothing to restore from, and the launch reports what it finds.
    if (ProgramLooksStartable())
        return 0;
    return BackupPackageOpens() ? 1 : 0;
}

DWORD ModeWithoutRecord(bool programPresent) {
    if (programPresent || BackupPackageOpens())
        return 0;
    return UPDATE_APP | UPDATE_MCU | UPDATE_MPEG;
}

BOOL CQuarrinApp::InitInstance() {
    SetRegistryKey(L"Local AppWizard-Generated Applications");
    g_mcuComPort = 2;
    g_mpegComPort = 3;
    g_calibrationEnabled = false;
    NKDbgPrintfW(L"Quarrin 2.0.0.24(50 times timeout) starting......\r\n");
    NKDbgPrintfW(L"%s", ConfigurationLine());
    g_systemFilesDamaged = false;

    UpdateRequest request = ReadAndClearUpdateRequest();
    DWORD mode = request.word;
    bool calibrationAllowed = true;
    if (!request.opened) {
        bool programPresent = GetFileAttributesW(MAIN_APPLICATION_PATH) != INVALID_FILE_ATTRIBUTES;
        NKDbgPrintfW(programPresent ? L"ZEL Exist!\r\n" : L"ZEL Not Exist!\r\n");
        calibrationAllowed = programPresent;
        mode = ModeWithoutRecord(programPresent);
    }
    if (calibrationAllowed && g_calibrationEnabled) {
        BackupTouchCalibration();
    }

    if (mode == 0) {
        DWORD start = GetTickCount();
        int damaged = CheckSystemFiles();
        wchar_t line[64];
        if (damaged == 0) {
            wsprintfW(line, L"Detect SystemFile Well:%dms\r\n", GetTickCount() - start);
            NKDbgPrintfW(L"%s", line);
            LaunchMainApplication();
            NKDbgPrintfW(L"Quarrin quit!\r\n");
            return FALSE;
        }
        wsprintfW(line, L"Detect SystemFile Damaged:%dms\r\n", GetTickCount() - start);
        NKDbgPrintfW(L"%s", line);
        g_systemFilesDamaged = true;
        mode = UPDATE_APP;
    }

    ShowTaskBar(SW_HIDE);
    if (mode & UPDATE_APP) {
        for (const wchar_t* path : USER_FILES)
            DeleteFileW(path);
    }
    RunUpdateCourse(*this, mode);
    ShowTaskBar(SW_SHOW);
    LaunchMainApplication();
    NKDbgPrintfW(L"Quarrin Quit!\r\n");
    return FALSE;
}
