// How a failing platform call ends: it sets the thread's last error and returns its failure
// value, whatever the call returns:
//
//     return Fail(ERROR_PATH_NOT_FOUND);
//
// gives FALSE from a call that returns BOOL, INVALID_HANDLE_VALUE from one that returns a
// HANDLE, 0xFFFFFFFF (INVALID_FILE_ATTRIBUTES, INVALID_SET_FILE_POINTER, WAIT_FAILED) from one
// that returns a DWORD, 0 from one that returns a pointer-sized number (SendMessageW's LRESULT,
// SetTimer's UINT_PTR), false from one that returns bool, and a null pointer from one that
// returns any other handle type (HGDIOBJ, HWND).
#pragma once

#ifdef _WIN32
#include "platform/win32/WindowsApi.h"
#else
#include "platform/Win32Types.h"

namespace quarrin::kernel {
void SetLastErrorValue(DWORD error);
}  // namespace quarrin::kernel
#endif

namespace quarrin::platform {

class Win32Failure {
public:
    explicit Win32Failure(DWORD error) {
#ifdef _WIN32
        ::SetLastError(error);
#else
        kernel::SetLastErrorValue(error);
#endif
    }
    // NOLINTBEGIN(google-explicit-constructor): the conversion is the point.
    operator BOOL() const {
        return FALSE;
    }
    operator DWORD() const {
        return 0xFFFFFFFF;
    }
    operator LONG_PTR() const {
        return 0;
    }
    operator UINT_PTR() const {
        return 0;
    }
    operator bool() const {
        return false;
    }
    operator HANDLE() const {
        return INVALID_HANDLE_VALUE;
    }
    template <typename Handle>
    operator Handle*() const {
        return nullptr;
    }
    // NOLINTEND(google-explicit-constructor)
};

// Sets the last error to `error`; converts to the failure value of the calling function.
inline Win32Failure Fail(DWORD error) {
    return Win32Failure(error);
}

}  // namespace quarrin::platform
