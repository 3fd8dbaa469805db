// An open folder of the device file system (OpenFolderW): the host folder held open, its
// device path as the caller gave it, and the entries its last listing found, so that the
// calls on those entries resolve no path again.
//
// A copy into the folder asks whether a name is new in it without regard to case. The handle
// reads the folder's names once, when the first copy asks, and adds the names it copies in;
// a name another program adds meanwhile is not seen (the loader owns the device's folders
// while it runs, and a handle lives for one folder of a tree copy).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/common/DeviceFileSystem.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

class FolderObject : public kernel::KernelObject {
public:
    FolderObject(int fd, std::string host, std::wstring device, std::wstring volume)
        : m_fd(fd),
          m_host(std::move(host)),
          m_device(std::move(device)),
          m_volume(std::move(volume)) {}
    ~FolderObject() override { close(m_fd); }
    FolderObject(const FolderObject&) = delete;
    FolderObject& operator=(const FolderObject&) = delete;

    int Fd() const { return m_fd; }
    const std::string& Host() const { return m_host; }
    const std::wstring& Device() const { return m_device; }
    // The volume the folder lies on (the first name of its device path).
    const std::wstring& Volume() const { return m_volume; }
    std::wstring DevicePathOf(std::wstring_view name) const {
        return m_device + L"\\" + std::wstring(name);
    }

    void SetListing(DeviceFileSystem::Listing listing) {
        m_listing = std::move(listing);
        m_hint = 0;
    }
    bool HasListing() const { return m_listing != nullptr; }
    // The entry of the last listing named exactly `name`, or null.
    const DeviceFileSystem::FindEntry* Listed(std::wstring_view name) const {
        if (!m_listing)
            return nullptr;
        // A walk asks for the entries in the listing's order: the one after the last found.
        if (m_hint < m_listing->size() && (*m_listing)[m_hint].name == name)
            return &(*m_listing)[m_hint++];
        auto it = std::lower_bound(m_listing->begin(), m_listing->end(), name,
                                   [](const DeviceFileSystem::FindEntry& entry,
                                      std::wstring_view n) { return entry.name < n; });
        if (it == m_listing->end() || it->name != name)
            return nullptr;
        m_hint = static_cast<std::size_t>(it - m_listing->begin()) + 1;
        return &*it;
    }

    // The folded names the folder holds as far as the handle knows, or null before a copy
    // into it first asked.
    const std::unordered_set<std::wstring>* KnownNames() const {
        return m_knownNames ? &*m_knownNames : nullptr;
    }
    void SetKnownNames(std::unordered_set<std::wstring> names) { m_knownNames = std::move(names); }
    void AddKnownName(std::wstring folded) {
        if (m_knownNames)
            m_knownNames->insert(std::move(folded));
    }

private:
    int m_fd;
    std::string m_host;
    std::wstring m_device;
    std::wstring m_volume;
    DeviceFileSystem::Listing m_listing;
    mutable std::size_t m_hint = 0;  // where the next lookup looks first
    std::optional<std::unordered_set<std::wstring>> m_knownNames;
};

}  // namespace quarrin::platform
