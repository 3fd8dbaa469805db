// fatutil.dll of the Windows build: the FAT utility library of the device, for volumes kept
// in a folder.
//
// Formatting such a volume leaves its folder empty. The library finds the folder through
// the program that loaded it: the main module exports QuarrinPartitionHostFolder, which
// gives the folder of a dismounted partition; it is looked up at run time, so the library
// needs nothing else of the program and fails cleanly in one that lacks it.
#include <string>

#include "platform/storage/PartitionExports.h"

namespace {

constexpr DWORD kFormatFailed = 1;
constexpr std::size_t kFolderCapacity = 4096;

std::wstring WideFromUtf8(const char* text) {
    int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (count <= 1)
        return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), count);
    wide.resize(static_cast<std::size_t>(count - 1));
    return wide;
}

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Removes one entry whatever its attributes: a format does not ask read-only files.
DWORD RemoveEntry(const std::wstring& path, DWORD attributes, bool folder) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    BOOL removed = folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    return removed ? ERROR_SUCCESS : GetLastError();
}

// Removes every entry below the folder; the folder itself stays. A link to a folder is
// removed as a link, never followed. Returns the first error.
DWORD EmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    DWORD error = ERROR_SUCCESS;
    do {
        if (IsDotEntry(entry.cFileName))
            continue;
        std::wstring path = folder + L"\\" + entry.cFileName;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isFolder && !isLink)
            error = EmptyFolder(path);
        if (error == ERROR_SUCCESS)
            error = RemoveEntry(path, entry.dwFileAttributes, isFolder);
    } while (error == ERROR_SUCCESS && FindNextFileW(search, &entry));
    if (error == ERROR_SUCCESS && GetLastError() != ERROR_NO_MORE_FILES)
        error = GetLastError();
    FindClose(search);
    return error;
}

using PartitionHostFolderProc = decltype(&QuarrinPartitionHostFolder);

PartitionHostFolderProc FindPartitionHostFolder() {
    // Through void (*)(), which converts to any function pointer type without a warning.
    auto proc = reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(nullptr), QUARRIN_PARTITION_HOST_FOLDER));
    return reinterpret_cast<PartitionHostFolderProc>(proc);
}

}  // namespace

// The disk information, format options and the two callbacks are accepted for the device's
// signature; a folder-backed volume has nothing to choose, so they are not used.
extern "C" __declspec(dllexport) DWORD
    FormatVolume(HANDLE partition, void* /*diskInfo*/, void* /*formatOptions*/, void* /*progress*/,
                 void* /*message*/) {
    PartitionHostFolderProc hostFolder = FindPartitionHostFolder();
    if (hostFolder == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);  // loaded by a program without folder volumes
        return kFormatFailed;
    }
    char folder[kFolderCapacity];
    if (hostFolder(partition, folder, sizeof folder) == 0)
        return kFormatFailed;  // the program has set the last error
    std::wstring path = WideFromUtf8(folder);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return kFormatFailed;
    }
    if (DWORD error = EmptyFolder(path)) {
        SetLastError(error);
        return kFormatFailed;
    }
    return 0;
}
