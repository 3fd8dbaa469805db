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
#include "platform/host/HostScreen.h"
#include "platform/host/PowerCutHook.h"
#include "platform/host/RealTimeScheduler.h"
#include "platform/host/WindowSink.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/RegistryFile.h"
#include "platform/serial/HostSerialDevice.h"
#include "platform/storage/StorageManager.h"

extern char** environ;

namespace quarrin::platform {

HostDebugOutput::HostDebugOutput(const std::string& logFile) : m_wanted(!logFile.empty()) {
    if (m_wanted)
        m_log = std::fopen(logFile.c_str(), "ab");
}

HostDebugOutput::~HostDebugOutput() {
    if (m_log != nullptr)
        std::fclose(m_log);
}

void HostDebugOutput::Write(const std::wstring& line) {
    std::string bytes = WideToUtf8(line);
    std::lock_guard lock(m_lock);
    // One write per line, unbuffered, so lines of several threads never interleave.
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (m_log != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), m_log);
        std::fflush(m_log);
    }
}

void HostProgressOutput::Write(const std::wstring& line) {
    std::string bytes = WideToUtf8(line) + "\n";
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
}

DWORD HostProcessLauncher::Launch(const std::string& hostPath, const std::wstring&, DWORD) {
    struct stat info {};
    if (stat(hostPath.c_str(), &info) != 0)
        return Win32ErrorFromErrno(errno);
    // The device's volumes know no execute permission: any file may be started, and one
    // that is not a program fails with ERROR_BAD_EXE_FORMAT. Files unpacked or copied onto
    // the device tree carry no execute bit, so it is added here.
    if ((info.st_mode & S_IXUSR) == 0 && chmod(hostPath.c_str(), info.st_mode | S_IXUSR) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Detached: the started program gets its own session and outlives the loader.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(hostPath.c_str()), nullptr};
    int error = posix_spawn(&pid, hostPath.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return Win32ErrorFromErrno(error);
    return ERROR_SUCCESS;
}

namespace {

void DeclareStores(StorageManager& storage, DeviceFileSystem& files,
                   const std::vector<std::pair<int, std::string>>& stores) {
    if (stores.empty()) {
        if (files.ResolveIgnoringMounts(L"Storage Card").IsDirectory()) {
            storage.DeclareStore(L"DSK1:", L"Storage Card");
        }
        return;
    }
    for (const auto& [number, volume] : stores) {
        storage.DeclareStore(L"DSK" + std::to_wstring(number) + L":", Utf8ToWide(volume));
    }
}

}  // namespace

HostPlatform::HostPlatform(const HostOptions& options)
    : m_scheduler(std::make_unique<RealTimeScheduler>(options.clockRate)),
      m_files(std::make_unique<DeviceFileSystem>(options.deviceRoot)),
      m_processes(std::make_unique<HostProcessLauncher>()),
      m_debug(std::make_unique<HostDebugOutput>(options.logFile)),
      m_shell(std::make_unique<HostShellWindows>()),
      m_comPorts(std::make_unique<HostComPorts>(options.comPorts)),
      m_screen(std::make_unique<HostScreen>(options.screenWidth, options.screenHeight,
                                            options.screenshotDir, options.screenTraceFile)),
      m_touch(std::make_unique<HostTouchCalibration>(options.touchCalibrated)) {
    std::setlocale(LC_ALL, "C.UTF-8");
    if (options.window) {
        m_screen->ShowInWindow(
            OpenLiveWindow(options.screenWidth, options.screenHeight, options.windowSnapshot));
    }
    if (auto powerCut = PowerCutSettingsFromEnvironment()) {
        m_powerCut = std::make_unique<PowerCutHook>(std::move(*powerCut));
        m_files->SetHook(m_powerCut.get());
    }
    for (const auto& [volume, folder] : options.volumeFolders)
        m_files->SetVolumeFolder(volume, folder);
    m_files->SetReadOnly(options.readOnly);
    if (!options.readOnly) {
        std::string registryPath =
            options.registryFile.empty() ? m_files->Root() + "/registry.reg" : options.registryFile;
        m_registryFile = std::make_unique<RegistryFile>(registryPath, m_files.get());
        m_registry = std::make_unique<Registry>(m_registryFile->Load(), m_registryFile.get());
    }
    m_storage = std::make_unique<StorageManager>(*m_files);
    DeclareStores(*m_storage, *m_files, options.stores);
    Services services;
    services.scheduler = m_scheduler.get();
    services.files = m_files.get();
    services.processes = m_processes.get();
    services.debug = m_debug.get();
    services.shell = m_shell.get();
    services.devices = m_comPorts.get();
    services.screen = m_screen.get();
    if (options.progress) {
        m_progress = std::make_unique<HostProgressOutput>();
        services.progress = m_progress.get();
    }
    services.registry = m_registry.get();
    services.storage = m_storage.get();
    services.touch = m_touch.get();
    InstallServices(services);
}

HostPlatform::~HostPlatform() {
    // A worker may still be finishing (the application worker rewrites the update record
    // after its last message): let it end before the services it uses go away.
    if (!kernel::WaitForAllThreads(30000))
        kernel::TerminateAllThreads();
    m_files->SetHook(nullptr);
    m_powerCut.reset();
    InstallServices(Services{});
}

}  // namespace quarrin::platform
