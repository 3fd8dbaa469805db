#include "workers/TreeOperations.h"

#include <algorithm>

#include "contract/UpdateContract.h"

std::vector<std::wstring> g_directoryList;
std::vector<std::wstring> g_fileList;
int g_totalFileCount = 0;
int g_copiedFileCount = 0;
std::set<std::wstring> g_unlistedFolders;

namespace {

// Paths in log lines are shortened in the middle beyond this many characters, so that the
// line keeps its end within the debug print's buffer.
constexpr std::size_t LOGGED_PATH_LIMIT = 1000;

std::wstring SearchPattern(const std::wstring& folder) {
    return folder + L"\\*.*";
}

std::wstring ChildPath(const std::wstring& parent, const WIN32_FIND_DATAW& entry) {
    return parent + L"\\" + entry.cFileName;
}

bool IsFolder(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSelfOrParent(const WIN32_FIND_DATAW& entry) {
    std::wstring_view name(entry.cFileName);
    return name == L"." || name == L"..";
}

bool CountsAsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring LoggedPath(const std::wstring& path) {
    if (path.size() <= LOGGED_PATH_LIMIT)
        return path;
    std::size_t half = LOGGED_PATH_LIMIT / 2;
    return path.substr(0, half) + L"..." + path.substr(path.size() - half);
}

// A listing that fails with ERROR_FILE_NOT_FOUND found a folder without entries; any other
// failure leaves the folder's content unseen.
void NoteListingFailure(const std::wstring& folder, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || !g_unlistedFolders.insert(folder).second)
        return;
    NKDbgPrintfW(L"FindFirstFile %s Failed!Error Code:%d\r\n", LoggedPath(folder).c_str(),
                 static_cast<int>(error));
}

// "Storage Card", "\SDHC": a path of one name is a volume's folder.
bool IsVolumeFolder(const std::wstring& path) {
    std::size_t start = path.find_first_not_of(L"\\/");
    return start != std::wstring::npos && path.find_first_of(L"\\/", start) == std::wstring::npos;
}

void CreateDestination(const std::wstring& destination) {
    if (!IsVolumeFolder(destination))
        CreateDirectoryW(destination.c_str(), nullptr);
}

// A read-only file refuses the first deletion; it goes once its attributes are reset.
bool DeleteCollectedFile(const std::wstring& path) {
    if (DeleteFileW(path.c_str()))
        return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str()))
        return true;
    return CountsAsGone(GetLastError());
}

bool DeleteCollectedFiles() {
    for (const std::wstring& path : g_fileList) {
        if (!DeleteCollectedFile(path))
            return false;
    }
    return true;
}

// Deeper levels come later in the list, so walking it backwards empties children first.
bool RemoveCollectedDirectories() {
    for (auto it = g_directoryList.rbegin(); it != g_directoryList.rend(); ++it) {
        if (!RemoveDirectoryW(it->c_str()) && !CountsAsGone(GetLastError()))
            return false;
    }
    return true;
}

void PostCopyProgress(HWND notifyWindow) {
    // The only caller guarantees a positive total; an empty total reports no progress
    // instead of dividing by zero.
    LPARAM percent = 0;
    if (g_totalFileCount > 0) {
        percent = static_cast<LPARAM>(g_copiedFileCount * 100.0 / g_totalFileCount);
    }
    // Files in dot folders are copied but not counted, so the share can pass 100; capped, it
    // never reads as the backup state (120) or as done (8888), which only the worker posts.
    PostMessageW(notifyWindow, WM_UPDATE_PROGRESS, 1, std::min<LPARAM>(percent, 100));
}

enum class CopyResult { Copied, Skipped, Failed };

// A missing destination folder (ERROR_PATH_NOT_FOUND) is created once more and the copy
// retried once; any other failure skips the file.
CopyResult CopyOneFile(const std::wstring& from, const std::wstring& to,
                       const std::wstring& destination) {
    if (CopyFileW(from.c_str(), to.c_str(), FALSE))
        return CopyResult::Copied;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return CopyResult::Skipped;
    CreateDestination(destination);
    return CopyFileW(from.c_str(), to.c_str(), FALSE) ? CopyResult::Copied : CopyResult::Failed;
}

}  // namespace

bool CollectsSubfolder(const WIN32_FIND_DATAW& entry) {
    return IsFolder(entry) && entry.cFileName[0] != L'.';
}

bool CopiesSubfolder(const WIN32_FIND_DATAW& entry) {
    return IsFolder(entry) && !IsSelfOrParent(entry);
}

bool CollectSubdirectories(const std::wstring& folder, std::deque<std::wstring>& queue) {
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(SearchPattern(folder).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (CollectsSubfolder(entry)) {
            std::wstring child = ChildPath(folder, entry);
            queue.push_back(child);
            g_directoryList.push_back(std::move(child));
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return true;
}

void CollectDirectoryTree(const std::wstring& root) {
    std::deque<std::wstring> queue{root};
    g_directoryList.clear();
    g_directoryList.push_back(root);
    bool atRoot = true;
    while (!queue.empty()) {
        std::wstring folder = std::move(queue.front());
        queue.pop_front();
        if (!CollectSubdirectories(folder, queue)) {
            DWORD error = GetLastError();
            if (!(atRoot && CountsAsGone(error)))
                NoteListingFailure(folder, error);
        }
        atRoot = false;
    }
}

int ScanFiles(const std::wstring& folder, bool countOnly) {
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(SearchPattern(folder).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        if (IsFolder(entry))
            continue;
        if (countOnly) {
            ++count;
        } else {
            g_fileList.push_back(ChildPath(folder, entry));
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return count;
}

bool DeleteTree(const std::wstring& root) {
    CollectDirectoryTree(root);
    g_fileList.clear();
    for (const std::wstring& folder : g_directoryList)
        ScanFiles(folder, false);
    bool result = DeleteCollectedFiles();
    g_fileList.clear();
    if (result)
        result = RemoveCollectedDirectories();
    g_directoryList.clear();
    return result;
}

bool CopyTree(HWND notifyWindow, const std::wstring& source, const std::wstring& destination) {
    CreateDestination(destination);
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(SearchPattern(source).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        NoteListingFailure(source, GetLastError());
        return false;
    }
    bool result = true;
    do {
        std::wstring from = ChildPath(source, entry);
        std::wstring to = ChildPath(destination, entry);
        if (IsFolder(entry)) {
            // A sub-folder's failure shows only in the copied count, which the caller checks.
            if (CopiesSubfolder(entry))
                CopyTree(notifyWindow, from, to);
            continue;
        }
        CopyResult copied = CopyOneFile(from, to, destination);
        if (copied == CopyResult::Failed) {
            result = false;
            break;
        }
        if (copied == CopyResult::Copied)
            ++g_copiedFileCount;
        PostCopyProgress(notifyWindow);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return result;
}
