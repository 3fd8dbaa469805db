#include "platform/api/WindowApi.h"

#include "platform/Platform.h"
#include "platform/kernel/Kernel.h"

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    auto* shell = quarrin::platform::CurrentServices().shell;
    HWND window = shell == nullptr
                      ? nullptr
                      : shell->Find(className ? className : L"", windowName ? windowName : L"");
    if (window == nullptr)
        quarrin::kernel::SetLastErrorValue(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

BOOL ShowWindow(HWND window, int command) {
    auto* shell = quarrin::platform::CurrentServices().shell;
    bool wasVisible = shell != nullptr && shell->IsVisible(window);
    if (shell != nullptr)
        shell->Show(window, command);
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    auto* shell = quarrin::platform::CurrentServices().shell;
    return shell != nullptr && shell->IsVisible(window) ? TRUE : FALSE;
}
