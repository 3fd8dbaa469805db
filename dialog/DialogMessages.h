// Messages that other threads post to the update dialog.
#pragma once

#include "platform/Win32.h"

inline constexpr UINT WM_UPDATE_PROGRESS =
    0x500;                                      // wParam 1: lParam percent or phase; else failure
inline constexpr UINT WM_MCU_MESSAGE = 0x501;   // wParam value, lParam MCU message code
inline constexpr UINT WM_MPEG_MESSAGE = 0x502;  // wParam value, lParam MPEG message code

inline constexpr LPARAM PROGRESS_BACKUP = 120;
inline constexpr LPARAM PROGRESS_DONE = 8888;
