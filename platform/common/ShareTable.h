// The sharing modes of the device's open files: which opens may meet which.
//
// Every open file of the device file system is recorded by its host identity (device and
// inode), so a file opened without sharing cannot be opened again under any of its names,
// and a file open without FILE_SHARE_DELETE cannot be deleted or moved.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Win32Types.h"

namespace quarrin::platform {

class ShareTable {
public:
    struct OpenRecord {
        DWORD access;
        DWORD share;
    };
    using FileKey = std::pair<dev_t, ino_t>;

    // ERROR_SHARING_VIOLATION when an open with `access` and `share` would meet an open
    // of the file that forbids it, or that it forbids.
    DWORD Check(const FileKey& key, DWORD access, DWORD share);
    // ERROR_SHARING_VIOLATION when the file is open without FILE_SHARE_DELETE.
    DWORD CheckDeletable(const FileKey& key);
    void Add(const FileKey& key, const OpenRecord* record);
    void Remove(const FileKey& key, const OpenRecord* record);
    // Whether no file is open at all: then no check needs the file's identity.
    bool Empty() const { return m_count.load(std::memory_order_acquire) == 0; }

private:
    std::mutex m_lock;
    std::map<FileKey, std::vector<const OpenRecord*>> m_opens;
    std::atomic<std::size_t> m_count{0};
};

}  // namespace quarrin::platform
