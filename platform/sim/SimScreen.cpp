#include "platform/sim/SimScreen.h"

#include "platform/gdi/GdiObjects.h"

namespace quarrin::platform {

void SimScreen::OnPresent(int number, const std::vector<std::string>& traceLines) {
    std::lock_guard guard(m_lock);
    m_trace.insert(m_trace.end(), traceLines.begin(), traceLines.end());
    m_presented = Frame();
    m_presents = number;
}

std::vector<std::string> SimScreen::TraceLines() const {
    std::lock_guard guard(m_lock);
    return m_trace;
}

int SimScreen::PresentCount() const {
    std::lock_guard guard(m_lock);
    return m_presents;
}

COLORREF SimScreen::PresentedPixel(int x, int y) const {
    std::lock_guard guard(m_lock);
    if (x < 0 || y < 0 || x >= Width() || y >= Height() || m_presented.empty())
        return 0;
    return gdi::ColorFromPixel(m_presented[static_cast<std::size_t>(y) * Width() + x]);
}

std::vector<std::uint32_t> SimScreen::PresentedFrame() const {
    std::lock_guard guard(m_lock);
    return m_presented;
}

}  // namespace quarrin::platform
