#include "workers/NaviUpdateThread.h"

#include <memory>
#include <string>
#include <string_view>

#include "contract/UpdateContract.h"
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

// What the deletion and the format left on the card: nothing, or the entries named in the log,
// which would stay beside the navigation data (a folder that cannot be listed or removed,
// without a formatter one whose name begins with a dot).
bool CardIsEmpty() {
    std::wstring pattern = std::wstring(NAVI_DESTINATION) + L"\\*.*";
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        NKDbgPrintfW(L"FindFirstFile %s Failed!Error Code:%d\r\n", NAVI_DESTINATION,
                     static_cast<int>(error));
        return false;
    }
    std::wstring first;
    int left = 0;
    do {
        // Windows lists a folder's "." and ".." too; the device does not.
        std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (left++ == 0)
            first = name;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    if (left == 0)
        return true;
    NKDbgPrintfW(L"%s not emptied: %d entries left, first %s\r\n", NAVI_DESTINATION, left,
                 first.c_str());
    return false;
}

// Empties and formats the card; true when nothing of its old content is left.
bool EmptyCard() {
    DeleteTree(NAVI_DESTINATION);
    FormatStorageCard();
    return CardIsEmpty();
}

// `cardEmptied`: nothing of the card's old content was left before the copy;
// `countMissedFolders`: the count met a folder of the source that it could not list.
void CopyNavigationFolder(HWND window, const std::wstring& source, bool cardEmptied,
                          bool countMissedFolders) {
    std::size_t unlistedBefore = g_unlistedFolders.size();
    bool copied = CopyTree(window, source, NAVI_DESTINATION);
    bool missedFolders = countMissedFolders || g_unlistedFolders.size() > unlistedBefore;
    // The request armed before the card was emptied is withdrawn whatever the copy gave (a
    // failed update is not repeated), and before the final post, after which the loader
    // may end at any moment.
    DisarmNavigationRetry();
    if (!copied) {
        PostFailure(window, NAVI_ERROR_COPY_FAILED);
    } else if (g_copiedFileCount != g_totalFileCount || missedFolders || !cardEmptied) {
        PostFailure(window, NAVI_ERROR_COUNT_MISMATCH);
    } else {
        PostMessageW(window, WM_UPDATE_PROGRESS, 1, PROGRESS_DONE);
    }
}

// Whether `inner` is the folder `outer` or lies below it; fails (with the last error) when
// that cannot be told.
bool Overlap(const std::wstring& inner, const std::wstring& outer, bool& overlap) {
    BOOL within = FALSE;
    if (!IsPathWithinFolderW(inner.c_str(), outer.c_str(), &within))
        return false;
    overlap = within != FALSE;
    return true;
}

}  // namespace

int CheckNavigationDestination(const std::wstring& source) {
    DWORD attributes = GetFileAttributesW(NAVI_DESTINATION);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        NKDbgPrintfW(L"No card in %s!Error Code:%d\r\n", NAVI_DESTINATION, static_cast<int>(error));
        return NAVI_ERROR_NO_CARD;
    }
    bool sourceOnCard = false, cardInSource = false;
    if (!Overlap(source, NAVI_DESTINATION, sourceOnCard) ||
        (!sourceOnCard && !Overlap(NAVI_DESTINATION, source, cardInSource))) {
        NKDbgPrintfW(L"IsPathWithinFolder %s Failed!Error Code:%d\r\n", source.c_str(),
                     static_cast<int>(GetLastError()));
        return NAVI_ERROR_SOURCE_ON_CARD;
    }
    if (sourceOnCard || cardInSource) {
        NKDbgPrintfW(sourceOnCard ? L"Navigation source %s lies on %s\r\n"
                                  : L"Navigation source %s holds %s\r\n",
                     source.c_str(), NAVI_DESTINATION);
        return NAVI_ERROR_SOURCE_ON_CARD;
    }
    return 0;
}

bool NavigationFailureSparesCard(int code) {
    return code == NAVI_ERROR_NO_FILES || code == NAVI_ERROR_NO_CARD ||
           code == NAVI_ERROR_SOURCE_ON_CARD;
}

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
    HWND window = DialogWindowOf(dialog);
    std::wstring source = g_naviSourceDir;
    Sleep(200);

    g_unlistedFolders.clear();
    g_totalFileCount = CountNavigationFiles(source);
    NKDbgPrintfW(L"Total File Count:%d\r\n", g_totalFileCount);
    g_copiedFileCount = 0;
    bool countMissedFolders = !g_unlistedFolders.empty();
    if (g_totalFileCount == 0) {
        PostFailure(window, NAVI_ERROR_NO_FILES);
        return 0;
    }
    if (int refused = CheckNavigationDestination(source)) {
        PostFailure(window, refused);
        return 0;
    }

    Sleep(100);
    // From here on the card's old content goes: a power cut before the copy has returned
    // finds the request again at the next start, which repeats the update.
    ArmNavigationRetry();
    bool cardEmptied = EmptyCard();
    LayDownPlaceholders();

    PostMessageW(window, WM_UPDATE_PROGRESS, 1, 1);
    Sleep(300);
    CopyNavigationFolder(window, source, cardEmptied, countMissedFolders);
    NKDbgPrintfW(L"Total Time:%d ms\r\n", static_cast<int>(GetTickCount() - start));
    return 0;
}
