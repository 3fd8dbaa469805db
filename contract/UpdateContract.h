// What the update dialog and the threads that report to it share: the messages they post to
// the dialog, the progress values, the notify window, the error-code global, the MPEG-active
// flag and the COM port numbers of the two co-processor links. It sits below every layer
// above the platform, so that the link, plan and worker code needs nothing of the dialog.
#pragma once

#include "platform/Win32.h"
#include "platform/framework/Wnd.h"

// Messages that other threads post to the update dialog.
inline constexpr UINT WM_UPDATE_PROGRESS =
    0x500;                                      // wParam 1: lParam percent or phase; else failure
inline constexpr UINT WM_MCU_MESSAGE = 0x501;   // wParam value, lParam MCU message code
inline constexpr UINT WM_MPEG_MESSAGE = 0x502;  // wParam value, lParam MPEG message code

inline constexpr LPARAM PROGRESS_BACKUP = 120;
inline constexpr LPARAM PROGRESS_DONE = 8888;

extern HWND g_notifyWindow;      // the dialog's window; the link parsers post to it
extern int g_updateErrorCode;    // error code of the failed stage, stored before the post
extern BYTE g_mpegUpdateActive;  // an MPEG stage runs: mode byte 8, alive messages counted

// The start-up configuration's COM port numbers, fixed in code.
extern int g_mcuComPort;   // COM port number of the MCU link
extern int g_mpegComPort;  // COM port number of the MPEG link

// The window of the dialog that a worker thread was started with. The dialog passes its
// CWnd base as the thread's argument; that base comes first in the dialog (its first base
// class, through CDialog), so a pointer to the whole dialog serves as well.
inline HWND DialogWindowOf(LPVOID dialog) {
    return static_cast<CWnd*>(dialog)->m_hWnd;
}
