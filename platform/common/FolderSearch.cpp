// Listings of device folders: FindFirstFileW and FindNextFileW with the device's rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/FolderHandle.h"
#include "platform/common/HostEntry.h"
#include "platform/common/TextCodec.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

using kernel::SetLastErrorValue;

namespace {

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

// What a listing without attributes keeps of an entry: its type and inode (a writable file or
// folder, of no size, at no time).
struct stat TypeOnly(mode_t mode, ino_t inode) {
    struct stat info {};
    info.st_mode = (mode & S_IFMT) | S_IWUSR;
    info.st_ino = inode;
    return info;
}

}  // namespace

// A folder's entries as the host lists them, read straight from a descriptor (a DIR stream
// would open, examine and flag a descriptor of its own first).
class FolderEntries {
public:
    explicit FolderEntries(int fd) : m_fd(fd), m_buffer(new char[kBufferSize]) {}
    int Fd() const { return m_fd; }
    // The next entry, or null at the end (or when the host cannot read on).
    const dirent64* Next() {
        if (m_offset >= m_size) {
            long read = syscall(SYS_getdents64, m_fd, m_buffer.get(), kBufferSize);
            if (read <= 0)
                return nullptr;
            m_size = static_cast<std::size_t>(read);
            m_offset = 0;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.get() + m_offset);
        m_offset += entry->d_reclen;
        return entry;
    }

private:
    static constexpr std::size_t kBufferSize = 32768;
    int m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_size = 0;
    std::size_t m_offset = 0;
};

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

HANDLE DeviceFileSystem::FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    if (pattern == nullptr || data == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    std::wstring text(pattern);
    auto split = text.find_last_of(L"\\/");
    std::wstring directory = split == std::wstring::npos ? L"" : text.substr(0, split);
    std::wstring leaf = split == std::wstring::npos ? text : text.substr(split + 1);
    if (leaf.empty())
        return Fail(ERROR_FILE_NOT_FOUND);
    ResolvedPath full = Resolve(pattern, true);
    if (full.error != ERROR_SUCCESS)
        return Fail(full.error);

    auto search = std::make_shared<FindObject>();
    if (!HasWildcard(leaf)) {
        if (!full.exists)
            return Fail(ERROR_FILE_NOT_FOUND);
        // A volume's folder may be a link: its name is the device's, not its target's.
        std::string hostName = full.host.substr(full.host.rfind('/') + 1);
        search->m_entries = std::make_shared<std::vector<FindEntry>>(
            1, FindEntry{full.volume ? leaf : Utf8ToWide(hostName), full.info});
    } else {
        ResolvedPath folder = Resolve(directory.empty() ? L"\\" : directory.c_str());
        if (folder.error != ERROR_SUCCESS)
            return Fail(folder.error);
        if (!folder.IsDirectory())
            return Fail(ERROR_PATH_NOT_FOUND);
        search->m_entries = ListFolder(folder, directory, leaf);
        if (!search->m_entries)
            return Fail(Win32ErrorFromErrno(errno));
        if (search->m_entries->empty())
            return Fail(ERROR_FILE_NOT_FOUND);
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
    // A quiet listing leaves the folder's access time alone where the host allows it.
    int flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
    int fd = m_readOnly ? open(folder.host.c_str(), flags | O_NOATIME) : -1;
    if (fd < 0)
        fd = open(folder.host.c_str(), flags);
    if (fd < 0)
        return false;
    FolderEntries source(fd);
    bool read = ReadEntries(source, {folder.host, directory, pattern, true}, entries);
    int error = errno;
    close(fd);
    errno = error;
    return read;
}

bool DeviceFileSystem::ReadEntries(FolderEntries& source, const ListingRequest& request,
                                   std::vector<FindEntry>& entries) {
    bool atRoot = request.folderHost == m_root;
    bool failed = false;
    while (const dirent64* entry = source.Next()) {
        std::string_view hostName = entry->d_name;
        if (hostName == "." || hostName == "..")
            continue;
        // Names the device cannot hold are not part of it; each is named in the log.
        if (NameProblem problem = CheckDeviceName(hostName); problem != NameProblem::None) {
            if (MatchesWildcard(request.pattern, DisplayHostName(hostName))) {
                DWORD reason = problem == NameProblem::TooLong ? ERROR_FILENAME_EXCED_RANGE
                                                               : ERROR_INVALID_NAME;
                ReportLeftOut(request.directory, hostName, reason, DescribeNameProblem(problem));
            }
            continue;
        }
        std::wstring name = Utf8ToWide(hostName);
        if (!MatchesWildcard(request.pattern, name))
            continue;
        if (atRoot && !IsVolumeMounted(name))
            continue;  // a dismounted volume is absent
        struct stat info {};
        // Without attributes the first entry is still examined, so that a folder whose
        // entries cannot be examined fails as it would with them.
        bool examine = request.attributes || atRoot || entries.empty() ||
                       (entry->d_type != DT_REG && entry->d_type != DT_DIR);
        EntryVerdict verdict = EntryVerdict::Listed;
        if (examine) {
            verdict = ExamineEntry(source.Fd(), entry->d_name, atRoot, request, info);
            if (!request.attributes)  // every entry alike: its type, nothing more
                info = TypeOnly(info.st_mode, info.st_ino);
        } else {
            info = TypeOnly(DTTOIF(entry->d_type), entry->d_ino);
        }
        if (verdict == EntryVerdict::Failed) {
            failed = true;
            break;
        }
        if (verdict == EntryVerdict::Listed)
            entries.push_back({std::move(name), info});
    }
    if (failed)
        return false;
    std::sort(entries.begin(), entries.end(),
              [](const FindEntry& a, const FindEntry& b) { return a.name < b.name; });
    NoteCaseTwins(request.folderHost, request.directory, entries,
                  request.pattern == L"*" || request.pattern == L"*.*");
    return true;
}

DeviceFileSystem::EntryVerdict DeviceFileSystem::ExamineEntry(int folderFd, const char* hostName,
                                                              bool atRoot,
                                                              const ListingRequest& request,
                                                              struct stat& info) {
    if (fstatat(folderFd, hostName, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        // Removed since the folder was read: not listed. An entry that is there but cannot
        // be examined (a folder readable without search permission): the folder cannot be
        // listed, rather than look emptier.
        return errno == ENOENT ? EntryVerdict::Skipped : EntryVerdict::Failed;
    }
    std::wstring name = Utf8ToWide(hostName);
    if (S_ISLNK(info.st_mode) || (atRoot && PlacedVolume(name) != nullptr)) {
        if (!atRoot) {
            ReportLeftOut(request.directory, hostName, ERROR_ACCESS_DENIED,
                          DescribeEntryKind(EntryKind::Link));
            return EntryVerdict::Skipped;
        }
        // A volume that is a link: listed as the folder it leads to, if it may be one.
        ResolvedPath volume = Resolve((L"\\" + name).c_str());
        if (volume.error != ERROR_SUCCESS || !volume.exists) {
            ReportLeftOut(request.directory, hostName, ERROR_PATH_NOT_FOUND, L"");
            return EntryVerdict::Skipped;
        }
        info = volume.info;
    }
    EntryKind kind = ClassifyEntry(info);
    if (kind == EntryKind::NotAFile || kind == EntryKind::TooLarge)
        ReportUnopenable(request.directory, name, kind);
    return EntryVerdict::Listed;
}

HANDLE DeviceFileSystem::FindFirstFileInFolder(HANDLE handle, LPWIN32_FIND_DATAW data) {
    auto folder = kernel::LookupHandleAs<FolderObject>(handle);
    if (!folder)
        return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!IsVolumeMounted(folder->Volume()))
        return Fail(ERROR_PATH_NOT_FOUND);
    Listing entries = ListOpenFolder(*folder);
    if (!entries)
        return Fail(Win32ErrorFromErrno(errno));
    folder->SetListing(entries);
    if (entries->empty())
        return Fail(ERROR_FILE_NOT_FOUND);
    auto search = std::make_shared<FindObject>();
    search->m_entries = std::move(entries);
    FillFindData((*search->m_entries)[0], data);
    search->m_next = 1;
    SetLastErrorValue(ERROR_SUCCESS);
    return kernel::InsertHandle(std::move(search));
}

DeviceFileSystem::Listing DeviceFileSystem::ListOpenFolder(const FolderObject& folder) {
    static const std::wstring every = L"*";
    if (m_readOnly) {
        // The folder's one whole listing, which every search of it shares.
        ResolvedPath path;
        path.host = folder.Host();
        path.exists = true;
        return ListFolder(path, folder.Device(), every);
    }
    // A listing after the first starts again at the beginning.
    if (folder.HasListing() && lseek(folder.Fd(), 0, SEEK_SET) != 0)
        return nullptr;
    FolderEntries source(folder.Fd());
    auto entries = std::make_shared<std::vector<FindEntry>>();
    if (!ReadEntries(source, {folder.Host(), folder.Device(), every, false}, *entries))
        return nullptr;
    return entries;
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

}  // namespace quarrin::platform
