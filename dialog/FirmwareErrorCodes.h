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
// Not one frame from the MCU in FIRMWARE_SILENCE_LIMIT_MS of the stage.
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
// Not one frame from the MPEG module in FIRMWARE_SILENCE_LIMIT_MS of the stage.
inline constexpr int ERROR_MPEG_SILENT = 45;

// How long a firmware stage waits for the first frame of its co-processor, resending as
// usual, before it gives up: a peer that has not sent one frame in two minutes of requests
// once a second or every three seconds is not connected, or not running.
inline constexpr unsigned FIRMWARE_SILENCE_LIMIT_MS = 120000;
