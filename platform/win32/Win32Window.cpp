// Windows of the dialog framework as real windows. The framework builds a dialog as one
// window and then its controls: the first window of a thread is the dialog, a borderless
// popup that fills the screen and shows at once; windows created while it lives are its
// controls, hidden child windows. The framework's procedure gets the messages it handles
// (painting, timers, closing, input, colours, fonts, icons and the loader's own messages
// from WM_USER on); every other message gets the system's default handling, which a real
// window needs from its very first message on.
#include <utility>

#include "platform/window/WindowCore.h"

namespace quarrin::platform {
namespace {

const wchar_t kWindowClass[] = L"QuarrinWindow";

thread_local HWND t_dialogWindow = nullptr;

bool FrameworkHandles(UINT message) {
    switch (message) {
        case WM_PAINT:
        case WM_CLOSE:
        case WM_TIMER:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_KEYDOWN:
        case WM_COMMAND:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
        case WM_SETICON:
        case WM_SETFONT:
            return true;
        default:
            return message >= WM_USER && message < 0x8000;
    }
}

LRESULT CALLBACK DispatchToFramework(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* procedure = reinterpret_cast<WindowProcedure*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete procedure;
        if (window == t_dialogWindow)
            t_dialogWindow = nullptr;
    } else if (procedure != nullptr && FrameworkHandles(message)) {
        return (*procedure)(window, message, wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DispatchToFramework;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassW(&windowClass) != 0;
    }();
    return registered;
}

}  // namespace

HWND CreatePlatformWindow(WindowProcedure procedure) {
    if (!RegisterWindowClass())
        return nullptr;
    bool control = t_dialogWindow != nullptr && IsWindow(t_dialogWindow);
    HWND window = nullptr;
    if (control) {
        window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD, 0, 0, 0, 0, t_dialogWindow,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    } else {
        window = CreateWindowExW(WS_EX_TOPMOST, kWindowClass, L"", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    if (window == nullptr)
        return nullptr;
    if (!control)
        t_dialogWindow = window;
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(new WindowProcedure(std::move(procedure))));
    return window;
}

}  // namespace quarrin::platform
