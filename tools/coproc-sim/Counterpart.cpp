#include "Counterpart.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "link/FrameCodec.h"

namespace coprocsim {

namespace {

Bytes MakeFrame(unsigned char code, const Bytes& payload) {
    Bytes frame(payload.size() + FRAME_OVERHEAD);
    int length = BuildFrame(code, payload.data(), static_cast<int>(payload.size()), frame.data());
    frame.resize(static_cast<std::size_t>(length));
    return frame;
}

void PutText(Bytes& payload, std::size_t offset, std::size_t size, const std::string& text) {
    std::memcpy(payload.data() + offset, text.data(), std::min(size, text.size()));
}

unsigned Word16(const Bytes& frame, std::size_t offset) {
    return frame.size() > offset + 2 ? frame[offset] * 256u + frame[offset + 1] : 0;
}

struct CodeName {
    unsigned char code;
    const char* name;
};

constexpr CodeName kMcuCommands[] = {
    {0x00, "UPDATE_REQUEST"},   {0x01, "UPDATE_ACCEPT"}, {0x02, "STATUS_ACK"},
    {0x03, "MPEG_UPDATE_MODE"}, {0x14, "START_PROGRAM"}, {0x15, "DATA_BLOCK"},
    {0x16, "END_PROGRAM"},      {0x17, "ENTER_LOADER"},  {0xF3, "PASS_THROUGH"}};
constexpr CodeName kMcuMessages[] = {
    {0x73, "TO_MPEG"},   {0x80, "UPDATE_ACK"},     {0x81, "STATUS"}, {0x94, "PROGRAM_READY"},
    {0x95, "BLOCK_ACK"}, {0x96, "PROGRAM_RESULT"}, {0x97, "VERSION"}};
constexpr CodeName kMpegCommands[] = {{0x00, "UPDATE_REQUEST"}, {0x15, "ENTER_LOADER"},
                                      {0x24, "START_PROGRAM"},  {0x25, "DATA_BLOCK"},
                                      {0x26, "END_PROGRAM"},    {0x73, "PASS_THROUGH"}};
constexpr CodeName kMpegMessages[] = {
    {0x80, "UPDATE_ACK"},     {0x95, "VERSION"}, {0xA4, "PROGRAM_READY"}, {0xA5, "BLOCK_ACK"},
    {0xA6, "PROGRAM_RESULT"}, {0xF2, "ALIVE"},   {0xF3, "TO_MCU"}};

template <std::size_t N>
std::string NameOf(const CodeName (&table)[N], unsigned char code) {
    for (const CodeName& entry : table) {
        if (entry.code == code)
            return entry.name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "code 0x%02x", code);
    return text;
}

}  // namespace

Counterpart::Counterpart(const SimOptions& options, Log log)
    : m_options(options), m_log(std::move(log)) {
    if (m_options.kind == Kind::Mcu)
        m_image.assign(kMcuImageSize, 0xFF);
    if (m_options.kind == Kind::Mpeg && m_options.aliveMs > 0)
        m_nextAlive = Clock::now();
}

std::string Counterpart::Describe(const Bytes& frame, bool fromLoader) const {
    if (frame.size() < 4)
        return "short frame";
    bool mcu = m_options.kind == Kind::Mcu;
    std::string name =
        fromLoader ? (mcu ? NameOf(kMcuCommands, frame[3]) : NameOf(kMpegCommands, frame[3]))
                   : (mcu ? NameOf(kMcuMessages, frame[3]) : NameOf(kMpegMessages, frame[3]));
    bool dataBlock = frame[3] == (mcu ? 0x15 : 0x25) && fromLoader;
    bool blockAck = frame[3] == (mcu ? 0x95 : 0xA5) && !fromLoader;
    if (dataBlock || blockAck) {
        // Two appends: GCC 12 at -O3 warns falsely (-Wrestrict) about " " + std::string.
        name += ' ';
        name += std::to_string(Word16(frame, 4));
    }
    return name;
}

std::vector<Bytes> Counterpart::Receive(const Bytes& frame, Clock::time_point now) {
    if (frame.size() < 5)
        return {};
    if (m_ignored < m_options.ignoreFirst) {
        ++m_ignored;
        m_log("ignoring " + Describe(frame, true) + " (" + std::to_string(m_ignored) + " of " +
              std::to_string(m_options.ignoreFirst) + ")");
        return {};
    }
    if (m_options.ignoreCode == frame[3]) {
        m_log("ignoring " + Describe(frame, true) + " (never answered)");
        return {};
    }
    bool mcu = m_options.kind == Kind::Mcu;
    if (frame[3] == (mcu ? 0x16 : 0x26))
        WriteTiming(now);
    return mcu ? ReceiveMcu(frame[3], frame, now) : ReceiveMpeg(frame[3], frame, now);
}

bool Counterpart::TakeDataBlock(Clock::time_point now) {
    if (!m_firstBlock)
        m_firstBlock = now;
    ++m_blocks;
    return m_options.wrongAckEvery > 0 && m_blocks % m_options.wrongAckEvery == 0;
}

bool Counterpart::HangsUpAt(unsigned block) {
    if (m_options.hangUpAt < 0 || block != static_cast<unsigned>(m_options.hangUpAt))
        return false;
    m_hangUp = true;
    m_log("fault: hanging up at block " + std::to_string(block));
    return true;
}

bool Counterpart::TakeHangUp() {
    return std::exchange(m_hangUp, false);
}

void Counterpart::AddReaction(Clock::duration taken) {
    if (m_firstBlock)
        m_reaction += taken;
}

void Counterpart::WriteTiming(Clock::time_point endFrame) {
    if (m_options.timingFile.empty() || !m_firstBlock)
        return;
    auto micros = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    };
    std::ofstream out(m_options.timingFile, std::ios::trunc);
    auto reaction = std::chrono::duration_cast<std::chrono::microseconds>(m_reaction).count();
    out << micros(*m_firstBlock) << ' ' << micros(endFrame) << ' ' << m_blocks << ' ' << reaction
        << '\n';
    m_log("timing written to " + m_options.timingFile + (out ? "" : " (FAILED)"));
}

unsigned char Counterpart::Result(bool imageChecks) const {
    if (m_options.result)
        return static_cast<unsigned char>(*m_options.result);
    return imageChecks ? 0 : 1;
}

void Counterpart::WriteImage(const Bytes& image, std::size_t size) {
    if (m_options.imageOut.empty())
        return;
    std::ofstream out(m_options.imageOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
    m_log("image of " + std::to_string(size) + " bytes written to " + m_options.imageOut +
          (out ? "" : " (FAILED)"));
}

Bytes Counterpart::McuVersion() const {
    Bytes payload(73, 0);
    PutText(payload, 0, 17, m_options.version);
    PutText(payload, 17, 6, m_options.date);
    PutText(payload, 24, 16, m_options.can);
    PutText(payload, 40, 16, m_options.internal);
    PutText(payload, 56, 16, m_options.custom);
    return MakeFrame(0x97, payload);
}

Bytes Counterpart::MpegVersion() const {
    Bytes payload(42, 0);
    PutText(payload, 0, 8, m_options.version);
    PutText(payload, 8, 18, m_options.date);
    PutText(payload, 26, 16, m_options.servo);
    return MakeFrame(0x95, payload);
}

std::vector<Bytes> Counterpart::ReceiveMcu(unsigned char code, const Bytes& frame,
                                           Clock::time_point now) {
    switch (code) {
        case 0x00:
            return {MakeFrame(0x80, {})};
        case 0x17:
            return {McuVersion()};
        case 0x14:
            return {MakeFrame(0x94, {})};
        case 0x15: {
            if (frame.size() != 135)
                return {};
            unsigned block = Word16(frame, 4);
            if (HangsUpAt(block))
                return {};
            if (block < 1024)
                std::memcpy(m_image.data() + block * MCU_BLOCK_SIZE, frame.data() + 6,
                            MCU_BLOCK_SIZE);
            if (TakeDataBlock(now)) {
                unsigned other = block > 0 ? block - 1 : block + 1;
                m_log("fault: acknowledging block " + std::to_string(other) + " instead of " +
                      std::to_string(block));
                return {MakeFrame(0x95, {static_cast<unsigned char>(other >> 8),
                                         static_cast<unsigned char>(other)})};
            }
            return {MakeFrame(0x95, {frame[4], frame[5]})};
        }
        case 0x16: {
            unsigned sum = 0;
            for (unsigned char b : m_image)
                sum += b;
            unsigned expected = Word16(frame, 4);
            m_log("image sum " + std::to_string(sum & 0xFFFF) + ", end frame says " +
                  std::to_string(expected));
            WriteImage(m_image, m_image.size());
            return AnswerEnd(0x96, Result((sum & 0xFFFF) == expected), now);
        }
        default:
            return {};  // accept, status acknowledgement, update mode: no answer
    }
}

std::vector<Bytes> Counterpart::ReceiveMpeg(unsigned char code, const Bytes& frame,
                                            Clock::time_point now) {
    switch (code) {
        case 0x00:
            m_updating = true;  // no alive messages while the update runs
            return {MakeFrame(0x80, {0x00})};
        case 0x15:
            return {MpegVersion()};
        case 0x24:
            m_image.clear();
            m_imageEnd = 0;
            return {MakeFrame(0xA4, {})};
        case 0x25: {
            if (frame.size() < 7)
                return {};
            unsigned block = Word16(frame, 4);
            if (HangsUpAt(block))
                return {};
            std::size_t count = frame.size() - 7;
            std::size_t end = block * 240u + count;
            if (m_image.size() < end)
                m_image.resize(end, 0);
            std::copy(frame.begin() + 6, frame.end() - 1,
                      m_image.begin() + block * MPEG_BLOCK_SIZE);
            m_imageEnd = std::max(m_imageEnd, end);
            unsigned next = block + 1;
            if (TakeDataBlock(now)) {
                next = block;
                m_log("fault: asking again for block " + std::to_string(block));
            }
            if (block == 0 && m_options.skipTo >= 0 && !std::exchange(m_skipped, true)) {
                next = static_cast<unsigned>(m_options.skipTo);
                m_log("fault: asking for block " + std::to_string(next) + " after block 0");
            }
            return {MakeFrame(
                0xA5, {static_cast<unsigned char>(next >> 8), static_cast<unsigned char>(next)})};
        }
        case 0x26: {
            unsigned value = Word16(frame, 4);
            bool checks = m_imageEnd >= 34 && m_image[32] * 256u + m_image[33] == value;
            WriteImage(m_image, m_imageEnd);
            m_updating = false;
            return AnswerEnd(0xA6, Result(checks), now);
        }
        default:
            return {};
    }
}

std::vector<Bytes> Counterpart::AnswerEnd(unsigned char code, unsigned char result,
                                          Clock::time_point now) {
    std::vector<Bytes> answers{MakeFrame(code, {result})};
    if (m_options.extraResult)
        answers.push_back(MakeFrame(code, {static_cast<unsigned char>(*m_options.extraResult)}));
    if (m_options.endDelayMs == 0) {
        ResumeAlive(now);
        return answers;
    }
    auto due = now + std::chrono::milliseconds(m_options.endDelayMs);
    m_log("answering in " + std::to_string(m_options.endDelayMs) + " ms");
    if (m_late.empty())
        ResumeAlive(due);  // busy until then: no alive message before the answer
    for (Bytes& answer : answers)
        m_late.push_back({due, std::move(answer)});
    return {};
}

void Counterpart::ResumeAlive(Clock::time_point answered) {
    if (m_options.kind == Kind::Mpeg && m_options.aliveMs > 0)
        m_nextAlive = answered + std::chrono::milliseconds(m_options.flashMs);
}

std::vector<Bytes> Counterpart::Due(Clock::time_point now) {
    std::vector<Bytes> due;
    while (!m_late.empty() && m_late.front().due <= now) {
        due.push_back(std::move(m_late.front().frame));
        m_late.erase(m_late.begin());
        ResumeAlive(now);
    }
    if (m_nextAlive && !m_updating && now >= *m_nextAlive) {
        *m_nextAlive = now + std::chrono::milliseconds(m_options.aliveMs);
        due.push_back(MakeFrame(0xF2, {}));
    }
    return due;
}

std::optional<Clock::time_point> Counterpart::NextDue() const {
    std::optional<Clock::time_point> next;
    if (!m_updating)
        next = m_nextAlive;
    if (!m_late.empty() && (!next || m_late.front().due < *next))
        next = m_late.front().due;
    return next;
}

}  // namespace coprocsim
