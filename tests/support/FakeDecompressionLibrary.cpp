// Stand-ins for the decompression library: one without zUncompress, one whose zUncompress
// returns the most negative result.
#include <climits>

#include "platform/Win32Types.h"

extern "C" __attribute__((visibility("default"))) int zCompressSetNotifyWnd(HWND, UINT) {
    return 1;
}

#ifdef FAKE_WITH_UNCOMPRESS
extern "C" __attribute__((visibility("default"))) int zUncompress(LPCWSTR, LPCWSTR) {
    return INT_MIN;
}
#endif
