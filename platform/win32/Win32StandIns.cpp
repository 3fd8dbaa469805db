// What the device has and desktop Windows lacks, as small stand-ins: the storage manager
// and the touch-screen calibration.
//
// FIXME: the storage manager is not there yet: every call fails with
// ERROR_CALL_NOT_IMPLEMENTED, so storage formatting (the navigation update) fails as a
// failed OpenStore would on the device.
#include "platform/Win32.h"
#include "platform/win32/Win32Runtime.h"

namespace {

bool g_touchCalibrated = false;

template <class Result>
Result NotImplemented(Result failure) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return failure;
}

}  // namespace

namespace quarrin::platform::win32 {
void SetTouchCalibrationResult(bool completed) {
    g_touchCalibrated = completed;
}
}  // namespace quarrin::platform::win32

BOOL TouchCalibrate() {
    return g_touchCalibrated ? 1 : 0;
}

HANDLE OpenStore(LPCWSTR) {
    return NotImplemented(INVALID_HANDLE_VALUE);
}
HANDLE FindFirstPartition(HANDLE, PPARTINFO) {
    return NotImplemented(INVALID_HANDLE_VALUE);
}
BOOL FindClosePartition(HANDLE) {
    return NotImplemented(FALSE);
}
HANDLE OpenPartition(HANDLE, LPCWSTR) {
    return NotImplemented(INVALID_HANDLE_VALUE);
}
BOOL DismountPartition(HANDLE) {
    return NotImplemented(FALSE);
}
BOOL MountPartition(HANDLE) {
    return NotImplemented(FALSE);
}
BOOL CreatePartition(HANDLE, LPCWSTR, ULONGLONG) {
    return NotImplemented(FALSE);
}
