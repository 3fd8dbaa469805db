// The arithmetic of the host clock at a rate: scheduler milliseconds from real time, and the
// real moment a scheduler deadline falls due. Kept apart from the scheduler so that the
// command line's range of rates can be checked against it.
#pragma once

#include <chrono>
#include <cstdint>

namespace quarrin::platform {

using ScaledClockBase = std::chrono::steady_clock;

// The longest single real wait. A deadline further away (a long time-out at a slow rate) is
// waited for in steps of this, so that its real moment never leaves the clock's range.
inline constexpr std::chrono::hours SCALED_CLOCK_LONGEST_WAIT{24};

// Scheduler milliseconds after `realMs` real milliseconds at `rate`.
inline std::uint64_t ScaledMs(double realMs, double rate) {
    return static_cast<std::uint64_t>(realMs * rate);
}

// When a wait for scheduler time `deadlineMs` ends, counted from the clock's `origin`. A
// deadline on the scaled clock rounds down to whole milliseconds; the wait ends a little
// past it so that the caller sees the deadline reached and does not spin.
inline ScaledClockBase::time_point RealDeadline(ScaledClockBase::time_point origin,
                                                ScaledClockBase::time_point now,
                                                std::uint64_t deadlineMs, double rate) {
    using Milliseconds = std::chrono::duration<double, std::milli>;
    const double dueMs = static_cast<double>(deadlineMs) / rate;
    const double latestMs = Milliseconds(now - origin + SCALED_CLOCK_LONGEST_WAIT).count();
    if (!(dueMs < latestMs))
        return now + SCALED_CLOCK_LONGEST_WAIT;
    return origin + std::chrono::duration_cast<ScaledClockBase::duration>(Milliseconds(dueMs)) +
           std::chrono::microseconds(200);
}

}  // namespace quarrin::platform
