// What the simulated co-processor sends without being asked (pass-through frames, status
// messages, a stray programming result, acknowledgements after its result, floods), and the
// check of the pass-through frames the loader forwards to it. Pure logic over frames and a
// clock, like Counterpart.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Counterpart.h"

namespace coprocsim {

class Unsolicited {
public:
    Unsolicited(const SimOptions& options, Log log);

    // A good frame from the loader. True when it is a pass-through frame from the other
    // co-processor: checked, logged, and not for the counterpart.
    bool Receive(const Bytes& frame, Clock::time_point now);
    // A frame this co-processor has sent.
    void Sent(const Bytes& frame, Clock::time_point now);
    // What is due by `now`; each entry goes out in one write.
    std::vector<Bytes> Due(Clock::time_point now);
    // When Due has something next (now while flooding); none: nothing planned.
    std::optional<Clock::time_point> NextDue() const;

    // A numbered pass-through frame, 9 to 258 bytes long, and its check.
    static Bytes PassThroughFrame(unsigned char code, unsigned number);
    static std::string CheckPassThrough(const Bytes& frame);

private:
    struct Periodic {
        std::optional<Clock::time_point> next;
        std::chrono::milliseconds every{0};
        bool Due(Clock::time_point now);
    };
    void Start(Clock::time_point now);
    Bytes FloodFrame();
    Bytes WrongAck();

    SimOptions m_options;
    Log m_log;
    bool m_mcu;
    bool m_started = false;
    bool m_flooding = false;
    unsigned m_passThroughNumber = 0;
    unsigned m_floodCount = 0;
    unsigned m_wrongAcks = 0;
    Periodic m_passThrough;
    Periodic m_status;
    Periodic m_acksAfterResult;
    std::optional<Clock::time_point> m_strayResult;
};

}  // namespace coprocsim
