#include "platform/host/HostServices.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/ErrnoMap.h"
#include "platform/common/TextCodec.h"
#include "platform/host/RealTimeScheduler.h"
#include "platform/serial/HostSerialDevice.h"
#include "platform/registry/RegistryFile.h"

extern char** environ;

namespace quarrin::platform {

HostDebugOutput::HostDebugOutput(const std::string& logFile) : m_wanted(!logFile.empty()) {
    if (m_wanted) m_log = std::fopen(logFile.c_str(), "ab");
}

HostDebugOutput::~HostDebugOutput() {
    if (m_log != nullptr) std::fclose(m_log);
}

void HostDebugOutput::Write(const std::wstring& line) {
    std::string bytes = WideToUtf8(line);
    std::lock_guard lock(m_lock);
    // One write per line, unbuffered, so lines of several threads never interleave.
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (m_log != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), m_log);
        std::fflush(m_log);
    }
}

DWORD HostProcessLauncher::Launch(const std::string& hostPath, const std::wstring&, DWORD) {
    struct stat info {};
    if (stat(hostPath.c_str(), &info) != 0) return Win32ErrorFromErrno(errno);
    if ((info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0) return ERROR_ACCESS_DENIED;
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Detached: the started program gets its own session and outlives the loader.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(hostPath.c_str()), nullptr};
    int error = posix_spawn(&pid, hostPath.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return Win32ErrorFromErrno(error);
    return ERROR_SUCCESS;
}

HostPlatform::HostPlatform(const HostOptions& options)
    : m_scheduler(std::make_unique<RealTimeScheduler>(options.clockRate)),
      m_files(std::make_unique<DeviceFileSystem>(options.deviceRoot)),
      m_processes(std::make_unique<HostProcessLauncher>()),
      m_debug(std::make_unique<HostDebugOutput>(options.logFile)),
      m_shell(std::make_unique<HostShellWindows>()),
      m_comPorts(std::make_unique<HostComPorts>(options.comPorts)) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::string registryPath = options.registryFile.empty()
                                   ? m_files->Root() + "/registry.reg"
                                   : options.registryFile;
    m_registryFile = std::make_unique<RegistryFile>(registryPath, m_files.get());
    m_registry = std::make_unique<Registry>(m_registryFile->Load(), m_registryFile.get());
    Services services;
    services.scheduler = m_scheduler.get();
    services.files = m_files.get();
    services.processes = m_processes.get();
    services.debug = m_debug.get();
    services.shell = m_shell.get();
    services.devices = m_comPorts.get();
    services.registry = m_registry.get();
    InstallServices(services);
}

HostPlatform::~HostPlatform() { InstallServices(Services{}); }

}  // namespace quarrin::platform
