// Process-wide state shared between the update dialog and the threads that report to it.
#pragma once

#include "platform/Win32.h"

extern HWND g_notifyWindow;      // the dialog's window; the link parsers post to it
extern int g_updateErrorCode;    // error code of the failed stage, stored before the post
extern BYTE g_mpegUpdateActive;  // an MPEG stage runs: mode byte 8, alive messages counted
