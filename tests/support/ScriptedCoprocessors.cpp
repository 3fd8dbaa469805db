#include "tests/support/ScriptedCoprocessors.h"

#include <algorithm>

#include "link/FrameCodec.h"

namespace testsupport {

Bytes McuVersionPayload() {
    Bytes payload(73, 0);
    const std::string version = "MCU-2.4";
    std::copy(version.begin(), version.end(), payload.begin());
    for (std::size_t i = 17; i < 32; ++i)
        payload[i] = static_cast<BYTE>(i);
    return payload;
}

// --- ScriptedCoprocessor ----------------------------------------------------------------------

ScriptedCoprocessor::ScriptedCoprocessor(SimSerialPeer& peer, Responder respond)
    : m_peer(peer), m_respond(std::move(respond)) {
    peer.OnWrite([this](const Bytes& bytes) { Receive(bytes); });
}

std::vector<Bytes> ScriptedCoprocessor::Frames() {
    std::lock_guard guard(m_lock);
    return m_frames;
}

int ScriptedCoprocessor::Count(BYTE command) {
    auto frames = Frames();
    return static_cast<int>(std::count_if(frames.begin(), frames.end(),
                                          [&](const Bytes& f) { return f[3] == command; }));
}

void ScriptedCoprocessor::Receive(const Bytes& bytes) {
    std::vector<Bytes> complete;
    {
        std::lock_guard guard(m_lock);
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
        BYTE scratch[1024];
        TakeFrames(m_buffer, scratch, [&](const BYTE* frame, int length) {
            complete.emplace_back(frame, frame + length);
        });
        m_frames.insert(m_frames.end(), complete.begin(), complete.end());
    }
    for (const Bytes& frame : complete) {
        for (const Bytes& answer : m_respond(frame[3], frame))
            m_peer.InjectAfter(2, answer);
    }
}

// --- McuModel ---------------------------------------------------------------------------------

std::vector<Bytes> McuModel::operator()(BYTE command, const Bytes& frame) {
    if (silent)
        return {};
    switch (command) {
        case 0x00:
            return {Frame(0x80)};
        case 0x17:
            return {Frame(0x97, McuVersionPayload())};
        case 0x14:
            return {Frame(0x94)};
        case 0x15:
            return OnBlock(frame);
        case 0x16:
            return OnEnd();
        case 0x03:
            modes.push_back(frame[6]);
            return {};
        default:
            return {};
    }
}

std::vector<Bytes> McuModel::OnBlock(const Bytes& frame) {
    unsigned block = frame[4] << 8 | frame[5];
    std::copy(frame.begin() + 6, frame.begin() + 134, image.begin() + block * 128);
    if (static_cast<int>(block) == deafAtBlock) {
        deafAtBlock = -1;
        for (std::size_t i = 0; i < deafFlood.size(); ++i)
            peer->InjectAfter(10 * (i + 1), deafFlood[i]);
        Sleep(deafMs);  // the loader's write does not return meanwhile
    }
    return std::vector<Bytes>(ackCopies, BlockAck(0x95, block));
}

std::vector<Bytes> McuModel::OnEnd() {
    if (!answerEnd)
        return {};
    for (int i = 0; i < wrongAcksAfterResult; ++i)
        peer->InjectAfter(1000 * (i + 1), BlockAck(0x95, 0x7FFE + i % 2));
    if (secondResult >= 0)
        peer->InjectAfter(2 + lateResultMs, Frame(0x96, {static_cast<BYTE>(secondResult)}));
    return {Frame(0x96, {result})};
}

// --- MpegModel --------------------------------------------------------------------------------

std::vector<Bytes> MpegModel::operator()(BYTE command, const Bytes& frame) {
    switch (command) {
        case 0x00:
            updating = true;
            return {Frame(0x80, {0x01})};
        case 0x15:
            return {Frame(0x95, Bytes(42, 'v'))};
        case 0x24:
            return answerStart ? std::vector<Bytes>{Frame(0xA4)} : std::vector<Bytes>{};
        case 0x25:
            return OnBlock(frame);
        case 0x26:
            return OnEnd();
        default:
            return {};
    }
}

std::vector<Bytes> MpegModel::OnBlock(const Bytes& frame) {
    unsigned block = frame[4] << 8 | frame[5];
    std::size_t count = frame.size() - 7;
    if (image.size() < block * 240 + count)
        image.resize(block * 240 + count);
    std::copy(frame.begin() + 6, frame.end() - 1, image.begin() + block * 240);
    return std::vector<Bytes>(ackCopies, BlockAck(0xA5, block + 1));
}

std::vector<Bytes> MpegModel::OnEnd() {
    updating = false;  // alive again once its flash is written
    if (lostResults > 0) {
        --lostResults;
        return {};
    }
    std::vector<Bytes> answers;
    for (BYTE result : results)
        answers.push_back(Frame(0xA6, {result}));
    if (endDelayMs == 0)
        return answers;
    for (const Bytes& answer : answers)
        peer->InjectAfter(endDelayMs, answer);
    return {};
}

// --- Both co-processors -----------------------------------------------------------------------

namespace {

DWORD SendAlive(LPVOID parameter) {
    auto* sender = static_cast<ScriptedCoprocessors::AliveSender*>(parameter);
    for (int i = 0; i < 600; ++i) {
        Sleep(100);
        if (sender->model->alive && !sender->model->updating)
            sender->peer->Inject(Frame(0xF2));
    }
    return 0;
}

}  // namespace

ScriptedCoprocessors::ScriptedCoprocessors(SimPlatform& sim, bool mcuConnected)
    : mcuPeer(sim.AttachSerialPeer(mcuConnected ? 2 : 12)),
      mcu(mcuPeer, std::ref(mcuModel)),
      mpegPeer(sim.AttachSerialPeer(3)),
      mpeg(mpegPeer, std::ref(mpegModel)) {
    mcuModel.peer = &mcuPeer;
    mpegModel.peer = &mpegPeer;
    CloseHandle(CreateThread(nullptr, 0, SendAlive, &alive, 0, nullptr));
}

}  // namespace testsupport
