// The shape of the firmware images and of their transfer: what the firmware stages send, the
// link's frames carry, the checks judge and the co-processor simulator takes.
#pragma once

#include "platform/Win32.h"

// --- MCU: a 128 KiB image (a shorter file padded as erased flash) in 1,024 blocks of 128 bytes.
inline constexpr DWORD MCU_IMAGE_SIZE = 131072;
inline constexpr DWORD MCU_BLOCK_SIZE = 128;
inline constexpr DWORD MCU_BLOCK_COUNT = MCU_IMAGE_SIZE / MCU_BLOCK_SIZE;
// The smallest file taken as an MCU image. The unit's images fill the whole 128 KiB (their
// version text lies in the last 25 bytes); a file of a few bytes (a note saved under that
// name) is no program, and padded it would go out as erased flash and leave the MCU without
// firmware.
inline constexpr DWORD MCU_IMAGE_MIN_BYTES = 1024;
// The version text at the end of an MCU image.
inline constexpr LONG MCU_VERSION_OFFSET = MCU_IMAGE_SIZE - 25;
inline constexpr int MCU_VERSION_BYTES = 24;

// --- MPEG module: the file as it is, in 240-byte blocks, the last one possibly partial.
inline constexpr DWORD MPEG_BLOCK_SIZE = 240;
// The MPEG end frame carries image bytes 32 and 33.
inline constexpr DWORD MPEG_END_VALUE_OFFSET = 32;
inline constexpr DWORD MPEG_IMAGE_MIN_BYTES = MPEG_END_VALUE_OFFSET + 2;
// Block numbers travel in 16 bits and the module asks for the block after the last one it
// took, so the last block's number plus one must fit too.
inline constexpr DWORD MPEG_IMAGE_MAX_BLOCKS = 65535;
// The version text of an MPEG image.
inline constexpr LONG MPEG_VERSION_OFFSET = 48;
inline constexpr int MPEG_VERSION_BYTES = 16;
