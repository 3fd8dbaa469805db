#include "platform/host/HostServices.h"

#include <fcntl.h>
#include <signal.h>
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

HostDebugOutput::HostDebugOutput(const std::string& logFile)
    : m_stderr(std::make_unique<OutputWriter>(
          STDERR_FILENO, false, "standard error",
          [this](const std::string& failure) { ReportTo(Sink::Log, failure); })) {
    if (logFile.empty())
        return;
    int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    m_logOpened = fd >= 0;
    if (m_logOpened) {
        m_log = std::make_unique<OutputWriter>(
            fd, true, "log file '" + logFile + "'",
            [this](const std::string& failure) { ReportTo(Sink::StandardError, failure); });
    }
}

HostDebugOutput::~HostDebugOutput() {
    // Standard error first: while it drains, a failure of it is still told to the log.
    std::unique_ptr<OutputWriter> writer;
    for (auto* member : {&m_stderr, &m_log}) {
        {
            std::lock_guard guard(m_lock);
            writer = std::move(*member);
        }
        writer.reset();
    }
}

void HostDebugOutput::Write(const std::wstring& line) {
    std::string bytes = WideToUtf8(line);
    std::lock_guard guard(m_lock);
    if (m_stderr != nullptr)
        m_stderr->Write(bytes);
    if (m_log != nullptr)
        m_log->Write(std::move(bytes));
}

void HostDebugOutput::Report(const std::string& text) {
    ReportTo(Sink::StandardError, text);
    ReportTo(Sink::Log, text);
}

void HostDebugOutput::ReportTo(Sink sink, const std::string& text) {
    std::lock_guard guard(m_lock);
    OutputWriter* writer = sink == Sink::Log ? m_log.get() : m_stderr.get();
    if (writer != nullptr)
        writer->Write("quarrin: " + text + "\n");
}

HostProgressOutput::HostProgressOutput(HostDebugOutput& debug)
    : m_out(STDOUT_FILENO, false, "standard output",
            [&debug](const std::string& failure) { debug.Report(failure); }) {}

void HostProgressOutput::Write(const std::wstring& line) {
    m_out.Write(WideToUtf8(line) + "\n");
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
    // The loader ignores SIGPIPE (see HostPlatform); the started program gets the default.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
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
      m_screen(std::make_unique<HostScreen>(
          options.screenWidth, options.screenHeight, options.screenshotDir, options.screenTraceFile,
          [this](const std::string& text) { m_debug->Report(text); })),
      m_touch(std::make_unique<HostTouchCalibration>(options.touchCalibrated)) {
    // Only the character classes matter (case folding of names, the archive library's path
    // names); the other categories would cost a file each at every boot.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // A reader of standard output or error that goes away must not end the update: writes
    // to it then fail with EPIPE, which the output writers report once.
    signal(SIGPIPE, SIG_IGN);
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
    services.debug = options.readOnly ? nullptr : m_debug.get();
    services.shell = m_shell.get();
    services.devices = m_comPorts.get();
    services.screen = m_screen.get();
    if (options.progress) {
        m_progress = std::make_unique<HostProgressOutput>(*m_debug);
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
