// The host's screen: a frame in memory. Each present can leave a numbered PNG file in a
// folder (00001.png, 00002.png, ...) and lines in a text trace file, so a run can be looked
// at and compared afterwards.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/FrameScreen.h"

namespace quarrin::platform {

class WindowSink;

class HostScreen : public FrameScreen {
public:
    // Empty names turn the screenshots or the trace off. Creates the screenshot folder.
    HostScreen(int width, int height, const std::string& screenshotDir,
               const std::string& traceFile);
    ~HostScreen() override;
    HostScreen(const HostScreen&) = delete;
    HostScreen& operator=(const HostScreen&) = delete;

    // Empty when the folder and the trace file are ready, else what went wrong.
    const std::string& SetupError() const { return m_setupError; }

    // Also shows every present in `window` from now on.
    void ShowInWindow(std::unique_ptr<WindowSink> window);

protected:
    void OnPresent(int number, const std::vector<std::string>& traceLines) override;

private:
    std::string m_screenshotDir;
    std::FILE* m_trace = nullptr;
    std::string m_setupError;
    bool m_reportedPngError = false;
    std::unique_ptr<WindowSink> m_window;
};

}  // namespace quarrin::platform
