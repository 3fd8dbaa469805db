// Small helpers the device file system's parts share: device path names, host paths and
// what a host entry's status means to the device.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32Types.h"

namespace quarrin::platform {

inline bool IsReadOnly(const struct stat& info) {
    return (info.st_mode & S_IWUSR) == 0;
}

// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY, otherwise FILE_ATTRIBUTE_NORMAL.
DWORD AttributesOf(const struct stat& info);

// The names of a device path, without empty ones ("\\a//b\\" gives a, b).
std::vector<std::wstring> SplitDevicePath(std::wstring_view path);

inline bool HasWildcard(std::wstring_view name) {
    return name.find_first_of(L"*?") != std::wstring_view::npos;
}

inline std::string Join(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

// Opens a folder for listing. A quiet listing leaves the folder's access time alone where the
// host allows it (the folder's owner, or a privileged process).
DIR* OpenFolderListing(const std::string& folder, bool quiet);

}  // namespace quarrin::platform
