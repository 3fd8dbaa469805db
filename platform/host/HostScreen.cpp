#include "platform/host/HostScreen.h"

#include <filesystem>
#include <system_error>

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
                       const std::string& traceFile)
    : FrameScreen(width, height), m_screenshotDir(screenshotDir) {
    if (!screenshotDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(screenshotDir, error);
        if (!std::filesystem::is_directory(screenshotDir)) {
            m_setupError = "cannot create screenshot folder '" + screenshotDir + "'";
        }
    }
    if (!traceFile.empty()) {
        m_trace = std::fopen(traceFile.c_str(), "wb");
        if (m_trace == nullptr)
            m_setupError = "cannot open screen trace file '" + traceFile + "'";
    }
}

HostScreen::~HostScreen() {
    if (m_trace != nullptr)
        std::fclose(m_trace);
}

void HostScreen::ShowInWindow(std::unique_ptr<WindowSink> window) {
    m_window = std::move(window);
}

void HostScreen::OnPresent(int number, const std::vector<std::string>& traceLines) {
    if (m_window != nullptr)
        m_window->ShowFrame(Frame());
    if (m_trace != nullptr) {
        for (const std::string& line : traceLines) {
            std::fwrite(line.data(), 1, line.size(), m_trace);
            std::fputc('\n', m_trace);
        }
        std::fflush(m_trace);
    }
    if (m_screenshotDir.empty())
        return;
    std::string path = (std::filesystem::path(m_screenshotDir) / ScreenshotName(number)).string();
    if (!WritePngFile(path, Width(), Height(), Frame()) && !m_reportedPngError) {
        m_reportedPngError = true;  // once: a full disk would otherwise flood the output
        std::fprintf(stderr, "quarrin: cannot write screenshot '%s'\n", path.c_str());
    }
}

}  // namespace quarrin::platform
