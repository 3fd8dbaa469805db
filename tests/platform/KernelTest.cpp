// Threads, semaphores and waits on the virtual clock: time passes only when every platform
// thread waits, and then jumps to the earliest deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;

namespace {

class KernelTest : public ::testing::Test {
protected:
    SimPlatform sim;
};

TEST_F(KernelTest, LongSleepsTakeNoRealTime) {
    auto started = std::chrono::steady_clock::now();
    DWORD before = GetTickCount();
    Sleep(30000);
    EXPECT_EQ(GetTickCount() - before, 30000u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

TEST_F(KernelTest, WaitTimesOutAtItsDeadlineExactly) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 10, nullptr);
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(semaphore, 5000), WAIT_TIMEOUT);
    EXPECT_EQ(GetTickCount() - before, 5000u);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_EQ(GetTickCount() - before, 5000u);
    CloseHandle(semaphore);
}

struct Relay {
    HANDLE request;
    HANDLE reply;
    std::atomic<int> served{0};
};

DWORD Server(LPVOID parameter) {
    auto* relay = static_cast<Relay*>(parameter);
    while (WaitForSingleObject(relay->request, INFINITE) == WAIT_OBJECT_0) {
        Sleep(250);  // work that takes time
        if (++relay->served == 3) {
            ReleaseSemaphore(relay->reply, 1, nullptr);
            return 7;
        }
        ReleaseSemaphore(relay->reply, 1, nullptr);
    }
    return 0;
}

TEST_F(KernelTest, ThreadsHandOverThroughSemaphoresOnVirtualTime) {
    Relay relay{CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr),
                CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, Server, &relay, 0, nullptr);
    DWORD before = GetTickCount();
    for (int i = 0; i < 3; ++i) {
        ReleaseSemaphore(relay.request, 1, nullptr);
        ASSERT_EQ(WaitForSingleObject(relay.reply, 1000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(GetTickCount() - before, 750u);
    EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
    CloseHandle(relay.request);
    CloseHandle(relay.reply);
}

TEST_F(KernelTest, WaitForMultipleObjectsPrefersTheFirstSignalledHandle) {
    HANDLE stop = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    HANDLE data = CreateSemaphoreW(nullptr, 3, 0x7FFFFFFF, nullptr);
    HANDLE handles[] = {stop, data};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    ReleaseSemaphore(stop, 1, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_FALSE(ReleaseSemaphore(data, 0x7FFFFFFF, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    HANDLE bogus = reinterpret_cast<HANDLE>(0x12345);
    EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(stop);
    CloseHandle(data);
}

DWORD WaitForever(LPVOID parameter) {
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 1;
}

TEST_F(KernelTest, TerminateThreadEndsAThreadBlockedWithoutEnd) {
    HANDLE never = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitForever, never, 0, nullptr);
    // As a link stops a silent receive thread: wait 5 s, then terminate it.
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_TIMEOUT);
    EXPECT_TRUE(TerminateThread(thread, 0));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    CloseHandle(never);
}

TEST_F(KernelTest, CriticalSectionsAreReentrant) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

}  // namespace
