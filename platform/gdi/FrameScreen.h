// The part of a screen that every platform shares: the frame's pixels and the numbering of
// presents. A platform derives from it and decides what a present leaves behind (files on
// the host, recorded frames in the simulation).
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace quarrin::platform {

class FrameScreen : public Screen {
public:
    FrameScreen(int width, int height);

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    std::uint32_t* Pixels() override;
    // The frame comes into being, black, when it is first drawn on or shown: a boot that
    // starts the application at once never pays for a screen's worth of memory.
    const std::vector<std::uint32_t>& Frame() const;
    // A new, black frame of the given size (before anything is drawn).
    void Resize(int width, int height);

    // Numbers the present from 1 and hands the drawing lines, followed by "PRESENT n", on.
    void Present(const std::vector<std::string>& drawLines) override;

protected:
    virtual void OnPresent(int number, const std::vector<std::string>& traceLines) = 0;

private:
    int m_width;
    int m_height;
    mutable std::vector<std::uint32_t> m_pixels;  // empty until first used
    int m_presents = 0;
};

}  // namespace quarrin::platform
