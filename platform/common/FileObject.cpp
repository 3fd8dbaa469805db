#include "platform/common/FileObject.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/common/ErrnoMap.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

using kernel::SetLastErrorValue;

FileObject::FileObject(DeviceFileSystem& files, int fd, ShareTable::FileKey key, DWORD access,
                       DWORD share, std::wstring devicePath)
    : m_files(files),
      m_fd(fd),
      m_key(key),
      m_record{access, share},
      m_devicePath(std::move(devicePath)) {
    m_files.Shares().Add(m_key, &m_record);
}

FileObject::~FileObject() {
    m_files.Shares().Remove(m_key, &m_record);
    close(m_fd);
}

BOOL FileObject::Read(void* buffer, DWORD count, DWORD* done) {
    if (done != nullptr)
        *done = 0;
    if (!(m_record.access & GENERIC_READ))
        return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < count) {
        ssize_t n = read(m_fd, static_cast<char*>(buffer) + total, count - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(Win32ErrorFromErrno(errno));
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (done != nullptr)
        *done = total;
    return TRUE;
}

BOOL FileObject::Write(const void* buffer, DWORD count, DWORD* done) {
    if (done != nullptr)
        *done = 0;
    if (!(m_record.access & GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    HookDecision decision = m_files.RunTransferHook(FileOp::Write, m_devicePath, count);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    DWORD want = count;
    if (decision.tornBytes)
        want = static_cast<DWORD>(std::min<std::size_t>(count, *decision.tornBytes));
    DWORD total = 0;
    while (total < want) {
        ssize_t n = write(m_fd, static_cast<const char*>(buffer) + total, want - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done != nullptr)
                *done = total;
            return Fail(Win32ErrorFromErrno(errno));
        }
        total += static_cast<DWORD>(n);
    }
    if (decision.tornBytes && m_files.Hook() != nullptr) {
        fsync(m_fd);
        m_files.Hook()->AfterTornWrite();
    }
    if (done != nullptr)
        *done = total;
    return TRUE;
}

bool FileObject::Seek(LONGLONG distance, DWORD method, LONGLONG& position) {
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return false;
    }
    off_t base = whence == SEEK_SET ? 0 : lseek(m_fd, 0, whence);
    if (base + distance < 0) {
        SetLastErrorValue(ERROR_NEGATIVE_SEEK);
        return false;
    }
    off_t result = lseek(m_fd, static_cast<off_t>(base + distance), SEEK_SET);
    if (result < 0) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        return false;
    }
    position = result;
    return true;
}

bool FileObject::Size(ULONGLONG& size) {
    struct stat info {};
    if (fstat(m_fd, &info) != 0) {
        SetLastErrorValue(Win32ErrorFromErrno(errno));
        return false;
    }
    size = static_cast<ULONGLONG>(info.st_size);
    return true;
}

BOOL FileObject::SetEnd() {
    if (!(m_record.access & GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    HookDecision decision = m_files.RunHook(FileOp::SetEndOfFile, m_devicePath);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    off_t position = lseek(m_fd, 0, SEEK_CUR);
    if (position < 0 || ftruncate(m_fd, position) != 0)
        return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
}

BOOL FileObject::Flush() {
    if (fsync(m_fd) != 0)
        return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
}

}  // namespace quarrin::platform
