#include "platform/gdi/FrameScreen.h"

namespace quarrin::platform {

FrameScreen::FrameScreen(int width, int height) : m_width(width), m_height(height) {}

const std::vector<std::uint32_t>& FrameScreen::Frame() const {
    if (m_pixels.empty())
        m_pixels.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0);
    return m_pixels;
}

std::uint32_t* FrameScreen::Pixels() {
    Frame();
    return m_pixels.data();
}

void FrameScreen::Resize(int width, int height) {
    m_width = width;
    m_height = height;
    m_pixels.clear();
    m_pixels.shrink_to_fit();
}

void FrameScreen::Present(const std::vector<std::string>& drawLines) {
    ++m_presents;
    std::vector<std::string> lines = drawLines;
    lines.push_back("PRESENT " + std::to_string(m_presents));
    OnPresent(m_presents, lines);
}

}  // namespace quarrin::platform
