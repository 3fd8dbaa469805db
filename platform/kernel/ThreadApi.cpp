// Threads, semaphores, events, critical sections, waits and time on top of the kernel core.
#include <algorithm>
#include <thread>

#include "platform/api/ThreadApi.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

using namespace quarrin::kernel;
using quarrin::platform::Fail;

namespace {

class ThreadObject : public Waitable {
public:
    bool IsSignaledLocked() const override { return m_ended; }

    ThreadRecord m_record;
    bool m_ended = false;
    DWORD m_exitCode = STILL_ACTIVE;
    DWORD m_terminateCode = 0;
};

class SemaphoreObject : public Waitable {
public:
    SemaphoreObject(LONG count, LONG maximum) : m_count(count), m_maximum(maximum) {}
    bool IsSignaledLocked() const override { return m_count > 0; }
    void ConsumeLocked() override { --m_count; }

    LONG m_count;
    LONG m_maximum;
};

class EventObject : public Waitable {
public:
    EventObject(bool manualReset, bool state) : m_manualReset(manualReset), m_state(state) {}
    bool IsSignaledLocked() const override { return m_state; }
    void ConsumeLocked() override {
        if (!m_manualReset)
            m_state = false;
    }

    bool m_manualReset;
    bool m_state;
};

// Every platform thread that has not ended yet, so a platform can end them all.
std::vector<std::weak_ptr<ThreadObject>>& LiveThreads() {
    static std::vector<std::weak_ptr<ThreadObject>> threads;
    return threads;
}

void RequestTermination(ThreadObject& thread, DWORD exitCode) {
    thread.m_terminateCode = exitCode;
    thread.m_record.terminateRequested = true;
    if (thread.m_record.blockedIn != nullptr)
        CurrentScheduler().Wake(*thread.m_record.blockedIn);
    if (thread.m_record.interrupter)
        thread.m_record.interrupter();
}

DWORD WaitHandles(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> keep;
    std::vector<Waitable*> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = LookupHandleAs<Waitable>(handles[i]);
        if (!object) {
            SetLastErrorValue(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object.get());
        keep.push_back(std::move(object));
    }
    return WaitForObjects(objects, waitAll, milliseconds);
}

}  // namespace

DWORD GetLastError() {
    return LastErrorValue();
}
void SetLastError(DWORD error) {
    SetLastErrorValue(error);
}

BOOL CloseHandle(HANDLE handle) {
    if (!RemoveHandle(handle))
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE startAddress,
                    LPVOID parameter, DWORD, LPDWORD threadId) {
    if (startAddress == nullptr) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    Scheduler* scheduler = &CurrentScheduler();
    {
        std::lock_guard lock(KernelLock());
        scheduler->ThreadStarted();
        auto& live = LiveThreads();
        live.erase(std::remove_if(live.begin(), live.end(), [](auto& t) { return t.expired(); }),
                   live.end());
        live.push_back(thread);
    }
    static std::atomic<DWORD> s_nextId{0x1000};
    DWORD id = s_nextId.fetch_add(4);
    if (threadId != nullptr)
        *threadId = id;
    std::thread([thread, scheduler, startAddress, parameter] {
        SetCurrentThreadRecord(&thread->m_record);
        DWORD code;
        try {
            code = startAddress(parameter);
        } catch (const ThreadTerminated&) {
            code = thread->m_terminateCode;
        }
        SetCurrentThreadRecord(nullptr);
        std::lock_guard lock(KernelLock());
        thread->m_ended = true;
        thread->m_exitCode = code;
        thread->NotifyLocked();
        scheduler->ThreadEnded();
    }).detach();
    return InsertHandle(thread);
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
    auto thread = LookupHandleAs<ThreadObject>(handle);
    if (!thread)
        return Fail(ERROR_INVALID_HANDLE);
    if (&thread->m_record == CurrentThreadRecord()) {
        thread->m_terminateCode = exitCode;
        thread->m_record.terminateRequested = true;
        throw ThreadTerminated{};
    }
    {
        std::lock_guard lock(KernelLock());
        if (thread->m_ended)
            return TRUE;
        RequestTermination(*thread, exitCode);
    }
    // NOTE: the thread unwinds at its next platform call; wait until it has, so that the
    // caller may free what the thread used, as it may after TerminateThread on the device.
    Waitable* object = thread.get();
    WaitForObjects(std::span<Waitable* const>(&object, 1), false, INFINITE);
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    auto thread = LookupHandleAs<ThreadObject>(handle);
    if (!thread || exitCode == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(KernelLock());
    *exitCode = thread->m_exitCode;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        CheckTerminated();
        std::this_thread::yield();
        return;
    }
    WaitForObjects({}, false, milliseconds);
}

DWORD GetTickCount() {
    return static_cast<DWORD>(CurrentScheduler().NowMs());
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitHandles(1, &handle, false, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    return WaitHandles(count, handles, waitAll != FALSE, milliseconds);
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCWSTR) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return InsertHandle(std::make_shared<SemaphoreObject>(initialCount, maximumCount));
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
    auto semaphore = LookupHandleAs<SemaphoreObject>(handle);
    if (!semaphore)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(KernelLock());
    if (releaseCount <= 0 || releaseCount > semaphore->m_maximum - semaphore->m_count) {
        return Fail(ERROR_TOO_MANY_POSTS);
    }
    if (previousCount != nullptr)
        *previousCount = semaphore->m_count;
    semaphore->m_count += releaseCount;
    semaphore->NotifyLocked();
    return TRUE;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return InsertHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE handle) {
    auto event = LookupHandleAs<EventObject>(handle);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(KernelLock());
    event->m_state = true;
    event->NotifyLocked();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = LookupHandleAs<EventObject>(handle);
    if (!event)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard lock(KernelLock());
    event->m_state = false;
    return TRUE;
}

// Critical sections are held only for short stretches of work, never across a wait, so a
// plain recursive mutex serves; they take no part in the virtual clock.
void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->impl = new std::recursive_mutex();
}
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}
void EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}
void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

namespace quarrin::kernel {

bool WaitForAllThreads(DWORD timeoutMs) {
    std::vector<std::shared_ptr<ThreadObject>> running;
    {
        std::lock_guard lock(KernelLock());
        for (auto& weak : LiveThreads()) {
            auto thread = weak.lock();
            if (thread && !thread->m_ended && &thread->m_record != CurrentThreadRecord()) {
                running.push_back(std::move(thread));
            }
        }
    }
    if (running.empty())
        return true;
    std::vector<Waitable*> objects;
    for (auto& thread : running)
        objects.push_back(thread.get());
    return WaitForObjects(objects, true, timeoutMs) == WAIT_OBJECT_0;
}

void TerminateAllThreads() {
    std::vector<std::shared_ptr<ThreadObject>> running;
    {
        std::lock_guard lock(KernelLock());
        for (auto& weak : LiveThreads()) {
            auto thread = weak.lock();
            if (thread && !thread->m_ended && &thread->m_record != CurrentThreadRecord()) {
                RequestTermination(*thread, 0);
                running.push_back(std::move(thread));
            }
        }
    }
    for (auto& thread : running) {
        Waitable* object = thread.get();
        WaitForObjects(std::span<Waitable* const>(&object, 1), false, INFINITE);
    }
}

}  // namespace quarrin::kernel
