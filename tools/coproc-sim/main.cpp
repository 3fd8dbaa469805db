// coproc-sim: plays the MCU or the MPEG co-processor for the loader on a serial line.
// See SimUsage() in SimOptions.cpp for the options.
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Counterpart.h"
#include "SerialLine.h"
#include "SimOptions.h"
#include "Unsolicited.h"
#include "link/FrameCodec.h"

using namespace coprocsim;

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

class Logger {
public:
    explicit Logger(const std::string& file)
        : m_out(file.empty() ? stderr : std::fopen(file.c_str(), "a")), m_start(Clock::now()) {}
    ~Logger() {
        if (m_out != nullptr && m_out != stderr)
            std::fclose(m_out);
    }
    bool Ok() const { return m_out != nullptr; }
    void operator()(const std::string& line) {
        double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        std::fprintf(m_out, "[%9.3f] %s\n", seconds, line.c_str());
        std::fflush(m_out);
    }

private:
    std::FILE* m_out;
    Clock::time_point m_start;
};

std::string Hex(const Bytes& bytes, std::size_t limit = 24) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(digits, sizeof digits, "%02x ", bytes[i]);
        text += digits;
    }
    if (bytes.size() > limit)
        text += "... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// Sends the counterpart's frames through the fault settings and the log.
class Outbox {
public:
    Outbox(const SimOptions& options, SerialLine& line, Counterpart& counterpart, Logger& log)
        : m_options(options), m_line(line), m_counterpart(counterpart), m_log(log) {}

    void Send(Bytes frame) {
        ++m_count;
        std::string what = m_counterpart.Describe(frame, false);
        if (m_options.silent) {
            m_log("silent: not sending " + what);
            return;
        }
        if (Every(m_options.dropEvery)) {
            m_log("fault: dropping " + what + " (frame " + std::to_string(m_count) + ")");
            return;
        }
        if (Every(m_options.corruptEvery)) {
            frame.back() ^= 0x5A;
            m_log("fault: corrupting the checksum of " + what);
        }
        if (Every(m_options.junkEvery))
            Put(Junk(), "fault: odd frame");
        if (Every(m_options.reorderEvery) && m_held.empty()) {
            m_log("fault: holding " + what + " back until the next frame");
            m_held = std::move(frame);
            return;
        }
        Put(frame, "send " + what);
        if (Every(m_options.duplicateEvery))
            Put(frame, "fault: again " + what);
        if (!m_held.empty()) {
            Bytes held = std::move(m_held);
            m_held.clear();
            Put(held, "fault: late " + m_counterpart.Describe(held, false));
        }
    }

private:
    bool Every(int n) const { return n > 0 && m_count % n == 0; }

    void Put(const Bytes& frame, const std::string& what) {
        m_log(what + ": " + Hex(frame));
        if (!m_line.Send(frame, m_options.pace, m_options.baud)) {
            m_log("line blocked or failed: " + what + " not sent");
        }
    }

    // The odd frames of --junk-every, in turn: LEN 0 and LEN 1 (no command byte of their
    // own, yet their checksums hold), a pass-through frame of 258 bytes (the longest a frame
    // can be) and a block acknowledgement without its block number.
    Bytes Junk() {
        bool mcu = m_options.kind == Kind::Mcu;
        switch (m_junk++ % 4) {
            case 0:
                return {0x5A, 0xA5, 0x00};
            case 1:
                return {0x5A, 0xA5, 0x01, 0xFF};
            case 2: {
                Bytes payload(FRAME_MAX_PAYLOAD, 0x33);
                Bytes frame(FRAME_MAX_LENGTH);
                BuildFrame(mcu ? 0x73 : 0xF3, payload.data(), FRAME_MAX_PAYLOAD, frame.data());
                return frame;
            }
            default: {
                Bytes frame(FRAME_OVERHEAD);
                BuildFrame(mcu ? 0x95 : 0xA5, nullptr, 0, frame.data());
                return frame;
            }
        }
    }

    const SimOptions& m_options;
    SerialLine& m_line;
    Counterpart& m_counterpart;
    Logger& m_log;
    long m_count = 0;
    long m_junk = 0;
    Bytes m_held;  // a frame held back by --reorder-every
};

int WaitMs(const Counterpart& counterpart, const Unsolicited& unsolicited) {
    auto due = counterpart.NextDue();
    auto other = unsolicited.NextDue();
    if (!due || (other && *other < *due))
        due = other;
    if (!due)
        return 500;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 500));
}

// Everything the co-processor does: answers, its own messages, and the line's faults.
class Coprocessor {
public:
    Coprocessor(const SimOptions& options, SerialLine& line, Logger& log)
        : m_options(options),
          m_line(line),
          m_log(log),
          m_counterpart(options, [&log](const std::string& text) { log(text); }),
          m_unsolicited(options, [&log](const std::string& text) { log(text); }),
          m_outbox(options, line, m_counterpart, log) {}

    // One pass: waits for the line or the next planned frame, takes what came, sends what
    // is due.
    void Step() {
        bool deaf = m_options.deafAfter >= 0 && m_received >= m_options.deafAfter;
        pollfd fd{m_line.Fd(), static_cast<short>(deaf ? 0 : POLLIN), 0};
        int ready = poll(&fd, 1, WaitMs(m_counterpart, m_unsolicited));
        if (ready > 0 && (fd.revents & POLLIN) != 0) {
            Take(m_line.ReadAvailable());
        } else if (ready > 0) {
            // A hang-up of the far end: nothing to read, wait a little instead of spinning.
            poll(nullptr, 0, 100);
        }
        for (Bytes& frame : m_counterpart.Due(Clock::now()))
            Send(std::move(frame));
        for (Bytes& frame : m_unsolicited.Due(Clock::now()))
            Send(std::move(frame));
    }

private:
    void Take(const Bytes& bytes) {
        if (!bytes.empty())
            m_counterpart.AddReaction(Clock::now() - m_line.LastWrite());
        if (m_options.pace)
            m_line.PaceArrival(bytes.size(), m_options.baud);
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
        std::vector<Bytes> frames;
        TakeFrames(m_buffer, m_scratch, [&frames](const BYTE* frame, int length) {
            frames.emplace_back(frame, frame + length);
        });
        for (const Bytes& frame : frames)
            TakeFrame(frame);
    }
    void TakeFrame(const Bytes& frame) {
        ++m_received;
        if (m_options.dropInEvery > 0 && m_received % m_options.dropInEvery == 0) {
            m_log("fault: losing " + m_counterpart.Describe(frame, true) + " on the way in");
            return;
        }
        if (m_options.deafAfter >= 0 && m_received == m_options.deafAfter)
            m_log("deaf from now on");
        if (m_unsolicited.Receive(frame, Clock::now()))
            return;
        m_log("recv " + m_counterpart.Describe(frame, true) + ": " + Hex(frame));
        for (Bytes& reply : m_counterpart.Receive(frame, Clock::now()))
            Send(std::move(reply));
        if (m_counterpart.TakeHangUp()) {
            m_line.HangUp();
            m_log("line closed");
        }
    }
    void Send(Bytes frame) {
        if (!m_line.IsOpen())
            return;  // hung up: nothing goes out any more
        m_unsolicited.Sent(frame, Clock::now());
        m_outbox.Send(std::move(frame));
    }

    const SimOptions& m_options;
    SerialLine& m_line;
    Logger& m_log;
    Counterpart m_counterpart;
    Unsolicited m_unsolicited;
    Outbox m_outbox;
    Bytes m_buffer;
    unsigned char m_scratch[FRAME_MAX_LENGTH];
    long m_received = 0;
};

int Serve(const SimOptions& options, SerialLine& line, Logger& log) {
    Coprocessor coprocessor(options, line, log);
    while (!g_stop)
        coprocessor.Step();
    log("stopping");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ParseResult parsed = ParseSimOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "coproc-sim: %s\n%s", parsed.error.c_str(), SimUsage().c_str());
        return 2;
    }
    const SimOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    Logger log(options.logFile);
    if (!log.Ok()) {
        std::fprintf(stderr, "coproc-sim: cannot open log file '%s'\n", options.logFile.c_str());
        return 2;
    }
    SerialLine line;
    std::string error;
    if (!line.Open(options.device, options.baud, error)) {
        std::fprintf(stderr, "coproc-sim: %s\n", error.c_str());
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::printf("%s\n", line.PeerPath().c_str());
    std::fflush(stdout);
    log(std::string(options.kind == Kind::Mcu ? "MCU" : "MPEG module") + " on " + line.PeerPath() +
        " at " + std::to_string(options.baud) + " baud" + (options.pace ? ", paced" : ""));
    return Serve(options, line, log);
}
