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
            Put(Junk(), "fault: malformed frame");
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

    // The malformed frames of --junk-every, in turn: LEN 0 and LEN 1 (no command byte of
    // their own, yet their checksums hold), a pass-through frame of 258 bytes (more than the
    // 256 bytes its mapping holds) and a block acknowledgement without its block number.
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

int WaitMs(const Counterpart& counterpart) {
    auto due = counterpart.NextDue();
    if (!due)
        return 500;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 500));
}

int Serve(const SimOptions& options, SerialLine& line, Logger& log) {
    Counterpart counterpart(options, [&log](const std::string& text) { log(text); });
    Outbox outbox(options, line, counterpart, log);
    Bytes buffer;
    unsigned char scratch[FRAME_MAX_LENGTH];
    long received = 0;
    while (!g_stop) {
        pollfd fd{line.Fd(), POLLIN, 0};
        int ready = poll(&fd, 1, WaitMs(counterpart));
        if (ready > 0 && (fd.revents & POLLIN) != 0) {
            Bytes bytes = line.ReadAvailable();
            if (!bytes.empty())
                counterpart.AddReaction(Clock::now() - line.LastWrite());
            if (options.pace)
                line.PaceArrival(bytes.size(), options.baud);
            buffer.insert(buffer.end(), bytes.begin(), bytes.end());
            std::vector<Bytes> frames;
            TakeFrames(buffer, scratch, [&frames](const BYTE* frame, int length) {
                frames.emplace_back(frame, frame + length);
            });
            for (const Bytes& frame : frames) {
                ++received;
                if (options.dropInEvery > 0 && received % options.dropInEvery == 0) {
                    log("fault: losing " + counterpart.Describe(frame, true) + " on the way in");
                    continue;
                }
                log("recv " + counterpart.Describe(frame, true) + ": " + Hex(frame));
                for (Bytes& reply : counterpart.Receive(frame, Clock::now()))
                    outbox.Send(reply);
            }
        } else if (ready > 0) {
            // A hang-up of the far end: nothing to read, wait a little instead of spinning.
            poll(nullptr, 0, 100);
        }
        for (Bytes& frame : counterpart.Due(Clock::now()))
            outbox.Send(frame);
    }
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
