// The host platform: the device's file system in a directory, programs started as host
// processes, the debug output on standard error and in a log file.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/host/OutputWriter.h"

namespace quarrin::platform {

class DeviceFileSystem;
class RealTimeScheduler;
class HostComPorts;
class HostScreen;
class Registry;
class RegistryFile;
class StorageManager;
class PowerCutHook;

struct HostOptions {
    std::string deviceRoot = "./device";
    std::string logFile;  // empty: standard error only
    double clockRate = 1.0;
    std::map<int, std::string> comPorts;  // COM port number -> host tty (--com N=DEVICE)
    int screenWidth = 800;
    int screenHeight = 480;
    std::string screenshotDir;    // empty: no PNG files
    std::string screenTraceFile;  // empty: no screen trace
    std::string registryFile;     // empty: "registry.reg" in the device root
    // Stores and the volume folder each one carries: {1, "Storage Card"} is "DSK1:". Empty:
    // "DSK1:" carries "Storage Card" when that folder exists in the device root.
    std::vector<std::pair<int, std::string>> stores;
    // What TouchCalibrate reports: the host has no calibration screen, so by default the
    // calibration counts as not completed.
    bool touchCalibrated = false;
    bool progress = false;       // progress lines on standard output
    bool window = false;         // show the screen in a window on the desktop
    std::string windowSnapshot;  // empty: no PNG of what the window shows
    // Read-only: the device file system refuses every change, the registry is neither read
    // nor written, and the loader's debug lines go nowhere (quarrin check, which reports what
    // they would say in its own words).
    bool readOnly = false;
    // Volumes whose folders lie elsewhere on the host: {L"SDHC", "/media/card"}.
    std::vector<std::pair<std::wstring, std::string>> volumeFolders;
};

// Debug lines on standard error and, with --log, in the log file, each written by a thread of
// its own (OutputWriter): a slow or vanished reader never holds back the loader. When one of
// the two fails, the other says so once; the update goes on.
class HostDebugOutput : public DebugOutput {
public:
    explicit HostDebugOutput(const std::string& logFile);
    ~HostDebugOutput() override;
    bool LogOpened() const { return m_logOpened; }
    void Write(const std::wstring& line) override;
    // A message of the host build itself: "quarrin: TEXT" on standard error and in the log.
    void Report(const std::string& text);

private:
    enum class Sink { StandardError, Log };
    void ReportTo(Sink sink, const std::string& text);

    std::mutex m_lock;  // guards the two pointers, which the destructor clears one by one
    std::unique_ptr<OutputWriter> m_stderr;
    std::unique_ptr<OutputWriter> m_log;
    bool m_logOpened = true;
};

// Progress lines on standard output, written by a thread of their own; a failure is reported
// once on the debug output.
class HostProgressOutput : public ProgressOutput {
public:
    explicit HostProgressOutput(HostDebugOutput& debug);
    void Write(const std::wstring& line) override;

private:
    OutputWriter m_out;
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

class HostTouchCalibration : public TouchCalibration {
public:
    explicit HostTouchCalibration(bool completed) : m_completed(completed) {}
    BOOL Calibrate() override { return m_completed ? TRUE : FALSE; }

private:
    bool m_completed;
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
    HostScreen& Screen() { return *m_screen; }

private:
    std::unique_ptr<RealTimeScheduler> m_scheduler;
    std::unique_ptr<DeviceFileSystem> m_files;
    std::unique_ptr<PowerCutHook> m_powerCut;  // test-only, from the environment
    std::unique_ptr<HostProcessLauncher> m_processes;
    std::unique_ptr<HostDebugOutput> m_debug;
    std::unique_ptr<HostShellWindows> m_shell;
    std::unique_ptr<HostComPorts> m_comPorts;
    std::unique_ptr<HostScreen> m_screen;
    std::unique_ptr<HostProgressOutput> m_progress;
    std::unique_ptr<RegistryFile> m_registryFile;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<StorageManager> m_storage;
    std::unique_ptr<HostTouchCalibration> m_touch;
};

}  // namespace quarrin::platform
