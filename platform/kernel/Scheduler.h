// Time and blocking for every platform wait.
//
// All kernel objects share one lock (KernelLock). A thread that has to wait registers a
// Waiter on the objects it waits for and calls Scheduler::Block with the lock held. Whoever
// changes an object wakes its waiters with Scheduler::Wake. The host scheduler sleeps on a
// real monotonic clock; the virtual scheduler advances its clock only when every platform
// thread is blocked, so timers and time-outs run without real sleeping.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace quarrin::kernel {

struct ThreadRecord;

struct Waiter {
    std::condition_variable cv;
    bool woken = false;
    std::optional<std::uint64_t> deadline;  // in scheduler milliseconds
    ThreadRecord* thread = nullptr;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;

    // Milliseconds since the platform started, on this scheduler's clock.
    virtual std::uint64_t NowMs() = 0;

    // Sleeps until Wake(waiter) or until the waiter's deadline. Called with KernelLock held.
    virtual void Block(std::unique_lock<std::mutex>& lock, Waiter& waiter) = 0;

    // Marks the waiter runnable and wakes it. Called with KernelLock held.
    virtual void Wake(Waiter& waiter) = 0;

    // A platform thread was created or has ended. Called with KernelLock held.
    virtual void ThreadStarted() {}
    virtual void ThreadEnded() {}
};

}  // namespace quarrin::kernel
