// The least of the window framework: a window object around an HWND whose messages reach
// overridable handlers (the message map of the loader's dialog).
#pragma once

#include <map>
#include <memory>

#include "platform/Win32.h"

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void Invalidate(BOOL erase = TRUE);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc);
    BOOL KillTimer(UINT_PTR id);

    void SetWindowText(LPCWSTR text);
    const std::wstring& WindowText() const { return m_text; }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void CenterWindow();
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL ShowWindow(int command);
    BOOL IsWindowEnabled() const { return m_enabled; }
    BOOL IsWindowVisible() const { return m_visible; }
    RECT WindowRect() const { return m_rect; }
    int GetDlgCtrlID() const { return m_controlId; }
    CWnd* GetDlgItem(int id) const;
    HICON SetIcon(HICON icon, BOOL big);
    HFONT GetFont() const { return m_font; }

    // Receives every message of the window; dispatches to the handlers below.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

protected:
    // Handlers; the defaults do what the window would do without them.
    virtual void OnPaint();
    virtual void OnClose();
    virtual void OnTimer(UINT_PTR id);
    virtual void OnLButtonDown(UINT flags, POINT point);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual HBRUSH OnCtlColor(HDC dc, CWnd* window, UINT colorKind);

    // Creates the platform window for this object on the calling thread.
    void CreatePlatformWindowFor();
    void DestroyPlatformWindow();
    CWnd* AddControl(int id, bool visible);

    std::map<int, std::unique_ptr<CWnd>> m_controls;

private:
    std::wstring m_text;
    RECT m_rect{0, 0, 0, 0};
    bool m_enabled = true;
    bool m_visible = false;
    int m_controlId = 0;
    HICON m_icons[2] = {nullptr, nullptr};
    HFONT m_font = nullptr;
};

extern const CWnd wndTop;

#ifndef _WIN32  // the Windows build has them from <windows.h>
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT CTLCOLOR_BTN = 3;
inline constexpr UINT CTLCOLOR_DLG = 4;
inline constexpr int ICON_SMALL = 0;
inline constexpr int ICON_BIG = 1;

// Loads an icon resource of the loader (icon 128).
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
#define MAKEINTRESOURCE(id) (reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id)))
#endif  // _WIN32
