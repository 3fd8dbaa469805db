// The two co-processor links and what tells them apart.
#pragma once

#include "platform/Win32.h"

inline constexpr int LINK_MCU = 0;   // co-processor flag of the MCU link
inline constexpr int LINK_MPEG = 1;  // co-processor flag of the MPEG link
inline constexpr int LINK_KINDS = 2;

inline constexpr DWORD MCU_BAUD_RATE = 38400;
inline constexpr DWORD MPEG_BAUD_RATE = 115200;

inline bool IsLinkKind(int flag) {
    return flag == LINK_MCU || flag == LINK_MPEG;
}
