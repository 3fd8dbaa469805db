// IsPathWithinFolderW: containment judged by the identity of host entries, so that volume
// folders linked to one place are seen to be one place.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/Platform.h"
#include "platform/api/FileApi.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

using quarrin::kernel::SetLastErrorValue;
using quarrin::platform::Fail;
using quarrin::platform::ResolvedPath;

namespace {

// ERROR_SUCCESS when `path` names an existing entry, else why it cannot be used.
DWORD ResolveExisting(LPCWSTR path, ResolvedPath& resolved) {
    resolved = quarrin::platform::CurrentServices().files->Resolve(path);
    if (resolved.error != ERROR_SUCCESS)
        return resolved.error;
    return resolved.exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

BOOL IsPathWithinFolderW(LPCWSTR path, LPCWSTR folder, PBOOL within) {
    if (path == nullptr || folder == nullptr || within == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    ResolvedPath inner, outer;
    if (DWORD error = ResolveExisting(path, inner))
        return Fail(error);
    if (DWORD error = ResolveExisting(folder, outer))
        return Fail(error);
    if (!outer.IsDirectory())
        return Fail(ERROR_DIRECTORY);
    // A resolved host path holds no link (a volume's link is replaced by its target), so the
    // folders that hold it by name are the ones that hold it on the storage. A bind mount
    // shows the identity of the folder it mounts, so it is caught as well.
    std::string at = inner.host;
    struct stat info = inner.info;
    for (;;) {
        if (SameEntry(info, outer.info)) {
            *within = TRUE;
            SetLastErrorValue(ERROR_SUCCESS);
            return TRUE;
        }
        std::size_t slash = at.rfind('/');
        if (slash == std::string::npos || at == "/")
            break;
        at = slash == 0 ? "/" : at.substr(0, slash);
        if (stat(at.c_str(), &info) != 0)
            return Fail(quarrin::platform::Win32ErrorFromErrno(errno));
    }
    *within = FALSE;
    SetLastErrorValue(ERROR_SUCCESS);
    return TRUE;
}
