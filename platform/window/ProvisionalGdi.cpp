// FIXME: provisional drawing calls that draw nothing, until the drawing layer lands; the
// window core and the dialog link against them meanwhile.
#include "platform/api/GdiApi.h"

namespace {
HGDIOBJ Dummy() { return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(0x77)); }
}  // namespace

HFONT CreateFontIndirectW(const LOGFONTW*) { return Dummy(); }
HBRUSH CreateSolidBrush(COLORREF) { return Dummy(); }
HPEN CreatePen(int, int, COLORREF) { return Dummy(); }
HDC CreateCompatibleDC(HDC) { return reinterpret_cast<HDC>(Dummy()); }
HBITMAP CreateCompatibleBitmap(HDC, int, int) { return Dummy(); }
HGDIOBJ SelectObject(HDC, HGDIOBJ) { return nullptr; }
BOOL DeleteObject(HGDIOBJ) { return TRUE; }
BOOL DeleteDC(HDC) { return TRUE; }
int SetBkMode(HDC, int) { return 0; }
COLORREF SetTextColor(HDC, COLORREF) { return 0; }
COLORREF SetBkColor(HDC, COLORREF) { return 0; }
int FillRect(HDC, const RECT*, HBRUSH) { return 1; }
BOOL RoundRect(HDC, int, int, int, int, int, int) { return TRUE; }
int DrawTextW(HDC, LPCWSTR, int, LPRECT, UINT) { return 0; }
BOOL BitBlt(HDC, int, int, int, int, HDC, int, int, DWORD) { return TRUE; }
HDC GetDC(HWND) { return reinterpret_cast<HDC>(Dummy()); }
int ReleaseDC(HWND, HDC) { return 1; }
int GetSystemMetrics(int index) { return index == SM_CXSCREEN ? 800 : 480; }
