#include "tools/mkpackage/OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace quarrin::package {

namespace {

// The temporary file being written, for the signal handler: Ctrl-C while a large package
// is written, or a file size limit reached, must not leave it on the card. One at a time
// (the tool writes one package).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
constexpr int kStopSignalCount = 4;
char g_pending[4096];
struct sigaction g_previous[kStopSignalCount];

void RemovePendingAndStop(int signal) {
    if (g_pending[0] != '\0')
        unlink(g_pending);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void SetPending(const std::string& path) {
    if (path.size() >= sizeof g_pending || g_pending[0] != '\0')
        return;
    std::memcpy(g_pending, path.c_str(), path.size() + 1);
    struct sigaction action {};
    action.sa_handler = RemovePendingAndStop;
    for (int i = 0; i < kStopSignalCount; ++i) {
        // An ignored signal stays ignored (nohup; a size limit that makes writes fail).
        sigaction(kStopSignals[i], nullptr, &g_previous[i]);
        if (g_previous[i].sa_handler != SIG_IGN)
            sigaction(kStopSignals[i], &action, nullptr);
    }
}

void ClearPending(const std::string& path) {
    if (path != g_pending)
        return;
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_pending[0] = '\0';
}

// `path` with the links at its end followed (as open() would), so that a package reached
// through a link is replaced where it lies and the link stays.
std::string FollowLinks(const std::string& path) {
    fs::path current = path;
    std::error_code code;
    for (int i = 0; i < 40 && fs::is_symlink(current, code); ++i) {
        fs::path target = fs::read_symlink(current, code);
        if (code)
            break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current.string();
}

// The permissions a new file gets from this process (0644 less the umask), or those of the
// file it replaces.
mode_t ModeFor(const struct stat* replaced) {
    if (replaced != nullptr)
        return replaced->st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0644 & ~mask;
}

// Makes the rename durable. Some file systems refuse fsync on a folder; the content itself
// is on the disk already, and at worst the earlier file comes back after a power cut.
void SyncFolderOf(const std::string& path) {
    std::string folder = fs::path(path).parent_path().string();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    m_path = path;
    m_target = FollowLinks(path);
    struct stat info {};
    bool exists = stat(m_target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        error = path + ": is a folder";
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        m_fd = open(m_target.c_str(), O_WRONLY | O_CLOEXEC);
        if (m_fd < 0)
            error = path + ": " + std::strerror(errno);
        return m_fd >= 0;
    }
    std::string pattern = m_target + ".partial-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    m_fd = mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0) {
        error = path + ": cannot create a file beside it: " + std::strerror(errno);
        return false;
    }
    m_temporary = name.data();
    SetPending(m_temporary);
    // FAT refuses permissions; the file is then as the mount makes it.
    fchmod(m_fd, ModeFor(exists ? &info : nullptr));
    return true;
}

bool OutputFile::Commit(std::string& error) {
    if (m_temporary.empty()) {
        int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0) {
            error = m_path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (fsync(m_fd) != 0) {
        error = m_path + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        error = m_path + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    if (rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        error = m_path + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    ClearPending(m_temporary);
    m_temporary.clear();
    SyncFolderOf(m_target);
    return true;
}

void OutputFile::Discard() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        ClearPending(m_temporary);
        m_temporary.clear();
    }
}

}  // namespace quarrin::package
