// Windows of the device's shell, as far as the loader uses them.
#pragma once

#include "platform/Win32Types.h"

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
