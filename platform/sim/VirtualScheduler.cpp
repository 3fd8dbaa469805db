#include "platform/sim/VirtualScheduler.h"

#include <cstdio>
#include <cstdlib>

#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

VirtualScheduler::VirtualScheduler() = default;

std::uint64_t VirtualScheduler::NowMs() {
    return m_now;
}

void VirtualScheduler::Block(std::unique_lock<std::mutex>& lock, kernel::Waiter& waiter) {
    --m_running;
    m_blocked.insert(&waiter);
    if (m_running == 0)
        AdvanceLocked();
    waiter.cv.wait(lock, [&] { return waiter.woken; });
}

void VirtualScheduler::Wake(kernel::Waiter& waiter) {
    if (waiter.woken)
        return;
    waiter.woken = true;
    if (m_blocked.erase(&waiter) > 0)
        ++m_running;
    waiter.cv.notify_one();
}

void VirtualScheduler::ThreadStarted() {
    ++m_running;
}

void VirtualScheduler::ThreadEnded() {
    --m_running;
    if (m_running == 0 && (!m_blocked.empty() || !m_events.empty()))
        AdvanceLocked();
}

void VirtualScheduler::ScheduleLocked(std::uint64_t delayMs, std::function<void()> action) {
    m_events.emplace(m_now + delayMs, std::move(action));
}

void VirtualScheduler::AttachThread() {
    std::lock_guard lock(kernel::KernelLock());
    ++m_running;
}

void VirtualScheduler::DetachThread() {
    std::lock_guard lock(kernel::KernelLock());
    --m_running;
    if (m_running == 0 && (!m_blocked.empty() || !m_events.empty()))
        AdvanceLocked();
}

void VirtualScheduler::AdvanceLocked() {
    while (m_running == 0) {
        std::optional<std::uint64_t> next;
        for (kernel::Waiter* waiter : m_blocked) {
            if (waiter->deadline && (!next || *waiter->deadline < *next))
                next = waiter->deadline;
        }
        if (!m_events.empty() && (!next || m_events.begin()->first < *next)) {
            next = m_events.begin()->first;
        }
        if (!next) {
            if (m_blocked.empty())
                return;  // every thread has ended
            std::fprintf(stderr,
                         "virtual clock: deadlock at %llu ms: %zu threads wait without end\n",
                         static_cast<unsigned long long>(m_now), m_blocked.size());
            std::abort();
        }
        if (*next > m_now)
            m_now = *next;
        while (!m_events.empty() && m_events.begin()->first <= m_now) {
            auto action = std::move(m_events.begin()->second);
            m_events.erase(m_events.begin());
            action();
        }
        std::vector<kernel::Waiter*> due;
        for (kernel::Waiter* waiter : m_blocked) {
            if (waiter->deadline && *waiter->deadline <= m_now)
                due.push_back(waiter);
        }
        for (kernel::Waiter* waiter : due)
            Wake(*waiter);
    }
}

}  // namespace quarrin::platform
