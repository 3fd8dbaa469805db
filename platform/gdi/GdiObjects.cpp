#include "platform/gdi/GdiObjects.h"

#include "platform/Platform.h"

namespace quarrin::gdi {

namespace {

template <class T>
std::shared_ptr<T> MakeStock(void (*init)(T&)) {
    auto object = std::make_shared<T>();
    object->stock = true;
    init(*object);
    InsertGdiObject(object);
    return object;
}

}  // namespace

DeviceContext::DeviceContext(bool screen)
    : brush(StockWhiteBrush()), pen(StockBlackPen()), font(StockSystemFont()), m_screen(screen) {
    if (!screen) {
        bitmap = StockDefaultBitmap();
    }
}

DeviceContext::~DeviceContext() {
    if (bitmap && !bitmap->stock)
        bitmap->selected = false;
}

bool DeviceContext::GetSurface(Surface& surface) {
    if (m_screen) {
        platform::Screen* screen = platform::CurrentServices().screen;
        if (screen == nullptr)
            return false;
        surface = {screen->Pixels(), screen->Width(), screen->Height(), &ScreenDrawLines()};
        return true;
    }
    // The shared default picture keeps no trace: nothing drawn on it can reach the screen.
    surface = {bitmap->pixels.data(), bitmap->width, bitmap->height,
               bitmap->stock ? nullptr : &bitmap->drawLines};
    return true;
}

HGDIOBJ InsertGdiObject(std::shared_ptr<GdiObject> object) {
    GdiObject* raw = object.get();
    raw->handle = reinterpret_cast<HGDIOBJ>(kernel::InsertHandle(std::move(object)));
    return raw->handle;
}

std::shared_ptr<GdiObject> LookupGdiObject(HGDIOBJ handle) {
    return kernel::LookupHandleAs<GdiObject>(reinterpret_cast<HANDLE>(handle));
}

std::shared_ptr<DeviceContext> LookupDeviceContext(HDC dc) {
    return kernel::LookupHandleAs<DeviceContext>(reinterpret_cast<HANDLE>(dc));
}

std::shared_ptr<Brush> StockWhiteBrush() {
    static auto brush = MakeStock<Brush>([](Brush& b) { b.color = RGB(255, 255, 255); });
    return brush;
}

std::shared_ptr<Pen> StockBlackPen() {
    static auto pen = MakeStock<Pen>([](Pen& p) { p.color = RGB(0, 0, 0); });
    return pen;
}

std::shared_ptr<Font> StockSystemFont() {
    static auto font = MakeStock<Font>([](Font& f) {
        f.logFont.lfHeight = -16;
        f.logFont.lfWeight = FW_NORMAL;
        f.logFont.lfQuality = ANTIALIASED_QUALITY;
        f.logFont.lfPitchAndFamily = FF_SWISS;
        std::wstring_view face = L"Arial";
        face.copy(f.logFont.lfFaceName, face.size());
    });
    return font;
}

// A memory DC starts with a 1 x 1 picture, as in GDI: it draws nothing worth seeing until
// a real bitmap is selected.
std::shared_ptr<Bitmap> StockDefaultBitmap() {
    static auto bitmap = MakeStock<Bitmap>([](Bitmap& b) {
        b.width = 1;
        b.height = 1;
        b.pixels.assign(1, 0);
    });
    return bitmap;
}

std::vector<std::string>& ScreenDrawLines() {
    static std::vector<std::string> lines;
    return lines;
}

std::uint32_t PixelFromColor(COLORREF color) {
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

COLORREF ColorFromPixel(std::uint32_t pixel) {
    return PixelFromColor(pixel & 0xFFFFFF);
}

}  // namespace quarrin::gdi
