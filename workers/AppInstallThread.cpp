#include "workers/AppInstallThread.h"

#include <climits>
#include <string>

#include "contract/UpdateContract.h"
#include "plan/SourceRoots.h"
#include "plan/SourceSearch.h"
#include "plan/TouchKeyImport.h"
#include "plan/UpdatePlan.h"
#include "plan/UpdateRecord.h"
#include "workers/TreeOperations.h"

namespace {

const wchar_t kLibraryName[] = L"zCompress.dll";

using SetNotifyWndProc = int (*)(HWND, UINT);
using UncompressProc = int (*)(LPCWSTR, LPCWSTR);

void PostProgress(HWND window, WPARAM wParam, LPARAM lParam) {
    PostMessageW(window, WM_UPDATE_PROGRESS, wParam, lParam);
}

// The error is stored before the post that makes the dialog read it.
void ReportFailure(HWND window, int errorCode) {
    g_updateErrorCode = errorCode;
    PostProgress(window, 0, 0);
    WriteUpdateRecord();
}

// Installed in the system folder, or else at the root of the update medium.
HMODULE LoadDecompressionLibrary() {
    std::vector<std::wstring> places = DecompressionLibraryPlaces();
    HMODULE library = LoadLibraryW(places[0].c_str());
    if (library != nullptr)
        return library;
    wchar_t line[128];
    wsprintfW(line, L"LoadLibrary Windows zCompress.dll Failed! %d\r\n",
              static_cast<int>(GetLastError()));
    NKDbgPrintfW(L"%s", line);
    library = LoadLibraryW(places[1].c_str());
    if (library == nullptr)
        NKDbgPrintfW(L"LoadLibrary zCompress.dll Failed!\r\n");
    return library;
}

DWORD WholeMebibytes(ULONGLONG bytes) {
    return static_cast<DWORD>(static_cast<double>(bytes) * (1.0 / 1048576.0));
}

void DeleteBackupFile(LPCWSTR path) {
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

// The copy goes under another name and is renamed once whole: a power cut or a full volume
// during the copy then leaves no backup at all, never a partial package that a restore would
// take for the backup.
void CopyBackupPackage(const std::wstring& package) {
    if (CopyFileW(package.c_str(), BACKUP_PACKAGE_PARTIAL, FALSE) &&
        MoveFileW(BACKUP_PACKAGE_PARTIAL, BACKUP_PACKAGE_PATH))
        return;
    DeleteBackupFile(BACKUP_PACKAGE_PARTIAL);
}

// Replaces the backup package with the one just installed, when it fits with 2 MiB to spare.
// A failed free-space query counts as no free space, so no backup is attempted then.
void RefreshBackupPackage(HWND window, const std::wstring& package) {
    DeleteBackupFile(BACKUP_PACKAGE_PATH);
    DeleteBackupFile(BACKUP_PACKAGE_PARTIAL);  // what a cut during an earlier copy left
    ULARGE_INTEGER freeBytes{};
    if (!GetDiskFreeSpaceExW(BACKUP_VOLUME, &freeBytes, nullptr, nullptr))
        freeBytes.QuadPart = 0;
    HANDLE file = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    ULONGLONG packageBytes = static_cast<ULONGLONG>(high) << 32 | low;
    DWORD freeMiB = WholeMebibytes(freeBytes.QuadPart);
    DWORD packageMiB = WholeMebibytes(packageBytes);
    wchar_t line[64];
    wsprintfW(line, L"SpaceInfo:%d,%d\r\n", static_cast<int>(freeMiB),
              static_cast<int>(packageMiB));
    NKDbgPrintfW(L"%s", line);
    if (BackupFits(freeBytes.QuadPart, packageBytes)) {
        PostProgress(window, 1, PROGRESS_BACKUP);
        CopyBackupPackage(package);
    }
}

// Runs the library on the package; returns false when the unpack failed (already reported).
bool UnpackPackage(HWND window, SetNotifyWndProc setNotifyWnd, UncompressProc uncompress) {
    setNotifyWnd(window, WM_UPDATE_PROGRESS);
    std::wstring package = PackagePath();
    int result = uncompress(package.c_str(), APP_DESTINATION);
    if (result < 0) {
        // The library changes nothing installed until the package is complete, so the
        // application that was there stays, whole and startable.
        ReportFailure(window, UnpackErrorCode(result));
        return false;
    }
    if (!g_systemFilesDamaged)
        RefreshBackupPackage(window, package);
    PostProgress(window, 1, 100);
    Sleep(500);
    PostProgress(window, 1, PROGRESS_DONE);
    return true;
}

}  // namespace

std::vector<std::wstring> DecompressionLibraryPlaces() {
    return {kLibraryName, g_appSourceRoot + kLibraryName};
}

std::wstring PackagePath() {
    return g_systemFilesDamaged ? std::wstring(BACKUP_PACKAGE_PATH)
                                : g_appSourceRoot + APP_PACKAGE_FILE;
}

// A result so negative that the code would not fit a 32-bit integer gives the largest code
// instead of overflowing.
int UnpackErrorCode(int result) {
    long long code = APP_ERROR_UNPACK_BASE - static_cast<long long>(result);
    return code > INT_MAX ? INT_MAX : static_cast<int>(code);
}

bool BackupFits(ULONGLONG freeBytes, ULONGLONG packageBytes) {
    if (packageBytes > 0xFFFFFFFFULL)
        return false;
    return WholeMebibytes(freeBytes) > WholeMebibytes(packageBytes) + 2;
}

DWORD AppInstallThread(LPVOID dialog) {
    HWND window = DialogWindowOf(dialog);
    g_updateErrorCode = 0;
    ArmApplicationRetry();

    bool leftoversGone = DeleteTree(APP_TEMPORARY_FOLDER);
    Sleep(800);
    if (!leftoversGone) {
        ReportFailure(window, APP_ERROR_TEMP_FOLDER);
        return 0;
    }
    if (!DeleteTree(APP_PREVIOUS_FOLDER)) {
        ReportFailure(window, APP_ERROR_PREVIOUS_FOLDER);
        return 0;
    }
    PostProgress(window, 1, 0);
    // The installed application stays until the library has the new one complete and
    // replaces it whole (a failing package thus leaves it startable); the two pauses that
    // framed its deletion stay, so the screen keeps its pace.
    Sleep(400);

    HMODULE library = LoadDecompressionLibrary();
    if (library == nullptr) {
        ReportFailure(window, APP_ERROR_LIBRARY);
        return 0;
    }
    NKDbgPrintfW(L"LoadLibrary zCompress.dll OK!\r\n");
    auto setNotifyWnd =
        reinterpret_cast<SetNotifyWndProc>(GetProcAddressW(library, L"zCompressSetNotifyWnd"));
    auto uncompress = reinterpret_cast<UncompressProc>(GetProcAddressW(library, L"zUncompress"));
    if (setNotifyWnd == nullptr || uncompress == nullptr) {
        NKDbgPrintfW(L"GetProcAddress Failed!\r\n");
        FreeLibrary(library);
        ReportFailure(window, APP_ERROR_EXPORTS);
        return 0;
    }
    UnpackPackage(window, setNotifyWnd, uncompress);
    FreeLibrary(library);
    ImportTouchKeyCalibration();
    if (g_updateErrorCode == 0)
        ResetUpdateRecord();
    return 0;
}
