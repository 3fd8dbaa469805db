// The rules by which the update dialog takes a firmware image file: the MCU receives a
// 128 KiB image (a shorter file padded as erased flash), the MPEG module the file as it is,
// in 240-byte blocks, if the protocol can carry it. Both the loader and `quarrin check` decide
// by these functions.
#pragma once

#include "dialog/FirmwareErrorCodes.h"
#include "platform/Win32.h"

inline constexpr DWORD MCU_IMAGE_SIZE = 131072;
// The smallest file taken as an MCU image. The unit's images fill the whole 128 KiB (their
// version text lies in the last 25 bytes); a file of a few bytes (a note saved under that
// name) is no program, and padded it would go out as erased flash and leave the MCU without
// firmware.
inline constexpr DWORD MCU_IMAGE_MIN_BYTES = 1024;
inline constexpr DWORD MPEG_BLOCK_SIZE = 240;
// The MPEG end frame carries image bytes 32 and 33.
inline constexpr DWORD MPEG_END_VALUE_OFFSET = 32;
inline constexpr DWORD MPEG_IMAGE_MIN_BYTES = MPEG_END_VALUE_OFFSET + 2;
// Block numbers travel in 16 bits and the module asks for the block after the last one it
// took, so the last block's number plus one must fit too.
inline constexpr DWORD MPEG_IMAGE_MAX_BLOCKS = 65535;

// Blocks of an MPEG image of `size` bytes, the last one possibly partial.
DWORD MpegBlockCount(DWORD size);
// Whether an MPEG image of `bytes` bytes can be sent; checked before the image is read. An
// image the protocol cannot carry (empty, without the end frame's bytes 32 and 33, or with
// more blocks than a 16-bit block number can name) fails the stage with
// ERROR_MPEG_IMAGE_UNUSABLE.
bool IsMpegImageSizeUsable(ULONGLONG bytes);

// The code an MCU stage fails with for an image file of `bytes` bytes, 0 when the file is
// taken: an empty file counts as no image (ERROR_MCU_IMAGE_MISSING); one shorter than
// MCU_IMAGE_MIN_BYTES or longer than the MCU's 128 KiB is no MCU image
// (ERROR_MCU_IMAGE_UNUSABLE), and a longer one is not read.
int McuImageSizeFailure(ULONGLONG bytes);
