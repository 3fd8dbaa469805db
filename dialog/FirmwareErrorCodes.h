// The codes a firmware stage shows when it fails ("MCU升级失败！错误码:%d"), one family per
// co-processor: 31 and up for the MCU, 40 and up for the MPEG module.
#pragma once

// --- MCU stage
// No MCU image: none on the medium, it could not be read, or the file is empty.
inline constexpr int ERROR_MCU_IMAGE_MISSING = 31;
// The MCU reported a programming result other than 0.
inline constexpr int ERROR_MCU_PROGRAMMING_FAILED = 32;
// The file's size is no MCU image's (FirmwareImageRules.h); nothing was sent.
inline constexpr int ERROR_MCU_IMAGE_UNUSABLE = 33;
// The MCU's COM port did not open, or its line hung up before the end frame.
inline constexpr int ERROR_MCU_LINE_DOWN = 34;
// No frame from the MCU for FIRMWARE_SILENCE_LIMIT_MS while its stage waits for one.
inline constexpr int ERROR_MCU_SILENT = 35;

// --- MPEG stage
// The MPEG module reported a programming result other than 0.
inline constexpr int ERROR_MPEG_PROGRAMMING_FAILED = 40;
// The start of programming went unanswered through its resends.
inline constexpr int ERROR_MPEG_START_UNANSWERED = 41;
// An MPEG image the protocol cannot carry (FirmwareImageRules.h).
inline constexpr int ERROR_MPEG_IMAGE_UNUSABLE = 42;
// No MPEG image: none on the medium, or it could not be read.
inline constexpr int ERROR_MPEG_IMAGE_MISSING = 43;
// The MPEG module's COM port did not open, or its line hung up before the stage ended.
inline constexpr int ERROR_MPEG_LINE_DOWN = 44;
// No frame from the MPEG module for FIRMWARE_SILENCE_LIMIT_MS while its stage waits for one
// (FIRMWARE_FLASH_WRITE_LIMIT_MS while it writes its flash).
inline constexpr int ERROR_MPEG_SILENT = 45;

// How long a firmware stage waits for a frame of its co-processor, resending as usual, before
// it gives up: a peer that has sent nothing in two minutes of requests and blocks once a
// second or every three seconds is not connected, not running, or has given up the transfer.
inline constexpr unsigned FIRMWARE_SILENCE_LIMIT_MS = 120000;
// The MPEG module sends nothing between its good result and the alive message that says its
// flash is written; ten minutes are far above any flash write, and keep a module that never
// comes back from holding the unit on "do not switch off" for good.
inline constexpr unsigned FIRMWARE_FLASH_WRITE_LIMIT_MS = 600000;
