#include "platform/common/DeviceFileSystem.h"

// The device's file calls, each in one order: check the arguments, resolve the device path,
// apply the device's rules, make one host call, and map its result.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/FileObject.h"
#include "platform/common/FileTransfer.h"
#include "platform/common/HostEntry.h"
#include "platform/common/TextCodec.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

using kernel::SetLastErrorValue;

bool IsMutating(FileOp op) {
    return op != FileOp::Open;
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

void DeviceFileSystem::SetFreeSpaceOverride(const std::wstring& volume, ULONGLONG bytes) {
    std::lock_guard lock(m_lock);
    m_freeSpace[FoldCase(volume)] = bytes;
}

void DeviceFileSystem::ReportUnheld(const std::wstring& devicePath, const std::wstring& reason) {
    DebugOutput* debug = CurrentServices().debug;
    if (debug != nullptr)
        debug->Write(L"Device cannot hold " + devicePath + L": " + reason + L"\r\n");
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

HANDLE DeviceFileSystem::CreateFile(LPCWSTR name, DWORD access, DWORD share, DWORD disposition,
                                    DWORD flagsAndAttributes) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    bool existed = path.exists;
    bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (DWORD error = CheckOpen(name, path, access, share, disposition))
        return Fail(error);
    if (m_readOnly && (access & GENERIC_WRITE))
        return Fail(ERROR_WRITE_PROTECT);
    HookDecision decision = RunHook(!existed || truncate ? FileOp::Create : FileOp::Open, name);
    if (decision.error != ERROR_SUCCESS)
        return Fail(decision.error);

    int fd = OpenHostFile(path, access, flagsAndAttributes);
    if (fd < 0)
        return Fail(Win32ErrorFromErrno(errno));
    if (!existed)
        NoteAdded(path.host);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (truncate && ftruncate(fd, 0) != 0) {
        DWORD error = Win32ErrorFromErrno(errno);
        close(fd);
        return Fail(error);
    }
    auto file = std::make_shared<FileObject>(
        *this, fd, ShareTable::FileKey{info.st_dev, info.st_ino}, access, share, name);
    HANDLE handle = kernel::InsertHandle(std::move(file));
    bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastErrorValue(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

DWORD DeviceFileSystem::CheckOpen(LPCWSTR name, const ResolvedPath& path, DWORD access, DWORD share,
                                  DWORD disposition) {
    if (!path.exists) {
        bool mustExist = disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING;
        return mustExist ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    }
    if (DWORD error = CheckFileContent(name, path))
        return error;
    if (disposition == CREATE_NEW)
        return ERROR_FILE_EXISTS;
    bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (IsReadOnly(path.info) && ((access & GENERIC_WRITE) || truncate))
        return ERROR_ACCESS_DENIED;
    return m_shares.Check({path.info.st_dev, path.info.st_ino}, access, share);
}

int DeviceFileSystem::OpenHostFile(const ResolvedPath& path, DWORD access,
                                   DWORD flagsAndAttributes) const {
    // Never through a link, and never waiting on a pipe that took the file's place since it
    // was looked at: the caller checks the open file again.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
        flags |= O_RDWR;
    } else if (access & GENERIC_WRITE) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (!path.exists)
        flags |= O_CREAT | O_EXCL;
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = -1;
    if (m_readOnly)  // leaves the access time alone where the host allows
        fd = open(path.host.c_str(), flags | O_NOATIME, mode);
    if (fd < 0)
        fd = open(path.host.c_str(), flags, mode);
    return fd;
}

BOOL DeviceFileSystem::DeleteFile(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.exists)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (path.IsDirectory() || IsReadOnly(path.info))
        return Fail(ERROR_ACCESS_DENIED);
    DWORD sharing = m_shares.CheckDeletable({path.info.st_dev, path.info.st_ino});
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
    DWORD sharing = m_shares.CheckDeletable({source.info.st_dev, source.info.st_ino});
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
    if (DWORD error = CheckCopyTarget(to, target, failIfExists))
        return Fail(error);
    DWORD sharing =
        m_shares.Check({source.info.st_dev, source.info.st_ino}, GENERIC_READ, FILE_SHARE_READ);
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
    DWORD error = TransferContents(in, out, decision, source.info);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

DWORD DeviceFileSystem::CheckCopyTarget(LPCWSTR to, const ResolvedPath& target, BOOL failIfExists) {
    if (!target.exists)
        return ERROR_SUCCESS;
    if (failIfExists)
        return ERROR_FILE_EXISTS;
    if (DWORD error = CheckFileContent(to, target))
        return error;
    if (IsReadOnly(target.info))
        return ERROR_ACCESS_DENIED;
    return m_shares.Check({target.info.st_dev, target.info.st_ino}, GENERIC_WRITE, 0);
}

DWORD DeviceFileSystem::TransferContents(int in, int out, const HookDecision& decision,
                                         const struct stat& source) {
    bool ok = CopyContents(in, out, decision.tornBytes, static_cast<std::size_t>(source.st_size));
    DWORD error = ok ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    close(in);
    if (decision.tornBytes && m_hook != nullptr) {
        fsync(out);
        m_hook->AfterTornWrite();
    }
    // The copy carries the source's read-only attribute, as on the device.
    if (IsReadOnly(source))
        fchmod(out, 0444);
    close(out);
    return error;
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
        return Fail(ERROR_DIRECTORY);
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

}  // namespace quarrin::platform
