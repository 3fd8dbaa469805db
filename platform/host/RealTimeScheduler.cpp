#include "platform/host/RealTimeScheduler.h"

#include "platform/host/ScaledClock.h"

namespace quarrin::platform {

RealTimeScheduler::RealTimeScheduler(double rate) : m_origin(Clock::now()), m_rate(rate) {}

std::uint64_t RealTimeScheduler::NowMs() {
    return ScaledMs(std::chrono::duration<double, std::milli>(Clock::now() - m_origin).count(),
                    m_rate);
}

void RealTimeScheduler::Block(std::unique_lock<std::mutex>& lock, kernel::Waiter& waiter) {
    if (!waiter.deadline) {
        waiter.cv.wait(lock, [&] { return waiter.woken; });
        return;
    }
    // A wait cut short at the longest real wait returns unwoken before its deadline: the
    // caller sees the deadline not yet reached and waits again.
    waiter.cv.wait_until(lock, RealDeadline(m_origin, Clock::now(), *waiter.deadline, m_rate),
                         [&] { return waiter.woken; });
}

void RealTimeScheduler::Wake(kernel::Waiter& waiter) {
    waiter.woken = true;
    waiter.cv.notify_one();
}

}  // namespace quarrin::platform
