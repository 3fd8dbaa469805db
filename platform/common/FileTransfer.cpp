#include "platform/common/FileTransfer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace quarrin::platform {

bool CopyContents(int from, int to, std::optional<std::size_t> limit, std::size_t expected) {
    std::size_t copied = 0;
    for (;;) {
        std::size_t chunk = 1 << 24;
        if (limit) {
            if (copied >= *limit)
                return true;
            chunk = std::min(chunk, *limit - copied);
        }
        if (copied > 0 && copied == expected)
            return true;
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, chunk, 0);
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL))
            break;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        copied += static_cast<std::size_t>(n);
    }
    // Fallback for file systems without copy_file_range.
    std::vector<char> buffer(1 << 20);
    for (;;) {
        std::size_t want = buffer.size();
        if (limit) {
            if (copied >= *limit)
                return true;
            want = std::min(want, *limit - copied);
        }
        ssize_t n = read(from, buffer.data(), want);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(to, buffer.data() + off, static_cast<std::size_t>(n - off));
            if (w < 0)
                return false;
            off += w;
        }
        copied += static_cast<std::size_t>(n);
    }
}

}  // namespace quarrin::platform
