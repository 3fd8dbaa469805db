#include "platform/host/HostScreen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/host/OutputWriter.h"
#include "platform/host/PngFile.h"
#include "platform/host/WindowSink.h"

namespace quarrin::platform {

namespace {

std::string ScreenshotName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%05d.png", number);
    return name;
}

}  // namespace

HostScreen::HostScreen(int width, int height, const std::string& screenshotDir,
                       const std::string& traceFile, Report report)
    : FrameScreen(width, height), m_report(std::move(report)), m_screenshotDir(screenshotDir) {
    if (!m_report) {
        m_report = [](const std::string& text) {
            std::fprintf(stderr, "quarrin: %s\n", text.c_str());
        };
    }
    if (!screenshotDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(screenshotDir, error);
        if (!std::filesystem::is_directory(screenshotDir)) {
            m_setupError = "cannot create screenshot folder '" + screenshotDir + "'";
        }
    }
    if (!traceFile.empty()) {
        int fd = open(traceFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            m_setupError = "cannot open screen trace file '" + traceFile + "'";
        } else {
            m_trace = std::make_unique<OutputWriter>(
                fd, true, "screen trace file '" + traceFile + "'",
                [this](const std::string& failure) { m_report(failure); });
        }
    }
}

HostScreen::~HostScreen() = default;

void HostScreen::ShowInWindow(std::unique_ptr<WindowSink> window) {
    m_window = std::move(window);
}

void HostScreen::OnPresent(int number, const std::vector<std::string>& traceLines) {
    if (m_window != nullptr)
        m_window->ShowFrame(Frame());
    if (m_trace != nullptr) {
        std::string text;
        for (const std::string& line : traceLines)
            text += line + '\n';
        m_trace->Write(std::move(text));
    }
    if (m_screenshotDir.empty())
        return;
    std::string path = (std::filesystem::path(m_screenshotDir) / ScreenshotName(number)).string();
    if (!WritePngFile(path, Width(), Height(), Frame()) && !m_reportedPngError) {
        m_reportedPngError = true;  // once: a full disk would otherwise flood the output
        m_report("cannot write screenshot '" + path + "'");
    }
}

}  // namespace quarrin::platform
