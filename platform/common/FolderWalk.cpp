// Folder handles for walks of whole trees: the calls on the entries a folder's listing found
// reach them relative to the open folder (openat, unlinkat), in as few host calls as the
// device's rules allow. Whatever needs more (an entry not listed, a file open elsewhere, the
// hook, read-only mode, case twins, a target name that exists in any case) takes the
// path-based call, so the rules are decided in one place.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_set>

#include "platform/api/FileApi.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/FolderHandle.h"
#include "platform/common/HostEntry.h"
#include "platform/common/TextCodec.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

HANDLE DeviceFileSystem::OpenFolder(LPCWSTR name) {
    ResolvedPath path = Resolve(name);
    if (path.error != ERROR_SUCCESS)
        return Fail(path.error);
    if (!path.IsDirectory())
        return Fail(ERROR_PATH_NOT_FOUND);
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
    int fd = m_readOnly ? open(path.host.c_str(), flags | O_NOATIME) : -1;
    if (fd < 0)
        fd = open(path.host.c_str(), flags);
    if (fd < 0)
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    // The folder opened must be the one resolved, not one that took its place since.
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_dev != path.info.st_dev ||
        info.st_ino != path.info.st_ino) {
        close(fd);
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    std::vector<std::wstring> parts = SplitDevicePath(name);
    std::wstring volume = parts.empty() ? std::wstring() : parts.front();
    return kernel::InsertHandle(
        std::make_shared<FolderObject>(fd, std::move(path.host), name, std::move(volume)));
}

BOOL DeviceFileSystem::DeleteFileInFolder(HANDLE handle, LPCWSTR name, DWORD flags) {
    auto folder = kernel::LookupHandleAs<FolderObject>(handle);
    if (!folder)
        return Fail(ERROR_INVALID_HANDLE);
    if (name == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    // A volume dismounted since the folder was opened is gone, as its paths are.
    if (!IsVolumeMounted(folder->Volume()))
        return Fail(ERROR_PATH_NOT_FOUND);
    const FindEntry* entry = folder->Listed(name);
    // Without the hook, read-only mode or open files to ask, and with read-only files to go
    // as well, a listed file is gone in one host call: nothing else could refuse it.
    bool direct = entry != nullptr && (flags & DELETE_IN_FOLDER_READ_ONLY) && m_hook == nullptr &&
                  !m_readOnly && m_shares.Empty();
    if (!direct)
        return DeleteByPath(folder->DevicePathOf(name), flags);
    if (S_ISDIR(entry->info.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    std::string hostName = WideToUtf8(name);
    if (unlinkat(folder->Fd(), hostName.c_str(), 0) != 0)
        return Fail(errno == EISDIR ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    NoteRemoved(folder->Host(), hostName);
    return TRUE;
}

BOOL DeviceFileSystem::DeleteByPath(const std::wstring& path, DWORD flags) {
    if (DeleteFile(path.c_str()))
        return TRUE;
    if (!(flags & DELETE_IN_FOLDER_READ_ONLY) || kernel::LastErrorValue() != ERROR_ACCESS_DENIED)
        return FALSE;
    // A read-only file goes once its attributes are reset.
    DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    SetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFile(path.c_str());
}

BOOL DeviceFileSystem::CopyFileInFolder(HANDLE sourceFolder, LPCWSTR name, HANDLE targetFolder,
                                        BOOL failIfExists) {
    auto from = kernel::LookupHandleAs<FolderObject>(sourceFolder);
    auto to = kernel::LookupHandleAs<FolderObject>(targetFolder);
    if (!from || !to)
        return Fail(ERROR_INVALID_HANDLE);
    if (name == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!IsVolumeMounted(from->Volume()) || !IsVolumeMounted(to->Volume()))
        return Fail(ERROR_PATH_NOT_FOUND);
    const FindEntry* entry = from->Listed(name);
    std::string hostName = WideToUtf8(name);
    bool direct = entry != nullptr && S_ISREG(entry->info.st_mode) && !m_anyCaseTwins.load() &&
                  IsNewName(*to, name);
    if (!direct) {
        return CopyFile(from->DevicePathOf(name).c_str(), to->DevicePathOf(name).c_str(),
                        failIfExists);
    }
    return CopyToNewName(*from, *to, name, hostName);
}

bool DeviceFileSystem::IsNewName(FolderObject& folder, LPCWSTR name) {
    if (folder.KnownNames() == nullptr) {
        int fd = openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
        if (dir == nullptr) {
            if (fd >= 0)
                close(fd);
            return false;
        }
        // Names the device cannot hold are not its names, in any case.
        std::unordered_set<std::wstring> names;
        while (dirent* entry = readdir(dir)) {
            std::string_view hostName = entry->d_name;
            if (hostName != "." && hostName != ".." &&
                CheckDeviceName(hostName) == NameProblem::None)
                names.insert(FoldCase(Utf8ToWide(hostName)));
        }
        closedir(dir);
        folder.SetKnownNames(std::move(names));
    }
    return folder.KnownNames()->count(FoldCase(name)) == 0;
}

BOOL DeviceFileSystem::CopyToNewName(const FolderObject& from, FolderObject& to, LPCWSTR name,
                                     const std::string& hostName) {
    // As in CopyFile: no link followed, no wait on a pipe swapped in since the listing.
    int in = openat(from.Fd(), hostName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0)
        return Fail(Win32ErrorFromErrno(errno));
    ResolvedPath source;
    source.exists = fstat(in, &source.info) == 0;
    DWORD error = source.exists ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS && ClassifyEntry(source.info) != EntryKind::File)
        error = CheckFileContent(from.DevicePathOf(name).c_str(), source);
    if (error == ERROR_SUCCESS && !m_shares.Empty())
        error =
            m_shares.Check({source.info.st_dev, source.info.st_ino}, GENERIC_READ, FILE_SHARE_READ);
    HookDecision decision;
    if (error == ERROR_SUCCESS && (m_hook != nullptr || m_readOnly)) {
        decision = RunTransferHook(FileOp::Copy, to.DevicePathOf(name),
                                   static_cast<std::size_t>(source.info.st_size));
        error = decision.error;
    }
    if (error != ERROR_SUCCESS) {
        close(in);
        return Fail(error);
    }
    int out = openat(to.Fd(), hostName.c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (out < 0) {
        error = Win32ErrorFromErrno(errno);
        close(in);
        return Fail(error);
    }
    NoteAdded(to.Host(), hostName);
    to.AddKnownName(FoldCase(name));
    error = TransferContents(in, out, decision, source.info);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

}  // namespace quarrin::platform
