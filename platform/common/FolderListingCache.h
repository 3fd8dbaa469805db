// Case-folded listings of host folders, kept so that a name that is not found with its exact
// case can be looked up without reading the whole folder again.
//
// A listing belongs to a folder's host path and is trusted while the folder is the same
// (device and inode) and its change time has not moved since the listing was taken; a listing
// read in the same clock tick as the folder's last change is read again on its next use. The
// device file system's own changes edit the listing in place and take the folder's new change
// time. Changes made on the host by others are seen when they move the change time, which is
// as fine as the host's time stamps: on hosts with coarse stamps, a change made right after an
// own change, in the same clock tick, may go unseen.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace quarrin::platform {

class FolderListingCache {
public:
    // What a lookup found: the entry's host name, or that the folder holds no such name.
    struct Lookup {
        bool listed = false;  // false: the caller must read the folder itself
        std::optional<std::string> hostName;
    };

    // Looks `foldedName` up in the listing of the folder at `folderHost`, whose status
    // `folderInfo` the caller has just taken; reads the folder when there is no trusted
    // listing (not when a link leads there: then nothing is listed).
    Lookup Find(const std::string& folderHost, const struct stat& folderInfo,
                const std::wstring& foldedName);

    // The file system itself created or removed `name` in the folder at `folderHost`.
    void Added(const std::string& folderHost, const std::string& name);
    void Removed(const std::string& folderHost, const std::string& name);
    // A folder was removed or renamed, or a volume was formatted: drop everything.
    void Clear();
    // Quiet listings leave the folders' access times alone where the host allows it.
    void SetQuiet(bool quiet) { m_quiet = quiet; }

private:
    struct Listing {
        dev_t device = 0;
        ino_t inode = 0;
        struct timespec changed {};  // the folder's change time the listing matches
        bool racy = false;           // read in the clock tick of the folder's last change
        bool collisions = false;     // some names fold alike (a case-sensitive host)
        // Folded name -> host name; of several names that fold alike the first in name order
        // wins, as in the device's listing. Names the device cannot hold are left out.
        std::unordered_map<std::wstring, std::string> names;
    };

    static bool IsTrusted(const Listing& listing, const struct stat& folderInfo);
    // Applies an own change to the folder's listing, if there is one; `change` returns false
    // when the listing cannot follow it and must be read again.
    template <typename Change>
    void Edit(const std::string& folderHost, Change change);
    bool ReadListing(const std::string& folderHost, Listing& listing) const;

    std::mutex m_lock;
    std::unordered_map<std::string, Listing> m_listings;
    std::atomic<bool> m_quiet{false};
    std::atomic<bool> m_any{false};  // whether a listing was ever kept (cleared ones included)
};

}  // namespace quarrin::platform
