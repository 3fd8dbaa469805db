#include "workers/NaviUpdateThread.h"

#include <memory>
#include <string>

#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "plan/StorageFormat.h"
#include "plan/UpdateRecord.h"
#include "workers/TreeOperations.h"

namespace {

constexpr DWORD NAVI_PLACEHOLDER_CHUNK = 1048576;
constexpr DWORD NAVI_NANDINFO_CHUNK = 65536;

// Files the unit expects on the card, laid down zero-filled before the copy; files of the
// navigation folder with the same names replace them.
struct Placeholder {
    const wchar_t* path;
    DWORD chunkSize;
    int chunks;
};
constexpr Placeholder NAVI_PLACEHOLDERS[] = {
    {L"Storage Card\\logo.bmp", NAVI_PLACEHOLDER_CHUNK, 2},
    {L"Storage Card\\NANDINFO", NAVI_NANDINFO_CHUNK, 1},
    {L"Storage Card\\PQ.bin", NAVI_PLACEHOLDER_CHUNK, 2},
    {L"Storage Card\\xip.bin", NAVI_PLACEHOLDER_CHUNK, 40},
    {L"Storage Card\\EROM_RTK.bin", NAVI_PLACEHOLDER_CHUNK, 2},
};

HANDLE CreateCardFile(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Failures here are not examined: the copy that follows goes on regardless.
void WritePlaceholder(const Placeholder& placeholder, const BYTE* zeros) {
    HANDLE file = CreateCardFile(placeholder.path);
    if (file == INVALID_HANDLE_VALUE)
        return;
    for (int chunk = 0; chunk < placeholder.chunks; ++chunk) {
        DWORD written = 0;
        WriteFile(file, zeros, placeholder.chunkSize, &written, nullptr);
    }
    CloseHandle(file);
}

void PostFailure(HWND window, int code) {
    g_updateErrorCode = code;
    PostMessageW(window, WM_UPDATE_PROGRESS, 0, 0);
}

void CopyNavigationFolder(HWND window, const std::wstring& source) {
    bool copied = CopyTree(window, source, NAVI_DESTINATION);
    // The request armed before the card was emptied is withdrawn whatever the copy gave (a
    // failed update is not repeated), and before the final post, after which the loader
    // may end at any moment.
    DisarmNavigationRetry();
    if (!copied) {
        PostFailure(window, NAVI_ERROR_COPY_FAILED);
    } else if (g_copiedFileCount != g_totalFileCount) {
        PostFailure(window, NAVI_ERROR_COUNT_MISMATCH);
    } else {
        PostMessageW(window, WM_UPDATE_PROGRESS, 1, PROGRESS_DONE);
    }
}

}  // namespace

int CountNavigationFiles(const std::wstring& source) {
    CollectDirectoryTree(source);
    int total = 0;
    for (const std::wstring& folder : g_directoryList)
        total += ScanFiles(folder, true);
    g_directoryList.clear();
    return total;
}

ULONGLONG PlaceholderBytes() {
    ULONGLONG bytes = 0;
    for (const Placeholder& placeholder : NAVI_PLACEHOLDERS)
        bytes += static_cast<ULONGLONG>(placeholder.chunkSize) * placeholder.chunks;
    return bytes;
}

void LayDownPlaceholders() {
    HANDLE marker = CreateCardFile(L"Storage Card\\UPDOS");
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    auto zeros = std::make_unique<BYTE[]>(NAVI_PLACEHOLDER_CHUNK);  // value-initialised: zero
    for (const Placeholder& placeholder : NAVI_PLACEHOLDERS) {
        WritePlaceholder(placeholder, zeros.get());
    }
}

DWORD NaviUpdateThread(LPVOID dialog) {
    DWORD start = GetTickCount();
    HWND window = static_cast<CUpdateDialog*>(dialog)->m_hWnd;
    std::wstring source = g_naviSourceDir;
    Sleep(200);

    g_totalFileCount = CountNavigationFiles(source);
    NKDbgPrintfW(L"Total File Count:%d\r\n", g_totalFileCount);
    g_copiedFileCount = 0;
    if (g_totalFileCount == 0) {
        PostFailure(window, NAVI_ERROR_NO_FILES);
        return 0;
    }

    Sleep(100);
    // From here on the card's old content goes: a power cut before the copy has returned
    // finds the request again at the next start, which repeats the update.
    ArmNavigationRetry();
    DeleteTree(NAVI_DESTINATION);
    FormatStorageCard();
    LayDownPlaceholders();

    PostMessageW(window, WM_UPDATE_PROGRESS, 1, 1);
    Sleep(300);
    CopyNavigationFolder(window, source);
    NKDbgPrintfW(L"Total Time:%d ms\r\n", static_cast<int>(GetTickCount() - start));
    return 0;
}
