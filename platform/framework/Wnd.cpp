#include "platform/framework/Wnd.h"

#include "platform/window/WindowCore.h"
#include "resources/Resource.h"

const CWnd wndTop;

CWnd::CWnd() = default;

CWnd::~CWnd() {
    DestroyPlatformWindow();
}

void CWnd::CreatePlatformWindowFor() {
    m_hWnd = quarrin::platform::CreatePlatformWindow(
        [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            return WindowProc(message, wParam, lParam);
        });
}

void CWnd::DestroyPlatformWindow() {
    m_controls.clear();
    if (m_hWnd != nullptr) {
        HWND window = m_hWnd;
        m_hWnd = nullptr;
        ::DestroyWindow(window);
    }
}

CWnd* CWnd::AddControl(int id, bool visible) {
    auto control = std::make_unique<CWnd>();
    control->CreatePlatformWindowFor();
    control->m_controlId = id;
    control->m_visible = visible;
    CWnd* raw = control.get();
    m_controls[id] = std::move(control);
    return raw;
}

CWnd* CWnd::GetDlgItem(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second.get();
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

void CWnd::SetWindowText(LPCWSTR text) {
    m_text = text != nullptr ? text : L"";
}

BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
    if (!(flags & SWP_NOMOVE)) {
        m_rect.right = x + (m_rect.right - m_rect.left);
        m_rect.bottom = y + (m_rect.bottom - m_rect.top);
        m_rect.left = x;
        m_rect.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        m_rect.right = m_rect.left + cx;
        m_rect.bottom = m_rect.top + cy;
    }
    if (flags & SWP_SHOWWINDOW)
        m_visible = true;
    return TRUE;
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL) {
    m_rect = RECT{x, y, x + width, y + height};
}

void CWnd::CenterWindow() {
    int width = m_rect.right - m_rect.left;
    int height = m_rect.bottom - m_rect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    m_rect = RECT{x, y, x + width, y + height};
}

BOOL CWnd::EnableWindow(BOOL enable) {
    BOOL wasDisabled = !m_enabled;
    m_enabled = enable != FALSE;
    return wasDisabled;
}

BOOL CWnd::ShowWindow(int command) {
    BOOL wasVisible = m_visible;
    m_visible = command != SW_HIDE;
    return wasVisible;
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<UINT>(wParam),
                          POINT{static_cast<LONG>(static_cast<short>(lParam & 0xFFFF)),
                                static_cast<LONG>(static_cast<short>((lParam >> 16) & 0xFFFF))});
            return 0;
        case WM_COMMAND:
            if (OnCommand(wParam, lParam))
                return 0;
            break;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: {
            CWnd* control = nullptr;
            for (auto& [id, child] : m_controls) {
                if (reinterpret_cast<LPARAM>(child->m_hWnd) == lParam)
                    control = child.get();
            }
            CWnd* target = control != nullptr ? control : this;
            UINT kind = message == WM_CTLCOLORDLG ? CTLCOLOR_DLG : CTLCOLOR_BTN;
            return reinterpret_cast<LRESULT>(
                OnCtlColor(reinterpret_cast<HDC>(wParam), target, kind));
        }
        default:
            break;
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETICON: {
            int slot = wParam == ICON_BIG ? 1 : 0;
            HICON previous = m_icons[slot];
            m_icons[slot] = reinterpret_cast<HICON>(lParam);
            return reinterpret_cast<LRESULT>(previous);
        }
        case WM_SETFONT:
            m_font = reinterpret_cast<HFONT>(wParam);
            if (lParam != 0)
                Invalidate(FALSE);
            return 0;
        case WM_CLOSE:
            ::DestroyWindow(m_hWnd);
            return 0;
        default:
            return 0;
    }
}

void CWnd::OnPaint() {
    PAINTSTRUCT paint;
    BeginPaint(m_hWnd, &paint);
    EndPaint(m_hWnd, &paint);
}

void CWnd::OnClose() {
    DefWindowProc(WM_CLOSE, 0, 0);
}
void CWnd::OnTimer(UINT_PTR) {}
void CWnd::OnLButtonDown(UINT, POINT) {}
BOOL CWnd::OnCommand(WPARAM, LPARAM) {
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(HDC, CWnd*, UINT) {
    // The default colouring: white background, as the system draws dialogs.
    static HBRUSH s_white = CreateSolidBrush(RGB(255, 255, 255));
    return s_white;
}

#ifndef _WIN32  // the Windows build loads the icon with the system's LoadIconW
HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    auto id = reinterpret_cast<std::uintptr_t>(name);
    return id == IDI_MAINFRAME ? reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x1C0))
                               : nullptr;
}
#endif
