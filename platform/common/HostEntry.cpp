#include "platform/common/HostEntry.h"

#include <fcntl.h>
#include <unistd.h>

namespace quarrin::platform {

DWORD AttributesOf(const struct stat& info) {
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnly(info))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

std::vector<std::wstring> SplitDevicePath(std::wstring_view path) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'\\' || c == L'/') {
            if (!current.empty())
                parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        parts.push_back(std::move(current));
    return parts;
}

// Opens a folder for listing. A quiet listing leaves the folder's access time alone where the
// host allows it (the folder's owner, or a privileged process).
DIR* OpenFolderListing(const std::string& folder, bool quiet) {
    if (quiet) {
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOATIME);
        if (fd >= 0) {
            DIR* dir = fdopendir(fd);
            if (dir == nullptr)
                close(fd);
            return dir;
        }
    }
    return opendir(folder.c_str());
}

}  // namespace quarrin::platform
