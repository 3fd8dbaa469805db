// Creating, selecting and deleting drawing objects and device contexts, and the DC's text
// settings.
#include <algorithm>
#include <utility>

#include "platform/Platform.h"
#include "platform/common/Win32Failure.h"
#include "platform/gdi/GdiObjects.h"

using namespace quarrin;
using namespace quarrin::gdi;
using quarrin::platform::Fail;

namespace {

// Larger pictures than this are refused rather than allocated.
constexpr int GDI_MAX_BITMAP_SIDE = 16384;

// Swaps `object` into `slot` and returns the handle of the object it replaces.
template <class T>
HGDIOBJ Swap(std::shared_ptr<T>& slot, std::shared_ptr<T> object) {
    HGDIOBJ previous = slot ? slot->handle : nullptr;
    slot = std::move(object);
    return previous;
}

HGDIOBJ SelectBitmap(DeviceContext& dc, std::shared_ptr<Bitmap> bitmap) {
    // The screen has its own frame, and a picture belongs to one memory DC at a time.
    if (dc.IsScreen() || (bitmap->selected && bitmap != dc.bitmap)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!dc.bitmap->stock)
        dc.bitmap->selected = false;
    if (!bitmap->stock)
        bitmap->selected = true;
    return Swap(dc.bitmap, std::move(bitmap));
}

}  // namespace

HFONT CreateFontIndirectW(const LOGFONTW* logFont) {
    if (logFont == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    auto font = std::make_shared<Font>();
    font->logFont = *logFont;
    // The face name need not be terminated inside its array; make sure it is.
    font->logFont.lfFaceName[LF_FACESIZE - 1] = L'\0';
    return InsertGdiObject(font);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto brush = std::make_shared<Brush>();
    brush->color = color & 0xFFFFFF;
    return InsertGdiObject(brush);
}

HPEN CreatePen(int style, int width, COLORREF color) {
    auto pen = std::make_shared<Pen>();
    pen->style = style;
    pen->width = std::max(width, 1);  // width 0 means one pixel, as in GDI
    pen->color = color & 0xFFFFFF;
    return InsertGdiObject(pen);
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && !LookupDeviceContext(dc)) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto context = std::make_shared<DeviceContext>(false);
    return reinterpret_cast<HDC>(kernel::InsertHandle(context));
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (!LookupDeviceContext(dc))
        return Fail(ERROR_INVALID_HANDLE);
    if (width <= 0 || height <= 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (width > GDI_MAX_BITMAP_SIDE || height > GDI_MAX_BITMAP_SIDE) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return InsertGdiObject(bitmap);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    auto context = LookupDeviceContext(dc);
    auto item = LookupGdiObject(object);
    if (!context || !item)
        return Fail(ERROR_INVALID_HANDLE);
    if (auto brush = std::dynamic_pointer_cast<Brush>(item))
        return Swap(context->brush, brush);
    if (auto pen = std::dynamic_pointer_cast<Pen>(item))
        return Swap(context->pen, pen);
    if (auto font = std::dynamic_pointer_cast<Font>(item))
        return Swap(context->font, font);
    return SelectBitmap(*context, std::dynamic_pointer_cast<Bitmap>(item));
}

BOOL DeleteObject(HGDIOBJ object) {
    auto item = LookupGdiObject(object);
    if (!item) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!item->stock)
        kernel::RemoveHandle(reinterpret_cast<HANDLE>(object));
    return TRUE;
}

BOOL DeleteDC(HDC dc) {
    if (!LookupDeviceContext(dc)) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    kernel::RemoveHandle(reinterpret_cast<HANDLE>(dc));
    return TRUE;
}

int SetBkMode(HDC dc, int mode) {
    auto context = LookupDeviceContext(dc);
    if (!context || (mode != TRANSPARENT && mode != OPAQUE)) {
        kernel::SetLastErrorValue(context ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    return std::exchange(context->bkMode, mode);
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    auto context = LookupDeviceContext(dc);
    if (!context) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFF;  // CLR_INVALID
    }
    return std::exchange(context->textColor, color & 0xFFFFFF);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    auto context = LookupDeviceContext(dc);
    if (!context) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFF;  // CLR_INVALID
    }
    return std::exchange(context->bkColor, color & 0xFFFFFF);
}

// --- The screen ---------------------------------------------------------------------------

HDC GetDC(HWND) {
    auto context = std::make_shared<DeviceContext>(true);
    return reinterpret_cast<HDC>(kernel::InsertHandle(context));
}

int ReleaseDC(HWND, HDC dc) {
    auto context = LookupDeviceContext(dc);
    if (!context || !context->IsScreen())
        return 0;
    kernel::RemoveHandle(reinterpret_cast<HANDLE>(dc));
    return 1;
}

int GetSystemMetrics(int index) {
    platform::Screen* screen = platform::CurrentServices().screen;
    if (screen == nullptr)
        return 0;
    if (index == SM_CXSCREEN)
        return screen->Width();
    if (index == SM_CYSCREEN)
        return screen->Height();
    return 0;
}
