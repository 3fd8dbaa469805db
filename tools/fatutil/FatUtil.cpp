// fatutil.dll: the FAT utility library of the device, for volumes kept in a host folder.
//
// Formatting such a volume leaves its folder empty. The library reaches the folder through
// the executable that loads it: QuarrinPartitionHostFolder gives the folder of a dismounted
// partition, and SetLastError reports a failure to the caller. Nothing else of the
// executable is used.
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/api/ThreadApi.h"
#include "platform/storage/PartitionExports.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kFormatFailed = 1;
constexpr std::size_t kFolderCapacity = 4096;

DWORD Win32ErrorOf(const std::error_code& error) {
    switch (error.value()) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EBUSY:
            return ERROR_BUSY;
        case ENOENT:
            return ERROR_PATH_NOT_FOUND;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// Removes every entry of the folder, the folder itself stays: it is the volume.
std::error_code EmptyFolder(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        fs::remove_all(it->path(), error);
        if (error)
            break;
    }
    return error;
}

}  // namespace

// The disk information, format options and the two callbacks are accepted for the device's
// signature; a folder-backed volume has nothing to choose, so they are not used.
extern "C" __attribute__((visibility("default"))) DWORD FormatVolume(HANDLE partition,
                                                                     void* /*diskInfo*/,
                                                                     void* /*formatOptions*/,
                                                                     void* /*progress*/,
                                                                     void* /*message*/) {
    char folder[kFolderCapacity];
    if (QuarrinPartitionHostFolder(partition, folder, sizeof folder) == 0) {
        return kFormatFailed;  // the executable has set the last error
    }
    if (std::error_code error = EmptyFolder(folder)) {
        SetLastError(Win32ErrorOf(error));
        return kFormatFailed;
    }
    return 0;
}
