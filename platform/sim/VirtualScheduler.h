// A virtual clock for tests: time stands still while any platform thread runs, and jumps to
// the earliest deadline when every platform thread is blocked in a platform wait.
#pragma once

#include <functional>
#include <map>
#include <set>

#include "platform/kernel/Scheduler.h"

namespace quarrin::platform {

class VirtualScheduler : public kernel::Scheduler {
public:
    // The constructing thread counts as a running platform thread.
    VirtualScheduler();

    std::uint64_t NowMs() override;
    void Block(std::unique_lock<std::mutex>& lock, kernel::Waiter& waiter) override;
    void Wake(kernel::Waiter& waiter) override;
    void ThreadStarted() override;
    void ThreadEnded() override;

    // Runs `action` (with KernelLock held) when the virtual clock reaches NowMs() + delay.
    // Used by simulated devices, such as serial peers that answer after a while.
    void ScheduleLocked(std::uint64_t delayMs, std::function<void()> action);

    // Registers a thread that the platform did not create (a test's helper thread), or
    // unregisters it; with KernelLock not held.
    void AttachThread();
    void DetachThread();

private:
    void AdvanceLocked();

    std::uint64_t m_now = 0;
    int m_running = 1;
    std::set<kernel::Waiter*> m_blocked;
    std::multimap<std::uint64_t, std::function<void()>> m_events;
};

}  // namespace quarrin::platform
