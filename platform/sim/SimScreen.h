// The simulated screen: records the screen trace and keeps the last presented frame, so
// tests can read what the unit showed, line by line and pixel by pixel.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/api/GdiApi.h"
#include "platform/gdi/FrameScreen.h"

namespace quarrin::platform {

class SimScreen : public FrameScreen {
public:
    SimScreen(int width = 800, int height = 480) : FrameScreen(width, height) {}

    std::vector<std::string> TraceLines() const;
    int PresentCount() const;
    // A pixel of the last presented frame as a COLORREF (0x00BBGGRR); black before any.
    COLORREF PresentedPixel(int x, int y) const;
    std::vector<std::uint32_t> PresentedFrame() const;

protected:
    void OnPresent(int number, const std::vector<std::string>& traceLines) override;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_trace;
    std::vector<std::uint32_t> m_presented;
    int m_presents = 0;
};

}  // namespace quarrin::platform
