// Folder handles of the Windows build: a directory opened with backup semantics, closed by
// CloseHandle. The calls on its entries join the folder's final path and the entry's name and
// hand over to the path-based calls, so the rules are Windows' own; listings hold "." and ".."
// as FindFirstFileW's do.
#include <string>

#include "platform/win32/WindowsApi.h"

namespace {

// The folder's path as Windows resolves it ("\\?\Q:\Storage Card\dest"), or empty.
std::wstring FolderPath(HANDLE folder) {
    DWORD size = GetFinalPathNameByHandleW(folder, nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0)
        return {};
    std::wstring path(size, L'\0');
    DWORD length = GetFinalPathNameByHandleW(folder, path.data(), size, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= size)
        return {};
    path.resize(length);
    return path;
}

// The path of the entry `name` of the folder; empty, with the last error set, when the
// handle is no folder.
std::wstring EntryPath(HANDLE folder, LPCWSTR name) {
    std::wstring path = name != nullptr ? FolderPath(folder) : std::wstring();
    if (path.empty()) {
        SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return {};
    }
    return path + L"\\" + name;
}

}  // namespace

HANDLE OpenFolderW(LPCWSTR folderName) {
    DWORD attributes = GetFileAttributesW(folderName);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE folder = CreateFileW(folderName, FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        SetLastError(ERROR_PATH_NOT_FOUND);
    return folder;
}

HANDLE FindFirstFileInFolderW(HANDLE folder, LPWIN32_FIND_DATAW findData) {
    std::wstring pattern = EntryPath(folder, L"*");
    return pattern.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), findData);
}

BOOL DeleteFileInFolderW(HANDLE folder, LPCWSTR fileName, DWORD flags) {
    std::wstring path = EntryPath(folder, fileName);
    if (path.empty())
        return FALSE;
    if (DeleteFileW(path.c_str()))
        return TRUE;
    if (!(flags & DELETE_IN_FOLDER_READ_ONLY) || GetLastError() != ERROR_ACCESS_DENIED)
        return FALSE;
    // A read-only file goes once its attributes are reset.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str());
}

BOOL CopyFileInFolderW(HANDLE sourceFolder, LPCWSTR fileName, HANDLE targetFolder,
                       BOOL failIfExists) {
    std::wstring from = EntryPath(sourceFolder, fileName);
    std::wstring to = from.empty() ? std::wstring() : EntryPath(targetFolder, fileName);
    if (to.empty())
        return FALSE;
    return CopyFileW(from.c_str(), to.c_str(), failIfExists);
}
