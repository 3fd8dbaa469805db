// Shared by the storage-format and navigation-worker tests: the formatter module on the
// simulated device and a window that collects the worker's progress posts.
#pragma once

#include <filesystem>
#include <utility>
#include <vector>

#include "contract/UpdateContract.h"
#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"
#include "platform/window/WindowCore.h"

// Puts the built fatutil.dll into the device's "Windows" folder, where LoadLibraryW looks.
inline void InstallFatUtil(quarrin::platform::SimPlatform& sim) {
    sim.PutDirectory(L"Windows");
    std::filesystem::copy_file(FATUTIL_MODULE_PATH, sim.HostPath(L"Windows\\fatutil.dll"),
                               std::filesystem::copy_options::overwrite_existing);
}

// A window on the test thread's queue; the posts it received, in order.
class ProgressWindow {
public:
    ProgressWindow()
        : m_window(quarrin::platform::CreatePlatformWindow(
              [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; })) {}
    HWND Handle() const { return m_window; }

    std::vector<std::pair<WPARAM, LPARAM>> DrainProgress() {
        std::vector<std::pair<WPARAM, LPARAM>> posts;
        MSG msg{};
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_UPDATE_PROGRESS)
                posts.emplace_back(msg.wParam, msg.lParam);
        }
        return posts;
    }

private:
    HWND m_window;
};
