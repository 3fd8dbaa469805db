// What the host screen hands its frames to when --window shows them live. The window lives
// in a module loaded at run time (quarrin-window.so beside the executable), so SDL and the
// many libraries it pulls in load only when a window is asked for, never on a plain boot.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarrin::platform {

class WindowSink {
public:
    virtual ~WindowSink() = default;
    // A frame of the screen's size, 0x00RRGGBB pixels; returns without waiting.
    virtual void ShowFrame(const std::vector<std::uint32_t>& pixels) = 0;
};

// Loads the window module and opens a window of the given size; on failure says why on
// standard error and returns null (the loader then runs without a window).
std::unique_ptr<WindowSink> OpenLiveWindow(int width, int height, const std::string& snapshotFile);

}  // namespace quarrin::platform

// The module's one entry point.
extern "C" quarrin::platform::WindowSink* QuarrinOpenLiveWindow(int width, int height,
                                                                const char* snapshotFile);
