#include "platform/common/DeviceFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>

#include "platform/Platform.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/FileObject.h"
#include "platform/common/TextCodec.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

using kernel::SetLastErrorValue;

namespace {

constexpr std::size_t kMaxComponent = 255;

BOOL Fail(DWORD error) {
    SetLastErrorValue(error);
    return FALSE;
}

HANDLE FailHandle(DWORD error) {
    SetLastErrorValue(error);
    return INVALID_HANDLE_VALUE;
}

bool IsReadOnly(const struct stat& info) {
    return (info.st_mode & S_IWUSR) == 0;
}

DWORD AttributesOf(const struct stat& info) {
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnly(info))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

std::vector<std::wstring> SplitDevicePath(std::wstring_view path) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'\\' || c == L'/') {
            if (!current.empty())
                parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        parts.push_back(std::move(current));
    return parts;
}

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

bool HasWildcard(std::wstring_view name) {
    return name.find_first_of(L"*?") != std::wstring_view::npos;
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

// Opens a folder for listing. A quiet listing leaves the folder's access time alone where the
// host allows it (the folder's owner, or a privileged process).
DIR* OpenFolderListing(const std::string& folder, bool quiet) {
    if (quiet) {
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOATIME);
        if (fd >= 0) {
            DIR* dir = fdopendir(fd);
            if (dir == nullptr)
                close(fd);
            return dir;
        }
    }
    return opendir(folder.c_str());
}

// Finds the entry of `directory` whose name equals `name` without regard to case; of names
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

class FindObject : public kernel::KernelObject {
public:
    std::shared_ptr<const std::vector<DeviceFileSystem::FindEntry>> m_entries;
    std::size_t m_next = 0;
};

void FillFindData(const DeviceFileSystem::FindEntry& entry, LPWIN32_FIND_DATAW data) {
    // Every member is set; the name's characters after its terminator are left as they were.
    data->dwOID = 0;
    data->dwFileAttributes = AttributesOf(entry.info);
    auto size = static_cast<ULONGLONG>(entry.info.st_size);
    if (S_ISDIR(entry.info.st_mode))
        size = 0;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    // Times as FILETIME: 100 ns ticks since 1601.
    ULONGLONG ticks = (static_cast<ULONGLONG>(entry.info.st_mtime) + 11644473600ULL) * 10000000ULL;
    data->ftLastWriteTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    data->ftCreationTime = data->ftLastWriteTime;
    data->ftLastAccessTime = data->ftLastWriteTime;
    std::size_t length = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
    std::copy_n(entry.name.data(), length, data->cFileName);
    data->cFileName[length] = L'\0';
}

// Copies up to `limit` bytes, or to the end; `expected` is the source's size when the copy
// began, after which one more call would only confirm the end.
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

}  // namespace

bool IsMutating(FileOp op) {
    return op != FileOp::Open;
}

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

DeviceFileSystem::DeviceFileSystem(std::string hostRoot) {
    char* real = realpath(hostRoot.c_str(), nullptr);
    m_root = real != nullptr ? real : hostRoot;
    std::free(real);
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
}

DeviceFileSystem::~DeviceFileSystem() = default;

void DeviceFileSystem::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    m_listings.SetQuiet(readOnly);
    std::lock_guard lock(m_lock);
    m_readListings.clear();
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

void DeviceFileSystem::SetFreeSpaceOverride(const std::wstring& volume, ULONGLONG bytes) {
    std::lock_guard lock(m_lock);
    m_freeSpace[FoldCase(volume)] = bytes;
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
    std::string current = volume.host;
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
        m_listings.Added(host.substr(0, slash), host.substr(slash + 1));
}

void DeviceFileSystem::NoteRemoved(const std::string& host) {
    auto slash = host.rfind('/');
    if (slash != std::string::npos) {
        m_listings.Removed(host.substr(0, slash), host.substr(slash + 1));
        if (m_anyCaseTwins.load()) {
            // The entry is no twin any more, and a removed folder holds none.
            std::lock_guard lock(m_twinLock);
            auto it = m_caseTwins.find(host.substr(0, slash));
            if (it != m_caseTwins.end())
                it->second.erase(host.substr(slash + 1));
            m_caseTwins.erase(host);
        }
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

void DeviceFileSystem::ReportUnheld(const std::wstring& devicePath, const std::wstring& reason) {
    DebugOutput* debug = CurrentServices().debug;
    if (debug != nullptr)
        debug->Write(L"Device cannot hold " + devicePath + L": " + reason + L"\r\n");
}

void DeviceFileSystem::ReportLeftOut(const std::wstring& directory, std::string_view hostName,
                                     DWORD reason, const std::wstring& why) {
    if (!why.empty())
        ReportUnheld(directory + L"\\" + DisplayHostName(hostName), why);
    if (m_observer != nullptr)
        m_observer->LeftOut(directory, std::string(hostName), reason);
}

void DeviceFileSystem::ReportUnopenable(const std::wstring& directory, const std::wstring& name,
                                        EntryKind kind) {
    ReportUnheld(directory + L"\\" + name, DescribeEntryKind(kind));
    if (m_observer != nullptr)
        m_observer->Unopenable(directory, name, kind);
}

DWORD DeviceFileSystem::CheckFileContent(LPCWSTR devicePath, const ResolvedPath& path) {
    // Folders are no files. A host pipe or device node would block an open or never end a
    // read; a file of 4 GiB or more would show the low 32 bits of its size; a case twin is
    // not the file its name gives on the device. None of them is opened.
    EntryKind kind = ClassifyEntry(path.info);
    if (kind == EntryKind::Folder)
        return ERROR_ACCESS_DENIED;
    if (kind != EntryKind::File || path.caseTwin) {
        ReportUnheld(devicePath, path.caseTwin ? L"a case twin" : DescribeEntryKind(kind));
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

HookDecision DeviceFileSystem::RunHook(FileOp op, const std::wstring& devicePath) {
    if (m_readOnly && IsMutating(op))
        return {ERROR_WRITE_PROTECT, std::nullopt};
    if (m_hook == nullptr)
        return {};
    return m_hook->Before(op, devicePath);
}

HookDecision DeviceFileSystem::RunTransferHook(FileOp op, const std::wstring& devicePath,
                                               std::size_t bytes) {
    if (m_readOnly && IsMutating(op))
        return {ERROR_WRITE_PROTECT, std::nullopt};
    if (m_hook == nullptr)
        return {};
    return m_hook->BeforeTransfer(op, devicePath, bytes);
}

DWORD DeviceFileSystem::CheckSharing(const FileKey& key, DWORD access, DWORD share) {
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

DWORD DeviceFileSystem::CheckNoOpens(const FileKey& key) {
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

void DeviceFileSystem::AddOpen(const FileKey& key, const OpenRecord* record) {
    std::lock_guard lock(m_lock);
    m_opens[key].push_back(record);
}

void DeviceFileSystem::RemoveOpen(const FileKey& key, const OpenRecord* record) {
    std::lock_guard lock(m_lock);
    auto it = m_opens.find(key);
    if (it == m_opens.end())
        return;
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), record), list.end());
    if (list.empty())
        m_opens.erase(it);
}

HANDLE DeviceFileSystem::CreateFile(LPCWSTR name, DWORD access, DWORD share, DWORD disposition,
                                    DWORD flagsAndAttributes) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return FailHandle(path.error);
    bool existed = path.exists;
    if (existed) {
        if (DWORD error = CheckFileContent(name, path))
            return FailHandle(error);
    }
    if (existed && disposition == CREATE_NEW)
        return FailHandle(ERROR_FILE_EXISTS);
    if (!existed && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) {
        return FailHandle(ERROR_FILE_NOT_FOUND);
    }
    bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (existed && IsReadOnly(path.info) && ((access & GENERIC_WRITE) || truncate)) {
        return FailHandle(ERROR_ACCESS_DENIED);
    }
    if (existed) {
        DWORD sharing = CheckSharing({path.info.st_dev, path.info.st_ino}, access, share);
        if (sharing != ERROR_SUCCESS)
            return FailHandle(sharing);
    }
    bool creates = !existed || truncate;
    if (m_readOnly && (access & GENERIC_WRITE))
        return FailHandle(ERROR_WRITE_PROTECT);
    HookDecision decision = RunHook(creates ? FileOp::Create : FileOp::Open, name);
    if (decision.error != ERROR_SUCCESS)
        return FailHandle(decision.error);

    // Never through a link, and never waiting on a pipe that took the file's place since it
    // was looked at: the open file is checked again below.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
        flags |= O_RDWR;
    } else if (access & GENERIC_WRITE) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (!existed)
        flags |= O_CREAT | O_EXCL;
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = -1;
    if (m_readOnly)  // leaves the access time alone where the host allows
        fd = open(path.host.c_str(), flags | O_NOATIME, mode);
    if (fd < 0)
        fd = open(path.host.c_str(), flags, mode);
    if (fd < 0)
        return FailHandle(Win32ErrorFromErrno(errno));
    if (!existed)
        NoteAdded(path.host);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return FailHandle(ERROR_ACCESS_DENIED);
    }
    if (truncate && ftruncate(fd, 0) != 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        close(fd);
        return FailHandle(error);
    }
    auto file = std::make_shared<FileObject>(*this, fd, FileKey{info.st_dev, info.st_ino}, access,
                                             share, name);
    HANDLE handle = kernel::InsertHandle(std::move(file));
    bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastErrorValue(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL DeviceFileSystem::DeleteFile(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (path.IsDirectory() || IsReadOnly(path.info))
        return Fail(ERROR_ACCESS_DENIED);
    DWORD sharing = CheckNoOpens({path.info.st_dev, path.info.st_ino});
    if (sharing != ERROR_SUCCESS)
        return Fail(sharing);
    HookDecision decision = RunHook(FileOp::Delete, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    if (unlink(path.host.c_str()) != 0)
        return Fail(Win32ErrorFromErrno(errno));
    NoteRemoved(path.host);
    return TRUE;
}

BOOL DeviceFileSystem::MoveFile(LPCWSTR from, LPCWSTR to) {
    ResolvedPath source = Resolve(from);
    if (source.error != ERROR_SUCCESS)
        return Fail(source.error);
    if (!source.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    ResolvedPath target = Resolve(to);
    if (target.error != ERROR_SUCCESS)
        return Fail(target.error);
    if (target.exists)
        return Fail(ERROR_ALREADY_EXISTS);
    if (source.volume)
        return Fail(ERROR_ACCESS_DENIED);
    DWORD sharing = CheckNoOpens({source.info.st_dev, source.info.st_ino});
    if (sharing != ERROR_SUCCESS)
        return Fail(sharing);
    HookDecision decision = RunHook(FileOp::Move, to);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    if (rename(source.host.c_str(), target.host.c_str()) != 0) {
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    }
    if (source.IsDirectory()) {
        m_listings.Clear();  // every listing below the folder moved with it
        ForgetCaseTwins();
    } else {
        NoteRemoved(source.host);
        NoteAdded(target.host);
    }
    return TRUE;
}

BOOL DeviceFileSystem::CopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
    ResolvedPath source = Resolve(from);
    if (source.error != ERROR_SUCCESS)
        return Fail(source.error);
    if (!source.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (DWORD error = CheckFileContent(from, source))
        return Fail(error);
    ResolvedPath target = Resolve(to);
    if (target.error != ERROR_SUCCESS)
        return Fail(target.error);
    if (target.exists) {
        if (failIfExists)
            return Fail(ERROR_FILE_EXISTS);
        if (DWORD error = CheckFileContent(to, target))
            return Fail(error);
        if (IsReadOnly(target.info))
            return Fail(ERROR_ACCESS_DENIED);
        DWORD sharing = CheckSharing({target.info.st_dev, target.info.st_ino}, GENERIC_WRITE, 0);
        if (sharing != ERROR_SUCCESS)
            return Fail(sharing);
    }
    DWORD sharing =
        CheckSharing({source.info.st_dev, source.info.st_ino}, GENERIC_READ, FILE_SHARE_READ);
    if (sharing != ERROR_SUCCESS)
        return Fail(sharing);
    HookDecision decision =
        RunTransferHook(FileOp::Copy, to, static_cast<std::size_t>(source.info.st_size));
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);

    // As in CreateFile: no link followed, no wait on a pipe swapped in since the checks.
    int in = open(source.host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0)
        return Fail(Win32ErrorFromErrno(errno));
    struct stat opened {};
    if (fstat(in, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(in);
        return Fail(ERROR_ACCESS_DENIED);
    }
    int out = open(target.host.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (out < 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        close(in);
        return Fail(error);
    }
    if (!target.exists)
        NoteAdded(target.host);
    bool ok =
        CopyContents(in, out, decision.tornBytes, static_cast<std::size_t>(source.info.st_size));
    DWORD error = ok ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    close(in);
    if (decision.tornBytes && m_hook != nullptr) {
        fsync(out);
        m_hook->AfterTornWrite();
    }
    // The copy carries the source's read-only attribute, as on the device.
    if (IsReadOnly(source.info))
        fchmod(out, 0444);
    close(out);
    if (!ok)
        return Fail(error);
    return TRUE;
}

BOOL DeviceFileSystem::CreateDirectory(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (path.exists)
        return Fail(ERROR_ALREADY_EXISTS);
    HookDecision decision = RunHook(FileOp::CreateDirectory, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    if (mkdir(path.host.c_str(), 0777) != 0) {
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    }
    NoteAdded(path.host);
    return TRUE;
}

BOOL DeviceFileSystem::RemoveDirectory(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (!path.IsDirectory())
        return Fail(267);  // ERROR_DIRECTORY
    // A volume's root folder is the mounted volume itself: it cannot be removed.
    if (path.volume || IsReadOnly(path.info))
        return Fail(ERROR_ACCESS_DENIED);
    HookDecision decision = RunHook(FileOp::RemoveDirectory, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    if (rmdir(path.host.c_str()) != 0) {
        int error = errno;
        if (error != ENOTEMPTY && error != EEXIST)
            return Fail(Win32ErrorFromErrno(error));
        if (DWORD cleared = RemoveLinksOnly(path.host, name))
            return Fail(cleared);
        if (rmdir(path.host.c_str()) != 0) {
            error = errno;
            return Fail(error == ENOTEMPTY || error == EEXIST ? ERROR_DIR_NOT_EMPTY
                                                              : Win32ErrorFromErrno(error));
        }
    }
    NoteRemoved(path.host);
    return TRUE;
}

DWORD DeviceFileSystem::RemoveLinksOnly(const std::string& host, const std::wstring& devicePath) {
    DIR* dir = opendir(host.c_str());
    if (dir == nullptr)
        return Win32ErrorFromErrno(errno);
    std::vector<std::string> links;
    DWORD result = ERROR_SUCCESS;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(info.st_mode)) {
            result = ERROR_DIR_NOT_EMPTY;
            break;
        }
        links.emplace_back(name);
    }
    for (std::size_t i = 0; result == ERROR_SUCCESS && i < links.size(); ++i) {
        // unlinkat removes the link itself, never what it leads to.
        result = RunHook(FileOp::Delete, devicePath + L"\\" + DisplayHostName(links[i])).error;
        if (result == ERROR_SUCCESS && unlinkat(dirfd(dir), links[i].c_str(), 0) != 0)
            result = Win32ErrorFromErrno(errno);
    }
    closedir(dir);
    return result;
}

HANDLE DeviceFileSystem::FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    if (pattern == nullptr || data == nullptr)
        return FailHandle(ERROR_INVALID_PARAMETER);
    std::wstring text(pattern);
    auto split = text.find_last_of(L"\\/");
    std::wstring directory = split == std::wstring::npos ? L"" : text.substr(0, split);
    std::wstring leaf = split == std::wstring::npos ? text : text.substr(split + 1);
    if (leaf.empty())
        return FailHandle(ERROR_FILE_NOT_FOUND);
    ResolvedPath full = Resolve(pattern, true);
    if (full.error != ERROR_SUCCESS)
        return FailHandle(full.error);

    auto search = std::make_shared<FindObject>();
    if (!HasWildcard(leaf)) {
        if (!full.exists)
            return FailHandle(ERROR_FILE_NOT_FOUND);
        // A volume's folder may be a link: its name is the device's, not its target's.
        std::string hostName = full.host.substr(full.host.rfind('/') + 1);
        search->m_entries = std::make_shared<std::vector<FindEntry>>(
            1, FindEntry{full.volume ? leaf : Utf8ToWide(hostName), full.info});
    } else {
        ResolvedPath folder = Resolve(directory.empty() ? L"\\" : directory.c_str());
        if (folder.error != ERROR_SUCCESS)
            return FailHandle(folder.error);
        if (!folder.IsDirectory())
            return FailHandle(ERROR_PATH_NOT_FOUND);
        search->m_entries = ListFolder(folder, directory, leaf);
        if (!search->m_entries)
            return FailHandle(Win32ErrorFromErrno(errno));
        if (search->m_entries->empty())
            return FailHandle(ERROR_FILE_NOT_FOUND);
    }
    FillFindData((*search->m_entries)[0], data);
    search->m_next = 1;
    SetLastErrorValue(ERROR_SUCCESS);
    return kernel::InsertHandle(std::move(search));
}

DeviceFileSystem::Listing DeviceFileSystem::ListFolder(const ResolvedPath& folder,
                                                       const std::wstring& directory,
                                                       const std::wstring& pattern) {
    if (!m_readOnly) {
        auto entries = std::make_shared<std::vector<FindEntry>>();
        return ReadFolder(folder, directory, pattern, *entries) ? entries : nullptr;
    }
    // Nothing changes the tree in read-only mode, so each folder is read once, whole.
    Listing all;
    {
        std::lock_guard lock(m_lock);
        if (auto it = m_readListings.find(folder.host); it != m_readListings.end())
            all = it->second;
    }
    if (!all) {
        auto read = std::make_shared<std::vector<FindEntry>>();
        if (!ReadFolder(folder, directory, L"*", *read))
            return nullptr;
        std::lock_guard lock(m_lock);
        all = m_readListings.emplace(folder.host, std::move(read)).first->second;
    }
    if (pattern == L"*" || pattern == L"*.*")
        return all;
    auto matching = std::make_shared<std::vector<FindEntry>>();
    for (const FindEntry& entry : *all) {
        if (MatchesWildcard(pattern, entry.name))
            matching->push_back(entry);
    }
    return matching;
}

bool DeviceFileSystem::ReadFolder(const ResolvedPath& folder, const std::wstring& directory,
                                  const std::wstring& pattern, std::vector<FindEntry>& entries) {
    DIR* dir = OpenFolderListing(folder.host, m_readOnly);
    if (dir == nullptr)
        return false;
    bool atRoot = folder.host == m_root;
    while (dirent* entry = readdir(dir)) {
        std::string_view hostName = entry->d_name;
        if (hostName == "." || hostName == "..")
            continue;
        // Names the device cannot hold are not part of it; each is named in the log.
        if (NameProblem problem = CheckDeviceName(hostName); problem != NameProblem::None) {
            if (MatchesWildcard(pattern, DisplayHostName(hostName))) {
                DWORD reason = problem == NameProblem::TooLong ? ERROR_FILENAME_EXCED_RANGE
                                                               : ERROR_INVALID_NAME;
                ReportLeftOut(directory, hostName, reason, DescribeNameProblem(problem));
            }
            continue;
        }
        std::wstring name = Utf8ToWide(hostName);
        if (!MatchesWildcard(pattern, name))
            continue;
        if (atRoot && !IsVolumeMounted(name))
            continue;  // a dismounted volume is absent
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;  // removed since the folder was read
            // An entry that is there but cannot be examined (a folder readable without
            // search permission): the folder cannot be listed, rather than look emptier.
            int error = errno;
            closedir(dir);
            errno = error;
            return false;
        }
        if (S_ISLNK(info.st_mode) || (atRoot && PlacedVolume(name) != nullptr)) {
            if (!atRoot) {
                ReportLeftOut(directory, hostName, ERROR_ACCESS_DENIED,
                              DescribeEntryKind(EntryKind::Link));
                continue;
            }
            // A volume that is a link: listed as the folder it leads to, if it may be one.
            ResolvedPath volume = Resolve((L"\\" + name).c_str());
            if (volume.error != ERROR_SUCCESS || !volume.exists) {
                ReportLeftOut(directory, hostName, ERROR_PATH_NOT_FOUND, L"");
                continue;
            }
            info = volume.info;
        }
        EntryKind kind = ClassifyEntry(info);
        if (kind == EntryKind::NotAFile || kind == EntryKind::TooLarge)
            ReportUnopenable(directory, name, kind);
        entries.push_back({std::move(name), info});
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FindEntry& a, const FindEntry& b) { return a.name < b.name; });
    NoteCaseTwins(folder.host, directory, entries, pattern == L"*" || pattern == L"*.*");
    return true;
}

BOOL DeviceFileSystem::FindNextFile(HANDLE handle, LPWIN32_FIND_DATAW data) {
    auto search = kernel::LookupHandleAs<FindObject>(handle);
    if (!search || data == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (search->m_next >= search->m_entries->size())
        return Fail(ERROR_NO_MORE_FILES);
    FillFindData((*search->m_entries)[search->m_next++], data);
    return TRUE;
}

DWORD DeviceFileSystem::GetFileAttributes(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS) {
        SetLastErrorValue(path.error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!path.exists) {
        SetLastErrorValue(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(path.info);
}

BOOL DeviceFileSystem::SetFileAttributes(LPCWSTR name, DWORD attributes) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    HookDecision decision = RunHook(FileOp::SetAttributes, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    mode_t mode = path.info.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    } else {
        mode |= S_IWUSR;
    }
    if (chmod(path.host.c_str(), mode) != 0)
        return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
}

BOOL DeviceFileSystem::GetDiskFreeSpaceEx(LPCWSTR directory, ULONGLONG* available, ULONGLONG* total,
                                          ULONGLONG* totalFree) {
    ResolvedPath path = Resolve(directory);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.IsDirectory())
        return Fail(ERROR_PATH_NOT_FOUND);
    struct statvfs fs {};
    if (statvfs(path.host.c_str(), &fs) != 0)
        return Fail(Win32ErrorFromErrno(errno));
    ULONGLONG free = static_cast<ULONGLONG>(fs.f_bavail) * fs.f_frsize;
    ULONGLONG all = static_cast<ULONGLONG>(fs.f_blocks) * fs.f_frsize;
    ULONGLONG allFree = static_cast<ULONGLONG>(fs.f_bfree) * fs.f_frsize;
    std::vector<std::wstring> parts = SplitDevicePath(directory);
    if (!parts.empty()) {
        std::lock_guard lock(m_lock);
        auto it = m_freeSpace.find(FoldCase(parts[0]));
        if (it != m_freeSpace.end())
            free = allFree = it->second;
    }
    if (available != nullptr)
        *available = free;
    if (total != nullptr)
        *total = all;
    if (totalFree != nullptr)
        *totalFree = allFree;
    return TRUE;
}

// --- Open files -------------------------------------------------------------------------------

FileObject::FileObject(DeviceFileSystem& files, int fd, DeviceFileSystem::FileKey key, DWORD access,
                       DWORD share, std::wstring devicePath)
    : m_files(files),
      m_fd(fd),
      m_key(key),
      m_record{access, share},
      m_devicePath(std::move(devicePath)) {
    m_files.AddOpen(m_key, &m_record);
}

FileObject::~FileObject() {
    m_files.RemoveOpen(m_key, &m_record);
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
