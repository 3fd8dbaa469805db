#include "platform/common/FolderListingCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/common/DeviceEntryRules.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"

namespace quarrin::platform {

namespace {

// Enough for every folder of a navigation update; past it the cache starts afresh.
constexpr std::size_t kMaxListings = 8192;

long long Nanoseconds(const struct timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

long long CoarseNowNs() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return Nanoseconds(now);
}

// File systems stamp changes with the coarse clock: two changes this close may carry the
// same time.
long long RacyWindowNs() {
    static const long long window = [] {
        struct timespec resolution {};
        clock_getres(CLOCK_REALTIME_COARSE, &resolution);
        return 2 * Nanoseconds(resolution) + 1000000LL;
    }();
    return window;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool FolderListingCache::IsTrusted(const Listing& listing, const struct stat& folderInfo) {
    return listing.device == folderInfo.st_dev && listing.inode == folderInfo.st_ino &&
           SameTime(listing.changed, folderInfo.st_ctim) && !listing.racy;
}

bool FolderListingCache::ReadListing(const std::string& folderHost, Listing& listing) const {
    // Only a folder reached without links is read (links take the file system's full walk).
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd = -1;
    if (m_quiet.load(std::memory_order_relaxed)) {
        open_how quiet = how;
        quiet.flags |= O_NOATIME;
        fd = static_cast<int>(
            syscall(SYS_openat2, AT_FDCWD, folderHost.c_str(), &quiet, sizeof quiet));
    }
    if (fd < 0)
        fd = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, folderHost.c_str(), &how, sizeof how));
    if (fd < 0)
        return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_dev != listing.device || info.st_ino != listing.inode) {
        close(fd);
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    listing.names.clear();
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        // Names the device cannot hold are not in its listing, so no name leads to them.
        if (name == "." || name == ".." || CheckDeviceName(name) != NameProblem::None)
            continue;
        auto [it, added] = listing.names.emplace(FoldCase(Utf8ToWide(name)), name);
        if (!added) {
            // Of names that fold alike, the device's listing keeps the first in name order.
            listing.collisions = true;
            if (name < it->second)
                it->second = name;
        }
    }
    closedir(dir);
    return true;
}

FolderListingCache::Lookup FolderListingCache::Find(const std::string& folderHost,
                                                    const struct stat& folderInfo,
                                                    const std::wstring& foldedName) {
    std::lock_guard lock(m_lock);
    auto it = m_listings.find(folderHost);
    if (it == m_listings.end() || !IsTrusted(it->second, folderInfo)) {
        if (m_listings.size() >= kMaxListings)
            m_listings.clear();
        Listing fresh;
        fresh.device = folderInfo.st_dev;
        fresh.inode = folderInfo.st_ino;
        fresh.changed = folderInfo.st_ctim;
        // A change later in the same tick would leave the change time as it is.
        fresh.racy = Nanoseconds(folderInfo.st_ctim) >= CoarseNowNs() - RacyWindowNs();
        if (!ReadListing(folderHost, fresh)) {
            if (it != m_listings.end())
                m_listings.erase(it);
            return {};
        }
        it = m_listings.insert_or_assign(folderHost, std::move(fresh)).first;
        m_any.store(true, std::memory_order_release);
    }
    Lookup result;
    result.listed = true;
    auto found = it->second.names.find(foldedName);
    if (found != it->second.names.end())
        result.hostName = found->second;
    return result;
}

void FolderListingCache::Added(const std::string& folderHost, const std::string& name) {
    Edit(folderHost, [&name](Listing& listing) {
        auto [it, added] = listing.names.emplace(FoldCase(Utf8ToWide(name)), name);
        if (!added) {
            listing.collisions = true;
            if (name < it->second)
                it->second = name;
        }
        return true;
    });
}

void FolderListingCache::Removed(const std::string& folderHost, const std::string& name) {
    Edit(folderHost, [&name](Listing& listing) {
        // Another name that folds alike may remain on a case-sensitive host: read afresh then.
        if (listing.collisions)
            return false;
        listing.names.erase(FoldCase(Utf8ToWide(name)));
        return true;
    });
}

template <typename Change>
void FolderListingCache::Edit(const std::string& folderHost, Change change) {
    // Most changes meet no listing at all (a tree walk lists by its own handles).
    if (!m_any.load(std::memory_order_acquire))
        return;
    {
        std::lock_guard lock(m_lock);
        if (m_listings.find(folderHost) == m_listings.end())
            return;
    }
    // The folder's change time right after the own change marks the edited listing.
    struct stat info {};
    bool statted = stat(folderHost.c_str(), &info) == 0;
    std::lock_guard lock(m_lock);
    auto it = m_listings.find(folderHost);
    if (it == m_listings.end())
        return;
    Listing& listing = it->second;
    if (!statted || listing.device != info.st_dev || listing.inode != info.st_ino ||
        !change(listing)) {
        m_listings.erase(it);
        return;
    }
    listing.changed = info.st_ctim;
    listing.racy = false;
}

void FolderListingCache::Clear() {
    std::lock_guard lock(m_lock);
    m_listings.clear();
}

}  // namespace quarrin::platform
