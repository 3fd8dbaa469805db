// Drawing objects and device contexts. They live in the kernel's handle table, so an HDC or
// HGDIOBJ is a kernel handle; a device context holds its selected objects by reference, so
// deleting an object that is still selected does no harm: the DC keeps using it until
// something else is selected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/GdiApi.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::gdi {

class GdiObject : public kernel::KernelObject {
public:
    HGDIOBJ handle = nullptr;  // its own handle, which SelectObject hands back later
    bool stock = false;        // a default object: never deleted
};

class Brush : public GdiObject {
public:
    COLORREF color = 0;
};

class Pen : public GdiObject {
public:
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
};

class Font : public GdiObject {
public:
    LOGFONTW logFont{};
};

// A picture in memory: 32-bit pixels 0x00RRGGBB, row by row. It also keeps the trace lines
// of the drawing calls made into it until it is copied to the screen.
class Bitmap : public GdiObject {
public:
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::vector<std::string> drawLines;
    bool selected = false;  // a bitmap can be selected into one memory DC at a time
};

// Where a device context draws: its bitmap's pixels, or the screen's frame.
struct Surface {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::vector<std::string>* drawLines = nullptr;
};

class DeviceContext : public kernel::KernelObject {
public:
    explicit DeviceContext(bool screen);
    ~DeviceContext() override;

    bool IsScreen() const { return m_screen; }
    // False when there is nothing to draw on (a screen DC without a screen service).
    bool GetSurface(Surface& surface);

    std::shared_ptr<Brush> brush;
    std::shared_ptr<Pen> pen;
    std::shared_ptr<Font> font;
    std::shared_ptr<Bitmap> bitmap;  // memory DCs only
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;

private:
    bool m_screen;
};

// Puts a new object into the handle table and returns its handle.
HGDIOBJ InsertGdiObject(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> LookupGdiObject(HGDIOBJ handle);
std::shared_ptr<DeviceContext> LookupDeviceContext(HDC dc);

// The defaults a new device context starts with.
std::shared_ptr<Brush> StockWhiteBrush();
std::shared_ptr<Pen> StockBlackPen();
std::shared_ptr<Font> StockSystemFont();
std::shared_ptr<Bitmap> StockDefaultBitmap();

// Lines drawn straight onto the screen DC; they go out with the next present.
std::vector<std::string>& ScreenDrawLines();

std::uint32_t PixelFromColor(COLORREF color);
COLORREF ColorFromPixel(std::uint32_t pixel);

}  // namespace quarrin::gdi
