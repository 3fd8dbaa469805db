// The simulated platform for tests: a temporary device root, a virtual clock, recorded debug
// lines, started programs and task-bar calls, and injected faults.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/registry/Registry.h"
#include "platform/serial/SimSerialDevice.h"
#include "platform/sim/SimScreen.h"
#include "platform/sim/VirtualScheduler.h"
#include "platform/storage/StorageManager.h"

namespace quarrin::platform {

class SimPlatform {
public:
    SimPlatform();
    ~SimPlatform();
    SimPlatform(const SimPlatform&) = delete;
    SimPlatform& operator=(const SimPlatform&) = delete;

    // --- The device's files, seen from the test -------------------------------------------
    const std::string& Root() const;
    std::string HostPath(const std::wstring& devicePath) const;
    void PutFile(const std::wstring& devicePath, const std::string& bytes);
    void PutDirectory(const std::wstring& devicePath);
    bool Exists(const std::wstring& devicePath) const;
    std::string FileBytes(const std::wstring& devicePath) const;

    // --- Faults -----------------------------------------------------------------------------
    // The next `count` operations `op` on `devicePath` (compared without regard to case or a
    // leading backslash) fail with `error`; count -1 fails all of them.
    // `skip` operations pass first.
    void FailOperation(FileOp op, const std::wstring& devicePath, DWORD error, int count = 1,
                       int skip = 0);
    // The next start of a program fails with `error`.
    void FailNextLaunch(DWORD error);
    // Number of mutating file operations so far.
    int MutationCount() const;

    // --- What the loader did ----------------------------------------------------------------
    std::vector<std::wstring> DebugLines() const;
    std::vector<std::wstring> ProgressLines() const;
    struct Launch {
        std::wstring devicePath;
        DWORD creationFlags;
    };
    std::vector<Launch> Launches() const;

    // A task-bar window of class "HHTaskBar", visible, and the ShowWindow commands it got.
    HWND AddTaskBar();
    bool TaskBarVisible() const;
    std::vector<int> TaskBarCommands() const;

    // --- Serial lines ----------------------------------------------------------------------
    // Connects a simulated counterpart to COM port `number`; "COMn:" opens only when one is.
    SimSerialPeer& AttachSerialPeer(int number) { return m_comPorts->Attach(number); }

    VirtualScheduler& Scheduler() { return *m_scheduler; }
    DeviceFileSystem& Files() { return *m_files; }
    // The screen, 800 x 480 unless a test resizes it before drawing.
    SimScreen& Screen() { return *m_screen; }
    void SetScreenSize(int width, int height) { m_screen->Resize(width, height); }
    std::vector<std::string> ScreenTrace() const { return m_screen->TraceLines(); }
    // The registry, kept in memory; it starts with the device's default keys.
    Registry& DeviceRegistry() { return *m_registry; }
    std::uint64_t NowMs();

    // The stores: "DSK1:" carries "Storage Card" (SIM_CARD_SECTORS sectors) until a test
    // declares or removes stores itself.
    StorageManager& Storage() { return *m_storage; }
    // What TouchCalibrate returns (0 until set), and how often it was called.
    void SetTouchCalibrationResult(BOOL result);
    int TouchCalibrationCalls() const;

private:
    struct State;
    Services m_previous;  // restored at the end, so simulations can nest
    std::unique_ptr<State> m_state;
    std::unique_ptr<VirtualScheduler> m_scheduler;
    std::unique_ptr<DeviceFileSystem> m_files;
    std::unique_ptr<SimComPorts> m_comPorts;
    std::unique_ptr<SimScreen> m_screen;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<StorageManager> m_storage;
};

inline constexpr ULONGLONG SIM_CARD_SECTORS = 7744512;  // a 3.7 GiB card

}  // namespace quarrin::platform
