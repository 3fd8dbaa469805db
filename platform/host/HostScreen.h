// The host's screen: a frame in memory. Each present can leave a numbered PNG file in a
// folder (00001.png, 00002.png, ...) and lines in a text trace file, so a run can be looked
// at and compared afterwards.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/FrameScreen.h"

namespace quarrin::platform {

class OutputWriter;
class WindowSink;

class HostScreen : public FrameScreen {
public:
    // Says what went wrong with the screenshots or the trace, once each; the default writes
    // "quarrin: TEXT" to standard error.
    using Report = std::function<void(const std::string& text)>;

    // Empty names turn the screenshots or the trace off. Creates the screenshot folder. A
    // screenshot or a trace line that cannot be written is reported once; the run goes on.
    HostScreen(int width, int height, const std::string& screenshotDir,
               const std::string& traceFile, Report report = {});
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
    Report m_report;
    std::string m_screenshotDir;
    std::unique_ptr<OutputWriter> m_trace;  // written by a thread of its own
    std::string m_setupError;
    bool m_reportedPngError = false;
    std::unique_ptr<WindowSink> m_window;
};

}  // namespace quarrin::platform
