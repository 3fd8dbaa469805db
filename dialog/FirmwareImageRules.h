// The rules by which the update dialog takes a firmware image file (its geometry is in
// contract/FirmwareGeometry.h): the MCU receives a 128 KiB image (a shorter file padded as
// erased flash), the MPEG module the file as it is, in 240-byte blocks, if the protocol can
// carry it. Both the loader and `quarrin check` decide
// by these functions.
#pragma once

#include "contract/FirmwareGeometry.h"
#include "dialog/FirmwareErrorCodes.h"
#include "platform/Win32.h"

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
