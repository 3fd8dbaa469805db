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

// An open folder (OpenFolderW): its entries are listed, copied and deleted relative to it, so
// no path of a file is resolved again. Closed when it goes out of scope, keeping the last
// error of the call before.
class FolderHandle {
public:
    explicit FolderHandle(const std::wstring& path) { Open(path); }
    ~FolderHandle() { Close(); }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    void Open(const std::wstring& path) {
        Close();
        m_handle = OpenFolderW(path.c_str());
        m_error = m_handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    // Why the folder could not be opened.
    DWORD Error() const { return m_error; }

private:
    void Close() {
        if (!IsOpen())
            return;
        DWORD error = GetLastError();
        CloseHandle(m_handle);
        SetLastError(error);
        m_handle = INVALID_HANDLE_VALUE;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_error = ERROR_SUCCESS;
};

// Calls `visit` with every entry of the open folder (name and folder attribute only) until
// it returns false. False, with the last error, when the folder cannot be listed or is
// empty (ERROR_FILE_NOT_FOUND).
template <typename Visit>
bool ForEachEntry(const FolderHandle& folder, Visit visit) {
    if (!folder.IsOpen()) {
        SetLastError(folder.Error());
        return false;
    }
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileInFolderW(folder.Get(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    while (visit(entry) && FindNextFileW(search, &entry)) {
    }
    FindClose(search);
    return true;
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

// Lists `folder` once: the sub-folders CollectsSubfolder accepts join `queue` and
// g_directoryList, and every file is handed to `visitFile` with the open folder. False with
// the last error when the folder cannot be listed.
template <typename VisitFile>
bool CollectFolder(const std::wstring& folder, std::deque<std::wstring>& queue,
                   VisitFile visitFile) {
    FolderHandle handle(folder);
    return ForEachEntry(handle, [&](const WIN32_FIND_DATAW& entry) {
        if (CollectsSubfolder(entry)) {
            std::wstring child = ChildPath(folder, entry);
            queue.push_back(child);
            g_directoryList.push_back(std::move(child));
        } else if (!IsFolder(entry)) {
            visitFile(handle, entry);
        }
        return true;
    });
}

// Fills g_directoryList breadth first from `root`, listing each folder once, as
// CollectDirectoryTree documents; `visitFile` sees the files of each folder as it is listed.
template <typename VisitFile>
void WalkTree(const std::wstring& root, VisitFile visitFile) {
    std::deque<std::wstring> queue{root};
    g_directoryList.clear();
    g_directoryList.push_back(root);
    bool atRoot = true;
    while (!queue.empty()) {
        std::wstring folder = std::move(queue.front());
        queue.pop_front();
        if (!CollectFolder(folder, queue, visitFile)) {
            DWORD error = GetLastError();
            if (!(atRoot && CountsAsGone(error)))
                NoteListingFailure(folder, error);
        }
        atRoot = false;
    }
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

// A destination that could not be opened fails the copy as the path-based copy would.
bool CopyInto(const FolderHandle& from, const wchar_t* name, const FolderHandle& to) {
    if (!to.IsOpen()) {
        SetLastError(to.Error());
        return false;
    }
    return CopyFileInFolderW(from.Get(), name, to.Get(), FALSE);
}

// A missing destination folder (ERROR_PATH_NOT_FOUND) is created once more and the copy
// retried once; any other failure skips the file.
CopyResult CopyOneFile(const FolderHandle& from, const wchar_t* name, FolderHandle& to,
                       const std::wstring& destination) {
    if (CopyInto(from, name, to))
        return CopyResult::Copied;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return CopyResult::Skipped;
    CreateDestination(destination);
    to.Open(destination);
    return CopyInto(from, name, to) ? CopyResult::Copied : CopyResult::Failed;
}

}  // namespace

bool CollectsSubfolder(const WIN32_FIND_DATAW& entry) {
    return IsFolder(entry) && entry.cFileName[0] != L'.';
}

bool CopiesSubfolder(const WIN32_FIND_DATAW& entry) {
    return IsFolder(entry) && !IsSelfOrParent(entry);
}

bool CollectSubdirectories(const std::wstring& folder, std::deque<std::wstring>& queue) {
    return CollectFolder(folder, queue, [](const FolderHandle&, const WIN32_FIND_DATAW&) {});
}

void CollectDirectoryTree(const std::wstring& root) {
    WalkTree(root, [](const FolderHandle&, const WIN32_FIND_DATAW&) {});
}

int ScanFiles(const std::wstring& folder, bool countOnly) {
    FolderHandle handle(folder);
    int count = 0;
    ForEachEntry(handle, [&](const WIN32_FIND_DATAW& entry) {
        if (IsFolder(entry))
            return true;
        if (countOnly) {
            ++count;
        } else {
            g_fileList.push_back(ChildPath(folder, entry));
        }
        return true;
    });
    return count;
}

bool DeleteTree(const std::wstring& root) {
    // Files go folder by folder in the order of the walk, each while its folder's one listing
    // is at hand, read-only ones included. After the first file that stays nothing more is
    // deleted, yet the walk goes on, so that every folder that cannot be listed is named.
    g_fileList.clear();
    bool result = true;
    WalkTree(root, [&result](const FolderHandle& folder, const WIN32_FIND_DATAW& entry) {
        if (result) {
            result =
                DeleteFileInFolderW(folder.Get(), entry.cFileName, DELETE_IN_FOLDER_READ_ONLY) ||
                CountsAsGone(GetLastError());
        }
    });
    if (result)
        result = RemoveCollectedDirectories();
    g_directoryList.clear();
    return result;
}

bool CopyTree(HWND notifyWindow, const std::wstring& source, const std::wstring& destination) {
    CreateDestination(destination);
    FolderHandle from(source);
    FolderHandle to(destination);
    bool result = true;
    bool listed = ForEachEntry(from, [&](const WIN32_FIND_DATAW& entry) {
        if (IsFolder(entry)) {
            // A sub-folder's failure shows only in the copied count, which the caller checks.
            if (CopiesSubfolder(entry))
                CopyTree(notifyWindow, ChildPath(source, entry), ChildPath(destination, entry));
            return true;
        }
        CopyResult copied = CopyOneFile(from, entry.cFileName, to, destination);
        if (copied == CopyResult::Failed) {
            result = false;
            return false;
        }
        if (copied == CopyResult::Copied)
            ++g_copiedFileCount;
        PostCopyProgress(notifyWindow);
        return true;
    });
    if (!listed) {
        NoteListingFailure(source, GetLastError());
        return false;
    }
    return result;
}
