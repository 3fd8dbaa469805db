// An open folder of the device file system (OpenFolderW): the host folder held open, its
// device path as the caller gave it, and the entries its last listing found, so that the
// calls on those entries resolve no path again.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "platform/common/DeviceFileSystem.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

class FolderObject : public kernel::KernelObject {
public:
    FolderObject(int fd, std::string host, std::wstring device)
        : m_fd(fd), m_host(std::move(host)), m_device(std::move(device)) {}
    ~FolderObject() override { close(m_fd); }
    FolderObject(const FolderObject&) = delete;
    FolderObject& operator=(const FolderObject&) = delete;

    int Fd() const { return m_fd; }
    const std::string& Host() const { return m_host; }
    const std::wstring& Device() const { return m_device; }
    std::wstring DevicePathOf(std::wstring_view name) const {
        return m_device + L"\\" + std::wstring(name);
    }

    void SetListing(DeviceFileSystem::Listing listing) { m_listing = std::move(listing); }
    // The entry of the last listing named exactly `name`, or null.
    const DeviceFileSystem::FindEntry* Listed(std::wstring_view name) const {
        if (!m_listing)
            return nullptr;
        auto it = std::lower_bound(m_listing->begin(), m_listing->end(), name,
                                   [](const DeviceFileSystem::FindEntry& entry,
                                      std::wstring_view n) { return entry.name < n; });
        return it != m_listing->end() && it->name == name ? &*it : nullptr;
    }

private:
    int m_fd;
    std::string m_host;
    std::wstring m_device;
    DeviceFileSystem::Listing m_listing;
};

}  // namespace quarrin::platform
