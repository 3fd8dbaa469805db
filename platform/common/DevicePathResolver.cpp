// Device paths to host paths: the volumes, names without regard to case, and the link rules.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/HostEntry.h"
#include "platform/common/TextCodec.h"

namespace quarrin::platform {

namespace {

constexpr std::size_t kMaxComponent = 255;

// Characters that a FAT name cannot hold; wildcards only where a search allows them.
bool IsValidComponent(const std::wstring& name, bool allowWildcards) {
    if (name.size() > kMaxComponent)
        return false;
    for (wchar_t c : name) {
        bool wildcard = c == L'*' || c == L'?';
        if (IsReservedNameCharacter(c) && !(allowWildcards && wildcard))
            return false;
    }
    return true;
}

// that fold alike, the first in name order, as the device's listing keeps it. Names the
// device cannot hold are not candidates.
std::optional<std::string> FindFolded(const std::string& directory, const std::wstring& name,
                                      bool quiet) {
    DIR* dir = OpenFolderListing(directory, quiet);
    if (dir == nullptr)
        return std::nullopt;
    std::wstring folded = FoldCase(name);
    std::optional<std::string> found;
    while (dirent* entry = readdir(dir)) {
        std::string_view hostName = entry->d_name;
        if (found && hostName >= *found)
            continue;
        if (CheckDeviceName(hostName) == NameProblem::None &&
            FoldCase(Utf8ToWide(hostName)) == folded) {
            found = hostName;
        }
    }
    closedir(dir);
    return found;
}

// Whether `folder` is `path` or one of the folders that hold it.
bool HoldsOrIs(const std::string& folder, const std::string& path) {
    if (folder == "/" || folder == path)
        return true;
    return path.rfind(folder + "/", 0) == 0;
}

// Opens `host` (absolute, below the canonical root, without "..") as an O_PATH descriptor
// when no name on the way is a link; fails with ELOOP at a link, ENOSYS without openat2.
int OpenWithoutLinks(const std::string& host, int extraFlags) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(O_PATH | O_NOFOLLOW | O_CLOEXEC | extraFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, AT_FDCWD, host.c_str(), &how, sizeof how));
}

}  // namespace

wchar_t FoldCharacter(wchar_t c) {
    if (c < 0x80)
        return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

std::wstring FoldCase(std::wstring_view name) {
    std::wstring out(name);
    for (wchar_t& c : out)
        c = FoldCharacter(c);
    return out;
}

bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name) {
    if (pattern == L"*.*" || pattern == L"*")
        return true;
    std::wstring p = FoldCase(pattern);
    std::wstring n = FoldCase(name);
    // Iterative glob with backtracking on the last '*'.
    std::size_t pi = 0, ni = 0, star = std::wstring::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == L'?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == L'*') {
            star = pi++;
            mark = ni;
        } else if (star != std::wstring::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*')
        ++pi;
    return pi == p.size();
}

void DeviceFileSystem::SetVolumeFolder(const std::wstring& volume, const std::string& hostFolder) {
    // Made canonical once, so that a path below it needs no realpath of its own.
    char* real = realpath(hostFolder.c_str(), nullptr);
    m_placedVolumes[FoldCase(volume)] = real != nullptr ? real : hostFolder;
    std::free(real);
    m_listings.Clear();
}

const std::string* DeviceFileSystem::PlacedVolume(const std::wstring& name) const {
    if (m_placedVolumes.empty())
        return nullptr;
    auto it = m_placedVolumes.find(FoldCase(name));
    return it != m_placedVolumes.end() ? &it->second : nullptr;
}

ResolvedPath DeviceFileSystem::Resolve(const wchar_t* devicePath, bool allowWildcards) const {
    // A dismounted volume is gone from the device's name space until it is mounted again:
    // the volume folder and everything below it give ERROR_PATH_NOT_FOUND, so the tree
    // operations count its files as already gone and copies onto it fail.
    if (devicePath != nullptr) {
        std::vector<std::wstring> parts = SplitDevicePath(devicePath);
        if (!parts.empty() && !IsVolumeMounted(parts.front())) {
            ResolvedPath result;
            result.error = ERROR_PATH_NOT_FOUND;
            return result;
        }
    }
    return ResolveIgnoringMounts(devicePath, allowWildcards);
}

void DeviceFileSystem::SetVolumeMounted(const std::wstring& volume, bool mounted) {
    // A volume is formatted while it is dismounted, behind the file system's back.
    m_listings.Clear();
    ForgetCaseTwins();
    std::lock_guard guard(m_mountLock);
    if (mounted) {
        m_dismounted.erase(FoldCase(volume));
    } else {
        m_dismounted.insert(FoldCase(volume));
    }
}

bool DeviceFileSystem::IsVolumeMounted(const std::wstring& volume) const {
    std::lock_guard guard(m_mountLock);
    return m_dismounted.empty() || m_dismounted.count(FoldCase(volume)) == 0;
}

ResolvedPath DeviceFileSystem::ResolveIgnoringMounts(const wchar_t* devicePath,
                                                     bool allowWildcards) const {
    ResolvedPath result;
    if (devicePath == nullptr || *devicePath == L'\0') {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    std::vector<std::wstring> parts = SplitDevicePath(devicePath);
    parts.erase(std::remove(parts.begin(), parts.end(), L"."), parts.end());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == L"..") {
            result.error = ERROR_ACCESS_DENIED;
            return result;
        }
        bool last = i + 1 == parts.size();
        if (!IsValidComponent(parts[i], allowWildcards && last)) {
            result.error =
                parts[i].size() > kMaxComponent ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME;
            return result;
        }
    }
    // A placed volume is not below the root: only the walk, through ResolveVolume, finds it.
    std::optional<ResolvedPath> direct;
    if (parts.empty() || PlacedVolume(parts.front()) == nullptr)
        direct = ResolveDirect(m_root, parts, 0, allowWildcards);
    if (direct) {
        result = std::move(*direct);
    } else {
        result = ResolveByWalk(parts, allowWildcards);
    }
    result.volume = parts.size() <= 1;
    result.caseTwin = result.exists && IsBelowCaseTwin(result.host);
    return result;
}

std::optional<ResolvedPath> DeviceFileSystem::ResolveDirect(const std::string& base,
                                                            const std::vector<std::wstring>& parts,
                                                            std::size_t first,
                                                            bool allowWildcards) const {
    if (parts.size() <= first || !m_directResolve.load(std::memory_order_relaxed))
        return std::nullopt;
    // The base is canonical and the names hold neither "..", nor slashes, so a walk that
    // meets no link stays below the base.
    std::string parent = base;
    for (std::size_t i = first; i + 1 < parts.size(); ++i)
        parent = Join(parent, WideToUtf8(parts[i]));
    const std::wstring& leaf = parts.back();
    ResolvedPath result;
    std::string exact = Join(parent, WideToUtf8(leaf));
    int fd = OpenWithoutLinks(exact, 0);
    if (fd >= 0) {
        bool statted = fstat(fd, &result.info) == 0;
        close(fd);
        if (!statted || S_ISLNK(result.info.st_mode))
            return std::nullopt;
        result.host = std::move(exact);
        result.exists = true;
        return result;
    }
    if (errno == ENOSYS) {
        m_directResolve.store(false, std::memory_order_relaxed);
        return std::nullopt;
    }
    if (errno != ENOENT)
        return std::nullopt;
    // The exact name is missing. The walk met no link on the way to a folder that exists, so
    // the name is missing from that folder: look for one that differs only in case.
    struct stat folderInfo {};
    if (lstat(parent.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
        return std::nullopt;
    }
    bool wildcard = allowWildcards && HasWildcard(leaf);
    FolderListingCache::Lookup lookup;
    if (!wildcard)
        lookup = m_listings.Find(parent, folderInfo, FoldCase(leaf));
    if (!lookup.listed && !wildcard)
        return std::nullopt;
    if (!lookup.hostName) {
        result.host = std::move(exact);
        return result;
    }
    std::string variant = Join(parent, *lookup.hostName);
    bool found = lstat(variant.c_str(), &result.info) == 0;
    // A link, or a listing that no longer holds: the walk looks again.
    if (!found || S_ISLNK(result.info.st_mode))
        return std::nullopt;
    result.host = std::move(variant);
    result.exists = true;
    return result;
}

ResolvedPath DeviceFileSystem::ResolveVolume(const std::wstring& name, bool& linked) const {
    ResolvedPath result;
    linked = false;
    const std::string* placed = PlacedVolume(name);
    std::string candidate = placed != nullptr ? *placed : Join(m_root, WideToUtf8(name));
    struct stat info {};
    bool found = lstat(candidate.c_str(), &info) == 0;
    if (!found && placed == nullptr) {
        if (auto folded = FindFolded(m_root, name, m_readOnly)) {
            candidate = Join(m_root, *folded);
            found = lstat(candidate.c_str(), &info) == 0;
        }
    }
    if (!found) {
        result.host = candidate;
        return result;
    }
    if (S_ISLNK(info.st_mode) || placed != nullptr) {
        // A volume may live elsewhere, a real card's mount point say, but it must be a folder
        // and must not hold the device itself. Anything else is a volume that is not there.
        // A placed volume's folder was made canonical when it was placed.
        std::string target = candidate;
        if (S_ISLNK(info.st_mode)) {
            char* real = realpath(candidate.c_str(), nullptr);
            target = real != nullptr ? real : "";
            std::free(real);
            if (target.empty() || stat(target.c_str(), &info) != 0)
                target.clear();
        }
        if (target.empty() || !S_ISDIR(info.st_mode) || HoldsOrIs(target, m_root)) {
            result.error = ERROR_PATH_NOT_FOUND;
            return result;
        }
        candidate = std::move(target);
        linked = true;
    }
    result.host = std::move(candidate);
    result.exists = true;
    result.info = info;
    return result;
}

ResolvedPath DeviceFileSystem::ResolveByWalk(const std::vector<std::wstring>& parts,
                                             bool allowWildcards) const {
    ResolvedPath result;
    struct stat info {};
    if (stat(m_root.c_str(), &info) != 0) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    if (parts.empty()) {
        result.host = m_root;
        result.exists = true;
        result.info = info;
        return result;
    }
    bool linked = false;
    ResolvedPath volume = ResolveVolume(parts[0], linked);
    if (volume.error != ERROR_SUCCESS || parts.size() == 1)
        return volume;
    if (!volume.IsDirectory()) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    if (linked) {
        if (auto direct = ResolveDirect(volume.host, parts, 1, allowWildcards))
            return *direct;
    }
    return WalkBelowVolume(volume.host, parts, allowWildcards);
}

ResolvedPath DeviceFileSystem::WalkBelowVolume(const std::string& volumeHost,
                                               const std::vector<std::wstring>& parts,
                                               bool allowWildcards) const {
    ResolvedPath result;
    struct stat info {};
    std::string current = volumeHost;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::string candidate = Join(current, WideToUtf8(parts[i]));
        bool found = lstat(candidate.c_str(), &info) == 0;
        int missing = found ? 0 : errno;
        if (!found && !(last && allowWildcards && HasWildcard(parts[i]))) {
            if (auto name = FindFolded(current, parts[i], m_readOnly)) {
                candidate = Join(current, *name);
                found = lstat(candidate.c_str(), &info) == 0;
                missing = found ? 0 : errno;
            }
        }
        // A host path longer than the host allows is no missing entry: it cannot be reached.
        if (missing == ENAMETOOLONG) {
            result.error = ERROR_FILENAME_EXCED_RANGE;
            return result;
        }
        // The device has no links: below a volume a link is never followed, wherever it
        // leads, so no operation reaches through one and no walk can loop.
        if (found && S_ISLNK(info.st_mode)) {
            result.error = ERROR_ACCESS_DENIED;
            return result;
        }
        if (!found) {
            if (!last) {
                result.error = ERROR_PATH_NOT_FOUND;
                return result;
            }
            result.host = candidate;
            return result;
        }
        if (!last && !S_ISDIR(info.st_mode)) {
            result.error = ERROR_PATH_NOT_FOUND;
            return result;
        }
        current = candidate;
    }
    result.host = current;
    result.exists = true;
    result.info = info;
    return result;
}

void DeviceFileSystem::NoteAdded(const std::string& host) {
    auto slash = host.rfind('/');
    if (slash != std::string::npos)
        NoteAdded(host.substr(0, slash), host.substr(slash + 1));
}

void DeviceFileSystem::NoteAdded(const std::string& folderHost, const std::string& name) {
    m_listings.Added(folderHost, name);
}

void DeviceFileSystem::NoteRemoved(const std::string& host) {
    auto slash = host.rfind('/');
    if (slash != std::string::npos)
        NoteRemoved(host.substr(0, slash), host.substr(slash + 1));
}

void DeviceFileSystem::NoteRemoved(const std::string& folderHost, const std::string& name) {
    m_listings.Removed(folderHost, name);
    if (m_anyCaseTwins.load()) {
        // The entry is no twin any more, and a removed folder holds none.
        std::lock_guard lock(m_twinLock);
        auto it = m_caseTwins.find(folderHost);
        if (it != m_caseTwins.end())
            it->second.erase(name);
        m_caseTwins.erase(Join(folderHost, name));
    }
}

bool DeviceFileSystem::IsBelowCaseTwin(const std::string& host) const {
    if (!m_anyCaseTwins.load())
        return false;
    std::lock_guard lock(m_twinLock);
    for (std::string path = host;;) {
        auto slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        auto it = m_caseTwins.find(path.substr(0, slash));
        if (it != m_caseTwins.end() && it->second.count(path.substr(slash + 1)) != 0)
            return true;
        path.resize(slash);
    }
}

void DeviceFileSystem::NoteCaseTwins(const std::string& folderHost, const std::wstring& directory,
                                     const std::vector<FindEntry>& entries, bool wholeFolder) {
    // The verdict on every name listed, twin or not: a twin whose earlier twin is gone is
    // the folder's only such name now. A folder without twins, in a tree without any, needs
    // no bookkeeping.
    CaseTwinFilter filter;
    std::vector<bool> twins(entries.size());
    bool anyTwin = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::optional<std::wstring> earlier = filter.EarlierTwin(entries[i].name);
        if (earlier) {
            twins[i] = anyTwin = true;
            ReportUnheld(directory + L"\\" + entries[i].name,
                         L"same name as " + *earlier + L" but for case");
        }
    }
    if (!anyTwin && !m_anyCaseTwins.load())
        return;
    std::lock_guard lock(m_twinLock);
    std::set<std::string>& noted = m_caseTwins[folderHost];
    if (wholeFolder)
        noted.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string name = WideToUtf8(entries[i].name);
        if (twins[i]) {
            noted.insert(std::move(name));
        } else {
            noted.erase(name);
        }
    }
    if (noted.empty())
        m_caseTwins.erase(folderHost);
    m_anyCaseTwins.store(!m_caseTwins.empty());
}

void DeviceFileSystem::ForgetCaseTwins() {
    std::lock_guard lock(m_twinLock);
    m_caseTwins.clear();
    m_anyCaseTwins.store(false);
}

}  // namespace quarrin::platform
