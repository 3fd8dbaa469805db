// Scripted co-processors on the virtual clock: the loader's real links talk to them over
// simulated COM ports. An MCU and an MPEG module that follow the update protocol, with knobs
// for the ways a real one goes wrong.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialog/FirmwareProtocol.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/Frames.h"

namespace testsupport {

using quarrin::platform::SimPlatform;
using quarrin::platform::SimSerialPeer;

// The MCU's version record: "MCU-2.4" and the bytes 17 to 31 in their places.
Bytes McuVersionPayload();

// A co-processor that cuts the loader's bytes into frames and answers each with `respond`,
// 2 ms later.
class ScriptedCoprocessor {
public:
    using Responder = std::function<std::vector<Bytes>(BYTE command, const Bytes& frame)>;

    ScriptedCoprocessor(SimSerialPeer& peer, Responder respond);
    std::vector<Bytes> Frames();
    int Count(BYTE command);

private:
    void Receive(const Bytes& bytes);

    SimSerialPeer& m_peer;
    Responder m_respond;
    std::mutex m_lock;
    Bytes m_buffer;
    std::vector<Bytes> m_frames;
};

// An MCU that follows the update protocol and keeps the blocks it receives.
struct McuModel {
    SimSerialPeer* peer = nullptr;  // for messages of its own
    Bytes image = Bytes(MCU_IMAGE_SIZE, 0);
    BYTE result = 0;
    bool silent = false;
    bool answerEnd = true;
    int ackCopies = 1;             // a line that repeats every block acknowledgement
    int secondResult = -1;         // a second result right after the first; -1: none
    int lateResultMs = 0;          // ... or that much later
    int wrongAcksAfterResult = 0;  // then acknowledgements of other blocks, one a second
    // On the first receipt of this block the MCU stops reading for `deafMs`, while its
    // `deafFlood` messages (one every 10 ms) reach the loader.
    int deafAtBlock = -1;
    DWORD deafMs = 0;
    std::vector<Bytes> deafFlood;
    std::vector<BYTE> modes;

    std::vector<Bytes> operator()(BYTE command, const Bytes& frame);

private:
    std::vector<Bytes> OnBlock(const Bytes& frame);
    std::vector<Bytes> OnEnd();
};

// An MPEG module: alive messages until it is asked, then the block transfer; alive again
// once its flash is written.
struct MpegModel {
    SimSerialPeer* peer = nullptr;
    Bytes image;
    bool answerStart = true;
    bool alive = true;  // false: no alive message ever
    int ackCopies = 1;
    int lostResults = 0;           // programming results lost on the line
    std::vector<BYTE> results{0};  // the results sent, in turn, for each end frame
    DWORD endDelayMs = 0;          // time the module takes to answer an end frame
    std::atomic<bool> updating{false};

    std::vector<Bytes> operator()(BYTE command, const Bytes& frame);

private:
    std::vector<Bytes> OnBlock(const Bytes& frame);
    std::vector<Bytes> OnEnd();
};

// Both co-processors played by scripts, the MPEG module sending alive messages every 100 ms
// while it is not updating. The models' fields may be set until the boot. Without
// `mcuConnected` the MCU's script sits on a port the loader does not use, so COM2 does not
// open.
struct ScriptedCoprocessors {
    explicit ScriptedCoprocessors(SimPlatform& sim, bool mcuConnected = true);
    McuModel mcuModel;
    MpegModel mpegModel;
    SimSerialPeer& mcuPeer;
    ScriptedCoprocessor mcu;
    SimSerialPeer& mpegPeer;
    ScriptedCoprocessor mpeg;
    struct AliveSender {
        SimSerialPeer* peer;
        MpegModel* model;
    } alive{&mpegPeer, &mpegModel};
};

}  // namespace testsupport
