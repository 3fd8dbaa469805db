// The entry point of the window module: a LiveWindow behind the WindowSink interface.
#include "platform/host/LiveWindow.h"
#include "platform/host/WindowSink.h"

namespace {

class LiveWindowSink : public quarrin::platform::WindowSink {
public:
    LiveWindowSink(int width, int height, const char* snapshotFile)
        : m_window(width, height, snapshotFile != nullptr ? snapshotFile : "") {}
    void ShowFrame(const std::vector<std::uint32_t>& pixels) override {
        m_window.ShowFrame(pixels);
    }

private:
    quarrin::platform::LiveWindow m_window;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) quarrin::platform::WindowSink*
QuarrinOpenLiveWindow(int width, int height, const char* snapshotFile) {
    return new LiveWindowSink(width, height, snapshotFile);
}
