// The firmware update protocol, whole, on the virtual clock: the loader's real links talk to
// scripted co-processors on simulated COM ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "app/QuarrinApp.h"
#include "dialog/FirmwareProtocol.h"
#include "link/FrameCodec.h"
#include "plan/SourceRoots.h"
#include "platform/kernel/Kernel.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;
using quarrin::platform::SimSerialPeer;
using Bytes = std::vector<BYTE>;

namespace {

Bytes Frame(BYTE command, const Bytes& payload = {}) {
    Bytes frame(payload.size() + 5);
    int length =
        BuildFrame(command, payload.data(), static_cast<int>(payload.size()), frame.data());
    frame.resize(static_cast<std::size_t>(length));
    return frame;
}

// A co-processor that cuts the loader's bytes into frames and answers each with `respond`.
class ScriptedCoprocessor {
public:
    using Responder = std::function<std::vector<Bytes>(BYTE command, const Bytes& frame)>;

    ScriptedCoprocessor(SimSerialPeer& peer, Responder respond) : m_peer(peer), m_respond(respond) {
        peer.OnWrite([this](const Bytes& bytes) { Receive(bytes); });
    }
    std::vector<Bytes> Frames() {
        std::lock_guard guard(m_lock);
        return m_frames;
    }
    int Count(BYTE command) {
        auto frames = Frames();
        return static_cast<int>(std::count_if(frames.begin(), frames.end(),
                                              [&](const Bytes& f) { return f[3] == command; }));
    }

private:
    void Receive(const Bytes& bytes) {
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

    SimSerialPeer& m_peer;
    Responder m_respond;
    std::mutex m_lock;
    Bytes m_buffer;
    std::vector<Bytes> m_frames;
};

Bytes McuVersionPayload() {
    Bytes payload(73, 0);
    const std::string version = "MCU-2.4";
    std::copy(version.begin(), version.end(), payload.begin());
    for (std::size_t i = 17; i < 32; ++i)
        payload[i] = static_cast<BYTE>(i);
    return payload;
}

// An MCU that follows the update protocol and keeps the blocks it receives.
struct McuModel {
    Bytes image = Bytes(MCU_IMAGE_SIZE, 0);
    BYTE result = 0;
    bool silent = false;
    bool answerEnd = true;
    int ackCopies = 1;  // a line that repeats every block acknowledgement
    std::vector<BYTE> modes;

    std::vector<Bytes> operator()(BYTE command, const Bytes& frame) {
        if (silent)
            return {};
        switch (command) {
            case 0x00:
                return {Frame(0x80)};
            case 0x17:
                return {Frame(0x97, McuVersionPayload())};
            case 0x14:
                return {Frame(0x94)};
            case 0x15: {
                unsigned block = frame[4] << 8 | frame[5];
                std::copy(frame.begin() + 6, frame.begin() + 134, image.begin() + block * 128);
                return std::vector<Bytes>(ackCopies, Frame(0x95, {frame[4], frame[5]}));
            }
            case 0x16:
                return answerEnd ? std::vector<Bytes>{Frame(0x96, {result})} : std::vector<Bytes>{};
            case 0x03:
                modes.push_back(frame[6]);
                return {};
            default:
                return {};
        }
    }
};

// An MPEG module: alive messages until it is asked, then the block transfer; alive again
// once its flash is written.
struct MpegModel {
    Bytes image;
    bool answerStart = true;
    int ackCopies = 1;
    int lostResults = 0;  // programming results lost on the line
    std::atomic<bool> updating{false};
    std::vector<Bytes> operator()(BYTE command, const Bytes& frame) {
        switch (command) {
            case 0x00:
                updating = true;
                return {Frame(0x80, {0x01})};
            case 0x15:
                return {Frame(0x95, Bytes(42, 'v'))};
            case 0x24:
                return answerStart ? std::vector<Bytes>{Frame(0xA4)} : std::vector<Bytes>{};
            case 0x25: {
                unsigned block = frame[4] << 8 | frame[5];
                std::size_t count = frame.size() - 7;
                if (image.size() < block * 240 + count)
                    image.resize(block * 240 + count);
                std::copy(frame.begin() + 6, frame.end() - 1, image.begin() + block * 240);
                unsigned next = block + 1;
                return std::vector<Bytes>(ackCopies, Frame(0xA5, {static_cast<BYTE>(next >> 8),
                                                                  static_cast<BYTE>(next)}));
            }
            case 0x26:
                updating = false;  // alive again once its flash is written
                if (lostResults > 0) {
                    --lostResults;
                    return {};
                }
                return {Frame(0xA6, {0x00})};
            default:
                return {};
        }
    }
};

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

DWORD CloseAfter(LPVOID milliseconds) {
    Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(milliseconds)));
    PostMessageW(g_notifyWindow, WM_CLOSE, 0, 0);
    return 0;
}

struct AliveSender {
    SimSerialPeer* peer;
    MpegModel* model;
};

DWORD SendAlive(LPVOID parameter) {
    auto* sender = static_cast<AliveSender*>(parameter);
    for (int i = 0; i < 600; ++i) {
        Sleep(100);
        if (!sender->model->updating)
            sender->peer->Inject(Frame(0xF2));
    }
    return 0;
}

// Both co-processors played by scripts, the MPEG module sending alive messages while it is
// not updating. The models' fields may be set until the boot.
struct ScriptedCoprocessors {
    explicit ScriptedCoprocessors(SimPlatform& sim)
        : mcuPeer(sim.AttachSerialPeer(2)),
          mcu(mcuPeer, std::ref(mcuModel)),
          mpegPeer(sim.AttachSerialPeer(3)),
          mpeg(mpegPeer, std::ref(mpegModel)) {
        CloseHandle(CreateThread(nullptr, 0, SendAlive, &alive, 0, nullptr));
    }
    McuModel mcuModel;
    MpegModel mpegModel;
    SimSerialPeer& mcuPeer;
    ScriptedCoprocessor mcu;
    SimSerialPeer& mpegPeer;
    ScriptedCoprocessor mpeg;
    AliveSender alive{&mpegPeer, &mpegModel};
};

class FirmwareProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDialogProcessState();
        g_mcuSourceRoot = g_mpegSourceRoot = L"Storage Card\\";
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "app");
    }
    void Boot(DWORD request, DWORD closeAfterMs = 0) {
        if (closeAfterMs != 0) {
            CloseHandle(CreateThread(
                nullptr, 0, CloseAfter,
                reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(closeAfterMs)), 0, nullptr));
        }
        sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat",
                    std::string{static_cast<char>(request), 0, 0, 0});
        CQuarrinApp app;
        app.InitInstance();
        // The test's co-processor threads use the test's models: end them before those go.
        quarrin::kernel::TerminateAllThreads();
    }
    bool Shown(const std::string& start) {
        for (const std::string& line : sim.ScreenTrace()) {
            if (line.rfind("TEXT ", 0) == 0 && line.find(start) != std::string::npos)
                return true;
        }
        return false;
    }
    bool Logged(const std::wstring& line) {
        auto lines = sim.DebugLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    SimPlatform sim;
};

TEST_F(FirmwareProtocolTest, AnMcuUpdateSendsTheWholeImageAndEndsOnTheResetCountdown) {
    std::string file = Pattern(MCU_IMAGE_SIZE, 7);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", file);
    McuModel model;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(std::string(model.image.begin(), model.image.end()), file);
    EXPECT_EQ(mcu.Count(0x15), 1024);
    EXPECT_EQ(mcu.Count(0x16), 1);
    Bytes record = McuVersionPayload();
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash2\\RawData"),
              std::string(record.begin(), record.begin() + 32));
    EXPECT_TRUE(Shown("MCU升级成功！"));
    EXPECT_TRUE(Shown("系统即将复位，请拔出升级卡！(0)"));
    EXPECT_TRUE(Logged(L"MCU Version:MCU-2.4\r\n"));
    EXPECT_TRUE(Logged(L"Read MCU update file: 128k\r\n"));
    EXPECT_TRUE(Logged(L"MCU Thread Closed!\r\n"));
}

TEST_F(FirmwareProtocolTest, AShortMcuImageIsPaddedWithErasedFlash) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(65536, '\x5A'));
    McuModel model;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 120000);
    EXPECT_TRUE(Logged(L"Read MCU update file: 64k\r\n"));
    EXPECT_EQ(std::count(model.image.begin(), model.image.begin() + 65536, 0x5A), 65536);
    EXPECT_EQ(std::count(model.image.begin() + 65536, model.image.end(), 0xFF), 65536);
    // The end frame carries the sum of exactly these bytes.
    Bytes end = mcu.Frames().back();
    unsigned sum = (65536u * 0x5A + 65536u * 0xFF) & 0xFFFF;
    EXPECT_EQ(end[3], 0x16);
    EXPECT_EQ(end[4] << 8 | end[5], static_cast<int>(sum));
}

TEST_F(FirmwareProtocolTest, AFailedProgrammingClosesTheDialogWithCode32) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(MCU_IMAGE_SIZE, '\1'));
    McuModel model;
    model.result = 3;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU);  // closes by itself
    EXPECT_TRUE(Shown("MCU升级失败！错误码:32"));
    EXPECT_FALSE(Shown("系统即将复位"));
    ASSERT_EQ(sim.Launches().size(), 1u);
}

TEST_F(FirmwareProtocolTest, SuccessWaitsForTheMcusProgrammingResult) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(MCU_IMAGE_SIZE, '\2'));
    McuModel model;
    model.answerEnd = false;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 60000);
    // Every block went, the end frame is resent every second, and nothing claims success.
    EXPECT_EQ(mcu.Count(0x15), 1024);
    EXPECT_GE(mcu.Count(0x16), 20);
    EXPECT_TRUE(Shown("100%"));
    EXPECT_FALSE(Shown("MCU升级成功！"));
    EXPECT_FALSE(Shown("系统即将复位"));
}

// A repeated acknowledgement must not make the next block go twice: each copy would be
// acknowledged in turn, and every later block would travel twice, or more.
TEST_F(FirmwareProtocolTest, RepeatedMcuAcknowledgementsSendEachBlockOnce) {
    std::string file = Pattern(MCU_IMAGE_SIZE, 4);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", file);
    McuModel model;
    model.ackCopies = 2;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(std::string(model.image.begin(), model.image.end()), file);
    EXPECT_EQ(mcu.Count(0x15), 1024);
    EXPECT_TRUE(Shown("MCU升级成功！"));
}

TEST_F(FirmwareProtocolTest, ASilentMcuIsAskedAgainEveryThreeSeconds) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(MCU_IMAGE_SIZE, '\1'));
    McuModel model;
    model.silent = true;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 10000);
    EXPECT_EQ(mcu.Count(0x00), 4);  // at 0, 3, 6 and 9 s
    EXPECT_TRUE(Logged(L"MCU Rec UnInit TIMEOUT\r\n"));
}

TEST_F(FirmwareProtocolTest, AnMcuStageWithoutItsImageFailsWith31) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", "x");
    // Discovery opens the image twice (probe, version); the third open, the loading, fails.
    sim.FailOperation(quarrin::platform::FileOp::Open, L"SDHC\\ZEL_Update\\MCU",
                      ERROR_ACCESS_DENIED, 1, 2);
    Boot(UPDATE_MCU);
    EXPECT_TRUE(Shown("MCU升级失败！错误码:31"));
}

TEST_F(FirmwareProtocolTest, AnMpegUpdateWaitsForFiftyAliveMessagesThenTransfersTheImage) {
    std::string file = Pattern(1000, 3);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    ScriptedCoprocessors co(sim);
    Boot(UPDATE_MPEG);
    EXPECT_EQ(std::string(co.mpegModel.image.begin(), co.mpegModel.image.end()), file);
    EXPECT_EQ(co.mpeg.Count(0x25), 5);  // 1000 bytes: four blocks of 240 and one of 40
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
    EXPECT_TRUE(Shown("正在将数据写入Flash..."));
    EXPECT_TRUE(Shown("MPEG升级成功！"));
    EXPECT_TRUE(Logged(L"MPEG Thread Closed!\r\n"));
    auto end = co.mpeg.Frames();
    auto endFrame =
        std::find_if(end.begin(), end.end(), [](const Bytes& f) { return f[3] == 0x26; });
    ASSERT_NE(endFrame, end.end());
    EXPECT_EQ((*endFrame)[4], static_cast<BYTE>(file[32]));
    EXPECT_EQ((*endFrame)[5], static_cast<BYTE>(file[33]));
}

TEST_F(FirmwareProtocolTest, RepeatedMpegAcknowledgementsSendEachBlockOnce) {
    std::string file = Pattern(2400, 8);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    ScriptedCoprocessors co(sim);
    co.mpegModel.ackCopies = 3;
    Boot(UPDATE_MPEG);
    EXPECT_EQ(std::string(co.mpegModel.image.begin(), co.mpegModel.image.end()), file);
    EXPECT_EQ(co.mpeg.Count(0x25), 10);
    EXPECT_EQ(co.mpeg.Count(0x26), 1);
    EXPECT_TRUE(Shown("MPEG升级成功！"));
}

// The module is alive again before the loader has its result: the end frame must still be
// resent until the result comes, not replaced by a new update request.
TEST_F(FirmwareProtocolTest, ALostMpegResultIsAskedForAgain) {
    std::string file = Pattern(960, 6);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    ScriptedCoprocessors co(sim);
    co.mpegModel.lostResults = 1;
    Boot(UPDATE_MPEG, 60000);
    EXPECT_EQ(co.mpeg.Count(0x26), 2);
    EXPECT_EQ(co.mpeg.Count(0x00), 1);  // one update request: the later alive messages ask nothing
    EXPECT_TRUE(Shown("MPEG升级成功！"));
}

TEST_F(FirmwareProtocolTest, AnUnansweredStartFailsWith41AfterTenResends) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 1));
    ScriptedCoprocessors co(sim);
    co.mpegModel.answerStart = false;
    Boot(UPDATE_MPEG);
    EXPECT_EQ(co.mpeg.Count(0x24), 11);  // the first sending and ten resends
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:41"));
}

TEST_F(FirmwareProtocolTest, AnMpegImageTooShortForTheEndFrameIsRefused) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", std::string(33, 'm'));
    Boot(UPDATE_MPEG);
    EXPECT_TRUE(Logged(L"MPEG update file unusable: 33 bytes\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:42"));
}

TEST_F(FirmwareProtocolTest, PassThroughFramesCrossFromOneLinkToTheOther) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 2));
    ScriptedCoprocessors co(sim);
    Bytes toMpeg = Frame(0x73, {1, 2, 3, 0x5A, 0xA5});
    Bytes toMcu = Frame(0xF3, {9, 8, 7});
    co.mcuPeer.InjectAfter(1500, toMpeg);
    co.mpegPeer.InjectAfter(1600, toMcu);
    Boot(UPDATE_MPEG);
    auto sentToMcu = co.mcu.Frames();
    auto sentToMpeg = co.mpeg.Frames();
    EXPECT_NE(std::find(sentToMcu.begin(), sentToMcu.end(), toMcu), sentToMcu.end());
    EXPECT_NE(std::find(sentToMpeg.begin(), sentToMpeg.end(), toMpeg), sentToMpeg.end());
}

}  // namespace
