// Creating windows inside the platform: a window is a procedure bound to the message queue
// of the thread that creates it. The dialog framework builds its dialogs on this.
#pragma once

#include <functional>

#include "platform/Win32.h"

namespace quarrin::platform {

using WindowProcedure = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a window on the calling thread's queue.
HWND CreatePlatformWindow(WindowProcedure procedure);

}  // namespace quarrin::platform
