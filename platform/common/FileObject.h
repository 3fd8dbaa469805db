// An open file of the device file system: reads and writes on the host file, with the
// access it was opened for, its sharing recorded in the file system's share table, and every
// write passing the file system's hook.
#pragma once

#include <string>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ShareTable.h"
#include "platform/kernel/IoObject.h"

namespace quarrin::platform {

class FileObject : public kernel::IoObject {
public:
    FileObject(DeviceFileSystem& files, int fd, ShareTable::FileKey key, DWORD access, DWORD share,
               std::wstring devicePath);
    ~FileObject() override;
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    BOOL Read(void* buffer, DWORD count, DWORD* done) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* done) override;
    // Moves the file pointer; returns false with the last error set on failure.
    bool Seek(LONGLONG distance, DWORD method, LONGLONG& position);
    bool Size(ULONGLONG& size);
    BOOL SetEnd();
    BOOL Flush();

private:
    DeviceFileSystem& m_files;
    int m_fd;
    ShareTable::FileKey m_key;
    ShareTable::OpenRecord m_record;
    std::wstring m_devicePath;
};

}  // namespace quarrin::platform
