#include "platform/common/ShareTable.h"

#include <algorithm>

namespace quarrin::platform {

DWORD ShareTable::Check(const FileKey& key, DWORD access, DWORD share) {
    std::lock_guard lock(m_lock);
    auto it = m_opens.find(key);
    if (it == m_opens.end())
        return ERROR_SUCCESS;
    for (const OpenRecord* open : it->second) {
        bool readBlocked = (access & GENERIC_READ) && !(open->share & FILE_SHARE_READ);
        bool writeBlocked = (access & GENERIC_WRITE) && !(open->share & FILE_SHARE_WRITE);
        bool theirReadBlocked = (open->access & GENERIC_READ) && !(share & FILE_SHARE_READ);
        bool theirWriteBlocked = (open->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE);
        if (readBlocked || writeBlocked || theirReadBlocked || theirWriteBlocked) {
            return ERROR_SHARING_VIOLATION;
        }
    }
    return ERROR_SUCCESS;
}

DWORD ShareTable::CheckDeletable(const FileKey& key) {
    std::lock_guard lock(m_lock);
    auto it = m_opens.find(key);
    if (it == m_opens.end())
        return ERROR_SUCCESS;
    for (const OpenRecord* open : it->second) {
        if (!(open->share & FILE_SHARE_DELETE))
            return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

void ShareTable::Add(const FileKey& key, const OpenRecord* record) {
    std::lock_guard lock(m_lock);
    m_opens[key].push_back(record);
    m_count.fetch_add(1, std::memory_order_release);
}

void ShareTable::Remove(const FileKey& key, const OpenRecord* record) {
    std::lock_guard lock(m_lock);
    auto it = m_opens.find(key);
    if (it == m_opens.end())
        return;
    auto& list = it->second;
    auto kept = std::remove(list.begin(), list.end(), record);
    m_count.fetch_sub(static_cast<std::size_t>(list.end() - kept), std::memory_order_release);
    list.erase(kept, list.end());
    if (list.empty())
        m_opens.erase(it);
}

}  // namespace quarrin::platform
