// The co-processor's side of the protocol: what the MCU or the MPEG module answers to each
// command, the image it collects, and the MPEG module's alive messages. Pure logic over
// frames and a clock, so that it can be tested without a line.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "contract/FirmwareGeometry.h"

namespace coprocsim {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
using Log = std::function<void(const std::string&)>;

class Counterpart {
public:
    Counterpart(const SimOptions& options, Log log);

    // A good frame from the loader; returns the frames to send at once.
    std::vector<Bytes> Receive(const Bytes& frame, Clock::time_point now);
    // The frames due by `now` without a command: alive messages, late answers.
    std::vector<Bytes> Due(Clock::time_point now);
    // When Due has something next; none: only commands make it send.
    std::optional<Clock::time_point> NextDue() const;

    // Time the far end took to answer, from our last frame to the next bytes from it; summed
    // from the first data block on for --timing.
    void AddReaction(Clock::duration taken);

    // True once, when a data block has asked for the line to be closed (--hang-up-at).
    bool TakeHangUp();

    // A readable name of a frame's code, in either direction.
    std::string Describe(const Bytes& frame, bool fromLoader) const;

    static constexpr std::size_t kMcuImageSize = MCU_IMAGE_SIZE;

private:
    std::vector<Bytes> ReceiveMcu(unsigned char code, const Bytes& frame, Clock::time_point now);
    std::vector<Bytes> ReceiveMpeg(unsigned char code, const Bytes& frame, Clock::time_point now);
    Bytes McuVersion() const;
    Bytes MpegVersion() const;
    unsigned char Result(bool imageChecks) const;
    void WriteImage(const Bytes& image, std::size_t size);
    // Notes a data block's arrival for --timing; true when its acknowledgement should name
    // another block (--wrong-ack-every).
    bool TakeDataBlock(Clock::time_point now);
    // Whether data block `block` is the one of --hang-up-at (then it goes unanswered).
    bool HangsUpAt(unsigned block);
    void WriteTiming(Clock::time_point endFrame);
    // The answer to an end frame: the result, the --extra-result, and for the MPEG module
    // alive messages again once its flash is written; late with --end-delay-ms.
    std::vector<Bytes> AnswerEnd(unsigned char code, unsigned char result, Clock::time_point now);
    void ResumeAlive(Clock::time_point answered);

    SimOptions m_options;
    Log m_log;
    int m_ignored = 0;
    long m_blocks = 0;  // data blocks received, resends included
    std::optional<Clock::time_point> m_firstBlock;
    Clock::duration m_reaction{};
    Bytes m_image;
    std::size_t m_imageEnd = 0;  // MPEG: one past the highest byte received
    bool m_updating = false;     // MPEG: between the update request and the flash write
    bool m_hangUp = false;       // --hang-up-at has come: the line is to be closed
    bool m_skipped = false;      // --skip-to has been answered
    std::optional<Clock::time_point> m_nextAlive;
    struct Late {
        Clock::time_point due;
        Bytes frame;
    };
    std::vector<Late> m_late;  // answers held back by --end-delay-ms, in time order
};

}  // namespace coprocsim
