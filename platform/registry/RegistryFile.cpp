#include "platform/registry/RegistryFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/TextCodec.h"
#include "platform/common/WholeFileRead.h"

namespace quarrin::platform {

namespace {

std::string ParentOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The unit's registry is small; a file far larger is not one.
constexpr std::size_t kMaxRegistryFileBytes = 16 << 20;

const char* UnreadableReason(WholeFileRead read) {
    switch (read) {
        case WholeFileRead::NotAFile:
            return "not a regular file";
        case WholeFileRead::TooLarge:
            return "larger than 16 MiB";
        default:
            return "unreadable";
    }
}

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

RegistryFile::RegistryFile(std::string hostPath, DeviceFileSystem* files)
    : m_hostPath(std::move(hostPath)), m_files(files) {}

std::wstring RegistryFile::DevicePathOf(const std::string& hostPath) const {
    std::string path = hostPath;
    if (m_files != nullptr) {
        std::string root = m_files->Root() + "/";
        if (path.rfind(root, 0) == 0)
            path = path.substr(root.size());
    }
    std::wstring device = Utf8ToWide(path);
    for (wchar_t& c : device) {
        if (c == L'/')
            c = L'\\';
    }
    return device;
}

DWORD RegistryFile::RunHook(FileOp op, const std::wstring& devicePath) {
    if (m_files == nullptr)
        return ERROR_SUCCESS;
    return m_files->RunHook(op, devicePath).error;
}

RegistryTree RegistryFile::Load() {
    std::string text;
    WholeFileRead read = ReadWholeRegularFile(m_hostPath, kMaxRegistryFileBytes, text);
    if (read == WholeFileRead::Missing)
        return DefaultDeviceRegistry();
    if (read != WholeFileRead::Read) {
        // A pipe, device node, folder or huge file in its place is not read (it could block
        // or never end), and never replaced.
        std::fprintf(stderr,
                     "quarrin: registry file '%s' is %s; the registry starts empty and the file "
                     "is left unchanged\n",
                     m_hostPath.c_str(), UnreadableReason(read));
        m_writable = false;
        return RegistryTree{};
    }
    RegFileText decoded = DecodeRegFile(text);
    m_layout = decoded.layout;
    RegParseResult parsed = decoded.utf8
                                ? ParseRegFile(*decoded.utf8)
                                : RegParseResult{std::nullopt, decoded.errorLine, decoded.error};
    if (parsed.tree)
        return std::move(*parsed.tree);
    std::fprintf(stderr,
                 "quarrin: registry file '%s' line %d: %s; the registry starts empty and the "
                 "file is left unchanged\n",
                 m_hostPath.c_str(), parsed.errorLine, parsed.error.c_str());
    m_writable = false;
    return RegistryTree{};
}

DWORD RegistryFile::Save(const RegistryTree& tree) {
    if (!m_writable)
        return ERROR_SUCCESS;
    std::string temporary = m_hostPath + ".tmp";
    std::wstring temporaryDevice = DevicePathOf(temporary);
    if (DWORD error = RunHook(FileOp::Create, temporaryDevice))
        return error;
    // Never through a link, and never waiting for the reader of a pipe.
    int fd = open(temporary.c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0)
        return Win32ErrorFromErrno(errno);
    std::string text = EncodeRegFile(FormatRegFile(tree), m_layout);
    HookDecision decision =
        m_files != nullptr ? m_files->RunTransferHook(FileOp::Write, temporaryDevice, text.size())
                           : HookDecision{};
    if (decision.error != ERROR_SUCCESS) {
        close(fd);
        unlink(temporary.c_str());
        return decision.error;
    }
    std::size_t size =
        decision.tornBytes ? std::min(*decision.tornBytes, text.size()) : text.size();
    bool written = WriteAll(fd, text.data(), size) && fsync(fd) == 0;
    DWORD error = written ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    close(fd);
    if (decision.tornBytes) {
        if (m_files->Hook() != nullptr)
            m_files->Hook()->AfterTornWrite();
        // A cut-off temporary file must never replace the good one.
        if (size < text.size() && error == ERROR_SUCCESS)
            error = ERROR_WRITE_FAULT;
    }
    if (error == ERROR_SUCCESS)
        error = RunHook(FileOp::Move, DevicePathOf(m_hostPath));
    if (error == ERROR_SUCCESS && rename(temporary.c_str(), m_hostPath.c_str()) != 0) {
        error = Win32ErrorFromErrno(errno);
    }
    if (error != ERROR_SUCCESS) {
        unlink(temporary.c_str());
        return error;
    }
    SyncFolder(ParentOf(m_hostPath));
    return ERROR_SUCCESS;
}

}  // namespace quarrin::platform
