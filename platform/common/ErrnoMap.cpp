#include "platform/common/ErrnoMap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarrin::platform {

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EBUSY:
        case ETXTBSY:
            return ERROR_BUSY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOEXEC:
            return ERROR_BAD_EXE_FORMAT;
        case EIO:
            return ERROR_GEN_FAILURE;
        case EXDEV:
            return 17;  // ERROR_NOT_SAME_DEVICE
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case EAGAIN:
            return ERROR_IO_PENDING;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        default:
            // NOTE: an errno without a counterpart must never look like success.
            std::fprintf(stderr, "quarrin: unmapped host error %d (%s)\n", error,
                         std::strerror(error));
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace quarrin::platform
