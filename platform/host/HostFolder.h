// Host paths that the host build is given before its platform comes up (the device root).
#pragma once

#include <sys/stat.h>

#include <string>

namespace quarrin::platform {

// Whether `path` names a folder on the host (through a link, as the platform reads it).
inline bool IsHostFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace quarrin::platform
