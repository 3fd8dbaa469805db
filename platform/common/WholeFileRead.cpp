#include "platform/common/WholeFileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace quarrin::platform {

namespace {

// Whether the status is of a regular file within the limit; sets `verdict` otherwise.
bool Acceptable(const struct stat& info, std::size_t maxBytes, WholeFileRead& verdict) {
    if (!S_ISREG(info.st_mode)) {
        verdict = WholeFileRead::NotAFile;
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        verdict = WholeFileRead::TooLarge;
        return false;
    }
    return true;
}

}  // namespace

WholeFileRead ReadWholeRegularFile(const std::string& hostPath, std::size_t maxBytes,
                                   std::string& bytes) {
    bytes.clear();
    struct stat info {};
    if (stat(hostPath.c_str(), &info) != 0)
        return errno == ENOENT ? WholeFileRead::Missing : WholeFileRead::Failed;
    WholeFileRead verdict = WholeFileRead::Read;
    if (!Acceptable(info, maxBytes, verdict))
        return verdict;
    // Non-blocking, and checked again on the open file, in case a pipe took its place.
    int fd = open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? WholeFileRead::Missing : WholeFileRead::Failed;
    if (fstat(fd, &info) != 0 || !Acceptable(info, maxBytes, verdict)) {
        close(fd);
        return verdict == WholeFileRead::Read ? WholeFileRead::Failed : verdict;
    }
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        close(fd);
        errno = ENOMEM;
        return WholeFileRead::Failed;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return WholeFileRead::Failed;
        }
        if (n == 0)
            break;  // the file shrank while it was read
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    close(fd);
    return WholeFileRead::Read;
}

}  // namespace quarrin::platform
