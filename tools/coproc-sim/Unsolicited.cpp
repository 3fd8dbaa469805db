#include "Unsolicited.h"

#include <algorithm>

#include "link/FrameCodec.h"

namespace coprocsim {

namespace {

constexpr std::size_t kFloodBurst = 32;  // frames per write while flooding

Bytes MakeFrame(unsigned char code, const Bytes& payload) {
    Bytes frame(payload.size() + FRAME_OVERHEAD);
    int length = BuildFrame(code, payload.data(), static_cast<int>(payload.size()), frame.data());
    frame.resize(static_cast<std::size_t>(length));
    return frame;
}

// Pass-through payload: "PT", the number (2 bytes), then a fill that depends on both; every
// 4th frame is the longest a frame can be.
std::size_t PassThroughPayload(unsigned number) {
    return 4 + (number % 4 == 0 ? FRAME_MAX_PAYLOAD - 4 : (number * 37) % 200);
}

unsigned char Fill(unsigned number, std::size_t index) {
    return static_cast<unsigned char>(number * 7 + index);
}

}  // namespace

bool Unsolicited::Periodic::Due(Clock::time_point now) {
    if (!next || now < *next)
        return false;
    *next = now + every;
    return true;
}

Unsolicited::Unsolicited(const SimOptions& options, Log log)
    : m_options(options), m_log(std::move(log)), m_mcu(options.kind == Kind::Mcu) {
    m_passThrough.every = std::chrono::milliseconds(options.passThroughMs);
    m_status.every = std::chrono::milliseconds(options.statusMs);
    m_acksAfterResult.every = std::chrono::milliseconds(options.acksAfterResultMs);
}

Bytes Unsolicited::PassThroughFrame(unsigned char code, unsigned number) {
    Bytes payload(PassThroughPayload(number));
    payload[0] = 'P';
    payload[1] = 'T';
    payload[2] = static_cast<unsigned char>(number >> 8);
    payload[3] = static_cast<unsigned char>(number);
    for (std::size_t i = 4; i < payload.size(); ++i)
        payload[i] = Fill(number, i);
    return MakeFrame(code, payload);
}

std::string Unsolicited::CheckPassThrough(const Bytes& frame) {
    std::string length = std::to_string(frame.size()) + " bytes";
    if (frame.size() < 9 || frame[4] != 'P' || frame[5] != 'T')
        return "(not ours): " + length;
    unsigned number = frame[6] * 256u + frame[7];
    bool intact = frame.size() == PassThroughPayload(number) + FRAME_OVERHEAD;
    for (std::size_t i = 4; intact && i + FRAME_OVERHEAD < frame.size(); ++i)
        intact = frame[4 + i] == Fill(number, i);
    return "#" + std::to_string(number) + ": " + length + (intact ? " intact" : " DAMAGED");
}

void Unsolicited::Start(Clock::time_point now) {
    m_started = true;
    if (m_options.passThroughMs > 0)
        m_passThrough.next = now;
    if (m_options.statusMs > 0 && m_mcu)
        m_status.next = now;
    if (m_options.strayResultMs >= 0)
        m_strayResult = now + std::chrono::milliseconds(m_options.strayResultMs);
    if (m_options.flood == "status" || m_options.flood == "update-ack")
        m_flooding = true;
}

bool Unsolicited::Receive(const Bytes& frame, Clock::time_point now) {
    if (frame.size() < 5)
        return false;
    if (!m_started)
        Start(now);
    if (m_options.flood == "wrong-acks" && frame[3] == (m_mcu ? 0x15 : 0x25))
        m_flooding = true;
    if (frame[3] != (m_mcu ? 0xF3 : 0x73))
        return false;
    m_log("recv PASS_THROUGH " + CheckPassThrough(frame));
    return true;
}

void Unsolicited::Sent(const Bytes& frame, Clock::time_point now) {
    bool result = frame.size() >= 5 && frame[3] == (m_mcu ? 0x96 : 0xA6);
    if (result && m_options.acksAfterResultMs > 0 && !m_acksAfterResult.next)
        m_acksAfterResult.next = now + m_acksAfterResult.every;
}

Bytes Unsolicited::WrongAck() {
    unsigned block = m_mcu ? 0x7FFE + m_wrongAcks % 2 : m_wrongAcks % 2;
    ++m_wrongAcks;
    return MakeFrame(m_mcu ? 0x95 : 0xA5,
                     {static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)});
}

Bytes Unsolicited::FloodFrame() {
    if (m_options.flood == "wrong-acks")
        return WrongAck();
    if (m_options.flood == "status")
        return MakeFrame(0x81, {0x01});
    return m_mcu ? MakeFrame(0x80, {}) : MakeFrame(0x80, {0x00});
}

std::vector<Bytes> Unsolicited::Due(Clock::time_point now) {
    std::vector<Bytes> due;
    if (m_passThrough.Due(now)) {
        Bytes burst;
        for (int i = 0; i < m_options.passThroughBurst; ++i) {
            Bytes frame = PassThroughFrame(m_mcu ? 0x73 : 0xF3, ++m_passThroughNumber);
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
        due.push_back(std::move(burst));
    }
    if (m_status.Due(now))
        due.push_back(MakeFrame(0x81, {0x01}));
    if (m_strayResult && now >= *m_strayResult) {
        m_strayResult.reset();
        m_log("stray programming result");
        due.push_back(MakeFrame(m_mcu ? 0x96 : 0xA6,
                                {static_cast<unsigned char>(m_options.result.value_or(0))}));
    }
    if (m_acksAfterResult.Due(now))
        due.push_back(WrongAck());
    if (m_flooding) {
        Bytes burst;
        for (std::size_t i = 0; i < kFloodBurst; ++i) {
            Bytes frame = FloodFrame();
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
        due.push_back(std::move(burst));
    }
    return due;
}

std::optional<Clock::time_point> Unsolicited::NextDue() const {
    if (m_flooding)
        return Clock::now();
    std::optional<Clock::time_point> next;
    for (const auto& candidate :
         {m_passThrough.next, m_status.next, m_acksAfterResult.next, m_strayResult}) {
        if (candidate && (!next || *candidate < *next))
            next = candidate;
    }
    return next;
}

}  // namespace coprocsim
