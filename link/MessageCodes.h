// The codes at frame offset 3 of the messages the co-processors send. The parsers post them
// as the lParam of WM_MCU_MESSAGE and WM_MPEG_MESSAGE.
#pragma once

#include "platform/Win32.h"

// MCU messages.
inline constexpr BYTE MCU_MSG_TO_MPEG = 0x73;  // a frame to forward to the MPEG module
inline constexpr BYTE MCU_MSG_UPDATE_ACK = 0x80;
inline constexpr BYTE MCU_MSG_STATUS = 0x81;  // value: offset 4
inline constexpr BYTE MCU_MSG_NOTIFICATION_82 = 0x82;
inline constexpr BYTE MCU_MSG_PROGRAM_READY = 0x94;
inline constexpr BYTE MCU_MSG_BLOCK_ACK = 0x95;       // value: the block received, offsets 4-5
inline constexpr BYTE MCU_MSG_PROGRAM_RESULT = 0x96;  // value: offset 4, 0 is success
inline constexpr BYTE MCU_MSG_VERSION = 0x97;         // 73-byte identification record

// MPEG module messages.
inline constexpr BYTE MPEG_MSG_UPDATE_ACK = 0x80;  // value: offset 4
inline constexpr BYTE MPEG_MSG_STATUS_8B = 0x8B;   // ignored
inline constexpr BYTE MPEG_MSG_STATUS_8C = 0x8C;   // ignored
inline constexpr BYTE MPEG_MSG_VERSION = 0x95;
inline constexpr BYTE MPEG_MSG_PROGRAM_READY = 0xA4;
inline constexpr BYTE MPEG_MSG_BLOCK_ACK = 0xA5;       // value: the block wanted next, offsets 4-5
inline constexpr BYTE MPEG_MSG_PROGRAM_RESULT = 0xA6;  // value: offset 4, 0 is success
inline constexpr BYTE MPEG_MSG_ALIVE = 0xF2;
inline constexpr BYTE MPEG_MSG_TO_MCU = 0xF3;  // a frame to forward to the MCU

// Command codes of the firmware data blocks.
inline constexpr BYTE MCU_CMD_CODE_DATA_BLOCK = 0x15;
inline constexpr BYTE MPEG_CMD_CODE_DATA_BLOCK = 0x25;

// Layout of the MCU's identification record.
inline constexpr int MCU_VERSION_PAYLOAD = 73;
inline constexpr int MCU_VERSION_RECORD_SIZE = 80;
