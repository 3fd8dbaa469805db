// A window on the host's desktop that shows the unit's screen while the loader runs.
//
// Presents come from the dialog thread, but the window's video calls all stay on one thread
// of their own: the presenting thread only copies the frame into a one-frame mailbox (the
// newest frame wins) and wakes the window thread, so it never waits for the display. Nothing
// touches the display until the first frame arrives, so a run that shows no screen never
// opens a window. Closing the window hides it and stops showing frames; the loader goes on,
// as a head unit has no close button.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quarrin::platform {

class LiveWindow {
public:
    // `snapshotFile`, when set, receives a PNG of what the window shows after every frame.
    LiveWindow(int width, int height, std::string snapshotFile);
    ~LiveWindow();
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;

    // Hands a frame of width x height pixels 0x00RRGGBB to the window; starts the window
    // thread on the first call. Returns without waiting for the window.
    void ShowFrame(const std::vector<std::uint32_t>& pixels);

private:
    class Session;

    // Shared by the presenting thread and the window thread, under `lock`.
    struct Mailbox {
        std::mutex lock;
        std::vector<std::uint32_t> frame;
        bool hasFrame = false;
        bool windowReady = false;  // the window thread takes wake-up events
        bool closed = false;       // no display, or the window was closed: drop frames
        bool stopping = false;
    };

    void RunWindowThread();
    void ReportNoDisplay();

    int m_width;
    int m_height;
    std::string m_snapshotFile;
    Mailbox m_mailbox;
    bool m_started = false;  // touched by the presenting thread only
    std::thread m_thread;
};

// True when the environment names a display (X11 or Wayland) a window could open on.
bool HaveDisplay();

}  // namespace quarrin::platform
