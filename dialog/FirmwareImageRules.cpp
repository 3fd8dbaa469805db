#include "dialog/FirmwareImageRules.h"

DWORD MpegBlockCount(DWORD size) {
    return size / MPEG_BLOCK_SIZE + (size % MPEG_BLOCK_SIZE != 0 ? 1 : 0);
}

bool IsMpegImageSizeUsable(ULONGLONG bytes) {
    return bytes >= MPEG_IMAGE_MIN_BYTES &&
           bytes <= static_cast<ULONGLONG>(MPEG_IMAGE_MAX_BLOCKS) * MPEG_BLOCK_SIZE;
}

int McuImageSizeFailure(ULONGLONG bytes) {
    if (bytes == 0)
        return ERROR_MCU_IMAGE_MISSING;
    if (bytes < MCU_IMAGE_MIN_BYTES || bytes > MCU_IMAGE_SIZE)
        return ERROR_MCU_IMAGE_UNUSABLE;
    return 0;
}
