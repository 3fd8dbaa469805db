#include "platform/host/RealTimeScheduler.h"

namespace quarrin::platform {

RealTimeScheduler::RealTimeScheduler(double rate) : m_origin(Clock::now()), m_rate(rate) {}

std::uint64_t RealTimeScheduler::NowMs() {
    auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - m_origin).count();
    return static_cast<std::uint64_t>(elapsed * m_rate);
}

void RealTimeScheduler::Block(std::unique_lock<std::mutex>& lock, kernel::Waiter& waiter) {
    if (!waiter.deadline) {
        waiter.cv.wait(lock, [&] { return waiter.woken; });
        return;
    }
    auto realDeadline = m_origin + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double, std::milli>(
                                           static_cast<double>(*waiter.deadline) / m_rate));
    // A deadline on the scaled clock rounds down to whole milliseconds; wait a little past it
    // so that the caller sees the deadline reached and does not spin.
    realDeadline += std::chrono::microseconds(200);
    waiter.cv.wait_until(lock, realDeadline, [&] { return waiter.woken; });
}

void RealTimeScheduler::Wake(kernel::Waiter& waiter) {
    waiter.woken = true;
    waiter.cv.notify_one();
}

}  // namespace quarrin::platform
