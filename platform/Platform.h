// The services behind the Win32 functions of this layer. A platform implementation (host
// or simulated) creates them and installs them once at start; the API functions dispatch
// to the installed set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace quarrin::kernel {
class Scheduler;
}

namespace quarrin::platform {

class DeviceFileSystem;
class Registry;
class StorageManager;

// Receives every kernel debug line, exactly as formatted ("\r\n" included).
class DebugOutput {
public:
    virtual ~DebugOutput() = default;
    virtual void Write(const std::wstring& line) = 0;
};

// Starts a program. hostPath is the resolved executable; the device path is given for
// recording. Returns ERROR_SUCCESS or the Win32 error of the failed start.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    virtual DWORD Launch(const std::string& hostPath, const std::wstring& devicePath,
                         DWORD creationFlags) = 0;
};

// Windows of other programs that the loader looks for (the shell's task bar).
class ShellWindows {
public:
    virtual ~ShellWindows() = default;
    virtual HWND Find(const std::wstring& className, const std::wstring& windowName) = 0;
    virtual bool Show(HWND window, int command) = 0;
    virtual bool IsVisible(HWND window) = 0;
};

// Devices opened by name with CreateFileW ("COM2:"). Returns the handle, or
// INVALID_HANDLE_VALUE with the last error set.
class DeviceNamespace {
public:
    virtual ~DeviceNamespace() = default;
    virtual HANDLE Open(const std::wstring& name, DWORD access, DWORD share, DWORD disposition) = 0;
};

// The platform's interactive touch-screen calibration. Returns 1 when the user completed it;
// the calibration values are then under HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\TOUCH".
class TouchCalibration {
public:
    virtual ~TouchCalibration() = default;
    virtual BOOL Calibrate() = 0;
};

// What the unit shows: a frame of Width() x Height() pixels that the drawing layer paints
// into. Present is called after each copy of a finished picture to the screen, with the
// trace lines of the drawing calls that made that picture.
class Screen {
public:
    virtual ~Screen() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Row by row, 0x00RRGGBB each, Width() * Height() of them.
    virtual std::uint32_t* Pixels() = 0;
    virtual void Present(const std::vector<std::string>& drawLines) = 0;
};

// Progress lines for a person or a script following a run (host: standard output).
class ProgressOutput {
public:
    virtual ~ProgressOutput() = default;
    virtual void Write(const std::wstring& line) = 0;
};

struct Services {
    kernel::Scheduler* scheduler = nullptr;
    DeviceFileSystem* files = nullptr;
    ProcessLauncher* processes = nullptr;
    DebugOutput* debug = nullptr;
    ShellWindows* shell = nullptr;
    DeviceNamespace* devices = nullptr;
    Screen* screen = nullptr;
    ProgressOutput* progress = nullptr;
    Registry* registry = nullptr;
    StorageManager* storage = nullptr;
    TouchCalibration* touch = nullptr;
};

void InstallServices(const Services& services);
Services& CurrentServices();

}  // namespace quarrin::platform
