// Kernel objects, handles and waits shared by every platform implementation.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/kernel/Scheduler.h"

namespace quarrin::kernel {

std::mutex& KernelLock();

// The scheduler in force; installed by the platform before any wait.
Scheduler& CurrentScheduler();
void InstallScheduler(Scheduler* scheduler);

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// An object that a thread can wait for. State is read and changed under KernelLock.
class Waitable : public KernelObject {
public:
    virtual bool IsSignaledLocked() const = 0;
    // Called once when a wait is satisfied by this object (semaphore count, auto-reset).
    virtual void ConsumeLocked() {}
    // Wakes every thread that waits for this object. Call with KernelLock held after a change.
    void NotifyLocked();

    std::vector<Waiter*> m_waiters;
};

// Thrown inside a thread that TerminateThread has ended; caught by the thread's start
// routine. Deliberately not derived from std::exception.
struct ThreadTerminated {};

struct ThreadRecord {
    std::atomic<bool> terminateRequested{false};
    Waiter* blockedIn = nullptr;        // under KernelLock
    std::function<void()> interrupter;  // under KernelLock; wakes a host call in progress
};

// The record of the calling thread; null for threads the platform did not create.
ThreadRecord* CurrentThreadRecord();
void SetCurrentThreadRecord(ThreadRecord* record);

// Throws ThreadTerminated when the calling thread has been terminated.
void CheckTerminated();

// While alive, TerminateThread on the calling thread runs `interrupter` to break out of a
// blocking host call (a poll on a serial device, for example).
class InterruptibleScope {
public:
    explicit InterruptibleScope(std::function<void()> interrupter);
    ~InterruptibleScope();
    InterruptibleScope(const InterruptibleScope&) = delete;
    InterruptibleScope& operator=(const InterruptibleScope&) = delete;
};

// Ends every platform thread that still runs (at its next platform call) and waits until
// they all have: a platform calls it before it goes away.
void TerminateAllThreads();
// Waits up to timeoutMs for every other platform thread to end; true when they all have.
bool WaitForAllThreads(DWORD timeoutMs);

// Waits for one (waitAll false) or all of the objects, up to timeoutMs (INFINITE allowed).
// Returns WAIT_OBJECT_0 + index or WAIT_TIMEOUT. An empty span with a timeout is a sleep.
DWORD WaitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD timeoutMs);

// --- Handles ----------------------------------------------------------------------------------
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Removes the handle; returns the object it held, or null for an unknown handle.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);
bool IsPseudoInvalid(HANDLE handle);  // null or INVALID_HANDLE_VALUE

// Last-error slot of the calling thread.
void SetLastErrorValue(DWORD error);
DWORD LastErrorValue();

}  // namespace quarrin::kernel
