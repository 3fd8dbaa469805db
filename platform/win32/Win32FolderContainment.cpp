// IsPathWithinFolderW of the Windows build: entries are compared by volume serial number and
// file index, and the folders that hold an entry are those of its final path (junctions and
// links resolved), so two names of one folder are seen to be one.
#include <string>

#include "platform/win32/WindowsApi.h"

namespace {

struct Identity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD attributes = 0;
};

bool Same(const Identity& a, const Identity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// Opens an entry for its identity only; a folder opens with backup semantics.
HANDLE OpenForIdentity(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The identity of the entry at `path`, and its final path when `finalPath` is given.
bool Examine(const std::wstring& path, Identity& identity, std::wstring* finalPath) {
    HANDLE file = OpenForIdentity(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool known = GetFileInformationByHandle(file, &info) != FALSE;
    if (known) {
        identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                    info.dwFileAttributes};
    }
    if (known && finalPath != nullptr) {
        // The first call gives the size with the terminator, the second the length without.
        DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
        finalPath->assign(size, L'\0');
        DWORD length = size == 0 ? 0
                                 : GetFinalPathNameByHandleW(file, finalPath->data(), size,
                                                             FILE_NAME_NORMALIZED);
        known = length > 0 && length < size;
        finalPath->resize(known ? length : 0);
    }
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return known;
}

// The folder that holds `path` ("\\?\C:\a" for "\\?\C:\a\b", "\\?\C:\" for "\\?\C:\a"), or
// empty at the volume's root.
std::wstring Parent(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == path.size())
        return L"";
    std::wstring parent = path.substr(0, slash);
    if (!parent.empty() && parent.back() == L':')
        parent += L'\\';
    return parent;
}

}  // namespace

BOOL IsPathWithinFolderW(LPCWSTR path, LPCWSTR folder, PBOOL within) {
    if (path == nullptr || folder == nullptr || within == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Identity outer, inner;
    std::wstring at;
    if (!Examine(folder, outer, nullptr) || !Examine(path, inner, &at))
        return FALSE;
    if ((outer.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    *within = FALSE;
    while (!Same(inner, outer)) {
        at = Parent(at);
        // Above the volume's root, or a folder on the way that cannot be opened: the walk ends.
        if (at.empty() || !Examine(at, inner, nullptr)) {
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
    }
    *within = TRUE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
