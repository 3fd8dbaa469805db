// The host platform: the device's file system in a directory, programs started as host
// processes, the debug output on standard error and in a log file.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace quarrin::platform {

class DeviceFileSystem;
class RealTimeScheduler;
class HostComPorts;
class Registry;
class RegistryFile;

struct HostOptions {
    std::string deviceRoot = "./device";
    std::string logFile;      // empty: standard error only
    double clockRate = 1.0;
    std::map<int, std::string> comPorts;  // COM port number -> host tty (--com N=DEVICE)
    std::string registryFile;  // empty: "registry.reg" in the device root
};

class HostDebugOutput : public DebugOutput {
public:
    explicit HostDebugOutput(const std::string& logFile);
    ~HostDebugOutput() override;
    bool LogOpened() const { return m_log != nullptr || !m_wanted; }
    void Write(const std::wstring& line) override;

private:
    std::mutex m_lock;
    std::FILE* m_log = nullptr;
    bool m_wanted = false;
};

class HostProcessLauncher : public ProcessLauncher {
public:
    DWORD Launch(const std::string& hostPath, const std::wstring& devicePath,
                 DWORD creationFlags) override;
};

// The host has no shell windows: FindWindowW finds nothing.
class HostShellWindows : public ShellWindows {
public:
    HWND Find(const std::wstring&, const std::wstring&) override { return nullptr; }
    bool Show(HWND, int) override { return false; }
    bool IsVisible(HWND) override { return false; }
};

// Owns the host services and installs them for the process.
class HostPlatform {
public:
    explicit HostPlatform(const HostOptions& options);
    ~HostPlatform();
    HostPlatform(const HostPlatform&) = delete;
    HostPlatform& operator=(const HostPlatform&) = delete;

    HostDebugOutput& Debug() { return *m_debug; }
    DeviceFileSystem& Files() { return *m_files; }

private:
    std::unique_ptr<RealTimeScheduler> m_scheduler;
    std::unique_ptr<DeviceFileSystem> m_files;
    std::unique_ptr<HostProcessLauncher> m_processes;
    std::unique_ptr<HostDebugOutput> m_debug;
    std::unique_ptr<HostShellWindows> m_shell;
    std::unique_ptr<HostComPorts> m_comPorts;
    std::unique_ptr<RegistryFile> m_registryFile;
    std::unique_ptr<Registry> m_registry;
};

}  // namespace quarrin::platform
