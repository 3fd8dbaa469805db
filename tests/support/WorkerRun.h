// Runs an update worker on its own thread, as the dialog does.
#pragma once

#include <gtest/gtest.h>

#include "platform/Win32.h"

namespace testsupport {

// Runs `worker` with `parameter` (the dialog) and waits up to `limitMs` of virtual time for it;
// a worker that does not end, or ends with another code than 0, fails the test.
inline void RunWorker(LPTHREAD_START_ROUTINE worker, LPVOID parameter, DWORD limitMs) {
    HANDLE thread = CreateThread(nullptr, 0, worker, parameter, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, limitMs), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
}

}  // namespace testsupport
