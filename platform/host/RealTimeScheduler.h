// The host's clock: monotonic real time, optionally running faster by a constant rate (the
// arithmetic is in ScaledClock.h; the command line keeps the rate within what it carries).
#pragma once

#include <chrono>

#include "platform/host/ScaledClock.h"
#include "platform/kernel/Scheduler.h"

namespace quarrin::platform {

class RealTimeScheduler : public kernel::Scheduler {
public:
    explicit RealTimeScheduler(double rate = 1.0);

    std::uint64_t NowMs() override;
    void Block(std::unique_lock<std::mutex>& lock, kernel::Waiter& waiter) override;
    void Wake(kernel::Waiter& waiter) override;

private:
    using Clock = ScaledClockBase;
    Clock::time_point m_origin;
    double m_rate;
};

}  // namespace quarrin::platform
