// The rules by which the update dialog takes a firmware image file: the MCU always receives
// a 128 KiB image, the MPEG module the file as it is, in 240-byte blocks, if the protocol can
// carry it.
#pragma once

#include "platform/Win32.h"

inline constexpr DWORD MCU_IMAGE_SIZE = 131072;
inline constexpr DWORD MPEG_BLOCK_SIZE = 240;
// The MPEG end frame carries image bytes 32 and 33.
inline constexpr DWORD MPEG_END_VALUE_OFFSET = 32;
// An MPEG image the protocol cannot carry (empty, without the end frame's bytes 32 and 33,
// or with more blocks than a 16-bit block number can name).
inline constexpr int ERROR_MPEG_IMAGE_UNUSABLE = 42;
inline constexpr DWORD MPEG_IMAGE_MIN_BYTES = MPEG_END_VALUE_OFFSET + 2;
// Block numbers travel in 16 bits and the module asks for the block after the last one it
// took, so the last block's number plus one must fit too.
inline constexpr DWORD MPEG_IMAGE_MAX_BLOCKS = 65535;
// The MCU stage started without an image.
inline constexpr int ERROR_MCU_IMAGE_MISSING = 31;

// Blocks of an MPEG image of `size` bytes, the last one possibly partial.
DWORD MpegBlockCount(DWORD size);
// Whether an MPEG image of `bytes` bytes can be sent; checked before the image is read.
bool IsMpegImageSizeUsable(ULONGLONG bytes);

// An MCU file that gave `bytesRead` bytes into the 128 KiB buffer. An empty file would go
// out as 128 KiB of erased flash and leave the MCU without firmware, so it counts as no image.
bool McuImageUsable(DWORD bytesRead);
