// The update plan: request bits, update kinds and the process-wide plan globals.
#pragma once

#include "platform/Win32.h"

inline constexpr DWORD UPDATE_APP = 0x02;
inline constexpr DWORD UPDATE_MCU = 0x04;
inline constexpr DWORD UPDATE_MPEG = 0x08;
inline constexpr DWORD UPDATE_NAVI = 0x40;

inline constexpr DWORD KIND_APP = 0;
inline constexpr DWORD KIND_MCU = 1;
inline constexpr DWORD KIND_MPEG = 2;
inline constexpr DWORD KIND_NAVI = 3;

// Set by the start-up sequence when the system-file check reports damage: the application
// is then restored from the backup package instead of installed from a medium.
extern bool g_systemFilesDamaged;
