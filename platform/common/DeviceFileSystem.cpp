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
        if (c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|') {
            return false;
        }
        if (!allowWildcards && (c == L'*' || c == L'?'))
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

// Finds the entry of `directory` whose name equals `name` without regard to case.
std::optional<std::string> FindFolded(const std::string& directory, const std::wstring& name,
                                      bool quiet) {
    DIR* dir = OpenFolderListing(directory, quiet);
    if (dir == nullptr)
        return std::nullopt;
    std::wstring folded = FoldCase(name);
    std::optional<std::string> found;
    while (dirent* entry = readdir(dir)) {
        if (FoldCase(Utf8ToWide(entry->d_name)) == folded) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Opens `host` (absolute, below the canonical root, without "..") as an O_PATH descriptor
// when no name on the way is a link; fails with ELOOP at a link, ENOSYS without openat2.
int OpenWithoutLinks(const std::string& host, int extraFlags) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(O_PATH | O_NOFOLLOW | O_CLOEXEC | extraFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, AT_FDCWD, host.c_str(), &how, sizeof how));
}

struct FindEntry {
    std::wstring name;
    struct stat info;
    bool link = false;  // the entry is a link, listed with its target's status
};

class FindObject : public kernel::KernelObject {
public:
    std::vector<FindEntry> m_entries;
    std::size_t m_next = 0;
};

void FillFindData(const FindEntry& entry, LPWIN32_FIND_DATAW data) {
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = AttributesOf(entry.info);
    // A link is a reparse point, as on Windows (where FILE_ATTRIBUTE_NORMAL stands alone).
    if (entry.link) {
        if (data->dwFileAttributes == FILE_ATTRIBUTE_NORMAL)
            data->dwFileAttributes = 0;
        data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
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

std::wstring FoldCase(std::wstring_view name) {
    std::wstring out(name);
    for (wchar_t& c : out) {
        c = (c < 0x80) ? static_cast<wchar_t>(std::tolower(static_cast<int>(c)))
                       : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
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
    for (auto& [name, volume] : m_volumeFolders)
        volume->SetReadOnly(readOnly);
}

void DeviceFileSystem::SetVolumeFolder(const std::wstring& volume, const std::string& hostFolder) {
    auto files = std::make_unique<DeviceFileSystem>(hostFolder);
    files->SetReadOnly(m_readOnly);
    m_volumeFolders[FoldCase(volume)] = std::move(files);
    m_listings.Clear();
}

std::optional<ResolvedPath> DeviceFileSystem::ResolveInVolumeFolder(
    const std::vector<std::wstring>& parts, bool allowWildcards) const {
    if (m_volumeFolders.empty() || parts.empty())
        return std::nullopt;
    auto it = m_volumeFolders.find(FoldCase(parts.front()));
    if (it == m_volumeFolders.end())
        return std::nullopt;
    const DeviceFileSystem& volume = *it->second;
    if (parts.size() == 1) {
        ResolvedPath result;
        result.host = volume.Root();
        result.exists = stat(result.host.c_str(), &result.info) == 0;
        return result;
    }
    std::wstring rest;
    for (std::size_t i = 1; i < parts.size(); ++i)
        rest += L"\\" + parts[i];
    return volume.ResolveIgnoringMounts(rest.c_str(), allowWildcards);
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
    if (auto mapped = ResolveInVolumeFolder(parts, allowWildcards))
        return *mapped;
    if (auto direct = ResolveDirect(parts, allowWildcards))
        return *direct;
    return ResolveByWalk(parts, allowWildcards);
}

std::optional<ResolvedPath> DeviceFileSystem::ResolveDirect(const std::vector<std::wstring>& parts,
                                                            bool allowWildcards) const {
    if (parts.empty() || !m_directResolve.load(std::memory_order_relaxed))
        return std::nullopt;
    // The root is canonical and the names hold neither "..", nor slashes, so a walk that
    // meets no link stays below the root.
    std::string parent = m_root;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
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

ResolvedPath DeviceFileSystem::ResolveByWalk(const std::vector<std::wstring>& parts,
                                             bool allowWildcards) const {
    ResolvedPath result;
    std::string current = m_root;
    struct stat info {};
    if (stat(current.c_str(), &info) != 0) {
        result.error = ERROR_PATH_NOT_FOUND;
        return result;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::string candidate = Join(current, WideToUtf8(parts[i]));
        bool found = lstat(candidate.c_str(), &info) == 0;
        if (!found && !(last && allowWildcards && HasWildcard(parts[i]))) {
            if (auto name = FindFolded(current, parts[i], m_readOnly)) {
                candidate = Join(current, *name);
                found = lstat(candidate.c_str(), &info) == 0;
            }
        }
        if (found && S_ISLNK(info.st_mode)) {
            char* real = realpath(candidate.c_str(), nullptr);
            std::string target = real != nullptr ? real : "";
            std::free(real);
            bool inside =
                !target.empty() && (target == m_root || target.rfind(m_root + "/", 0) == 0);
            if (!target.empty() && !inside) {
                result.error = ERROR_ACCESS_DENIED;
                return result;
            }
            found = !target.empty() && stat(target.c_str(), &info) == 0;
            if (found)
                candidate = target;
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
    }
}

bool DeviceFileSystem::IsVolumeRoot(const std::string& host) const {
    for (const auto& [name, volume] : m_volumeFolders) {
        if (host == volume->Root())
            return true;
    }
    auto slash = host.rfind('/');
    return host == m_root || (slash != std::string::npos && host.substr(0, slash) == m_root);
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
    // Folders, and host pipes or device nodes (an open of a pipe would block), are not files.
    if (existed && !S_ISREG(path.info.st_mode))
        return FailHandle(ERROR_ACCESS_DENIED);
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

    int flags = O_CLOEXEC | O_NOFOLLOW;
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
    if (truncate && ftruncate(fd, 0) != 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        close(fd);
        return FailHandle(error);
    }
    struct stat info {};
    fstat(fd, &info);
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
    if (IsVolumeRoot(source.host))
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
    // The device holds files and folders only: a host pipe or device node would block or
    // never end, so it cannot be copied.
    if (!S_ISREG(source.info.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    ResolvedPath target = Resolve(to);
    if (target.error != ERROR_SUCCESS)
        return Fail(target.error);
    if (target.exists) {
        if (failIfExists)
            return Fail(ERROR_FILE_EXISTS);
        if (target.IsDirectory() || IsReadOnly(target.info))
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

    int in = open(source.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return Fail(Win32ErrorFromErrno(errno));
    int out =
        open(target.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
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
    if (IsVolumeRoot(path.host) || IsReadOnly(path.info))
        return Fail(ERROR_ACCESS_DENIED);
    HookDecision decision = RunHook(FileOp::RemoveDirectory, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);
    if (rmdir(path.host.c_str()) != 0) {
        return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32ErrorFromErrno(errno));
    }
    NoteRemoved(path.host);
    return TRUE;
}

struct DeviceFileSystem::FolderListing {
    std::vector<FindEntry> entries;  // sorted by name
};

std::shared_ptr<const DeviceFileSystem::FolderListing> DeviceFileSystem::ListFolder(
    const std::string& host, const std::wstring& directory) {
    // Nothing changes the tree in read-only mode, so each folder is read once.
    if (m_readOnly) {
        std::lock_guard lock(m_lock);
        if (auto it = m_readListings.find(host); it != m_readListings.end())
            return it->second;
    }
    DIR* dir = OpenFolderListing(host, m_readOnly);
    if (dir == nullptr)
        return nullptr;
    auto listing = std::make_shared<FolderListing>();
    while (dirent* entry = readdir(dir)) {
        std::string hostName = entry->d_name;
        if (hostName == "." || hostName == "..")
            continue;
        std::wstring wideName = Utf8ToWide(hostName);
        // Names the device cannot hold are not part of it, nor are dismounted volumes.
        if (!IsValidComponent(wideName, false)) {
            if (m_observer != nullptr)
                m_observer->LeftOut(directory, hostName, ERROR_INVALID_NAME);
            continue;
        }
        if (host == m_root && !IsVolumeMounted(wideName))
            continue;
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        bool link = S_ISLNK(info.st_mode);
        if (link) {
            // Resolving the link applies the link rules: links that lead outside the device
            // root, or nowhere, are not part of the device.
            ResolvedPath child = Resolve((directory + L"\\" + wideName).c_str());
            if (child.error != ERROR_SUCCESS || !child.exists) {
                if (m_observer != nullptr) {
                    DWORD reason =
                        child.error != ERROR_SUCCESS ? child.error : ERROR_FILE_NOT_FOUND;
                    m_observer->LeftOut(directory, hostName, reason);
                }
                continue;
            }
            info = child.info;
        }
        listing->entries.push_back({std::move(wideName), info, link});
    }
    closedir(dir);
    std::sort(listing->entries.begin(), listing->entries.end(),
              [](const FindEntry& a, const FindEntry& b) { return a.name < b.name; });
    if (m_readOnly) {
        std::lock_guard lock(m_lock);
        m_readListings.emplace(host, listing);
    }
    return listing;
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
        std::string hostName = full.host.substr(full.host.rfind('/') + 1);
        search->m_entries.push_back({Utf8ToWide(hostName), full.info});
    } else {
        ResolvedPath folder = Resolve(directory.empty() ? L"\\" : directory.c_str());
        if (folder.error != ERROR_SUCCESS)
            return FailHandle(folder.error);
        if (!folder.IsDirectory())
            return FailHandle(ERROR_PATH_NOT_FOUND);
        std::shared_ptr<const FolderListing> listing = ListFolder(folder.host, directory);
        if (!listing)
            return FailHandle(Win32ErrorFromErrno(errno));
        for (const FindEntry& entry : listing->entries) {
            if (MatchesWildcard(leaf, entry.name))
                search->m_entries.push_back(entry);
        }
        if (search->m_entries.empty())
            return FailHandle(ERROR_FILE_NOT_FOUND);
    }
    FillFindData(search->m_entries[0], data);
    search->m_next = 1;
    SetLastErrorValue(ERROR_SUCCESS);
    return kernel::InsertHandle(std::move(search));
}

BOOL DeviceFileSystem::FindNextFile(HANDLE handle, LPWIN32_FIND_DATAW data) {
    auto search = kernel::LookupHandleAs<FindObject>(handle);
    if (!search || data == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (search->m_next >= search->m_entries.size())
        return Fail(ERROR_NO_MORE_FILES);
    FillFindData(search->m_entries[search->m_next++], data);
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
