#include "platform/gdi/FrameScreen.h"

namespace quarrin::platform {

FrameScreen::FrameScreen(int width, int height)
    : m_width(width),
      m_height(height),
      m_pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0) {}

void FrameScreen::Resize(int width, int height) {
    m_width = width;
    m_height = height;
    m_pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
}

void FrameScreen::Present(const std::vector<std::string>& drawLines) {
    ++m_presents;
    std::vector<std::string> lines = drawLines;
    lines.push_back("PRESENT " + std::to_string(m_presents));
    OnPresent(m_presents, lines);
}

}  // namespace quarrin::platform
