#include "dialog/FirmwareImageRules.h"

DWORD MpegBlockCount(DWORD size) {
    return size / MPEG_BLOCK_SIZE + (size % MPEG_BLOCK_SIZE != 0 ? 1 : 0);
}

bool MpegImageUsable(DWORD size, DWORD blockCount) {
    return size >= MPEG_END_VALUE_OFFSET + 2 && blockCount <= 65536;
}

bool McuImageUsable(DWORD bytesRead) {
    return bytesRead > 0;
}
