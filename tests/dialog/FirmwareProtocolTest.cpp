// The firmware update protocol, whole, on the virtual clock: the loader's real links talk to
// scripted co-processors on simulated COM ports.
#include <algorithm>
#include <utility>

#include "tests/dialog/FirmwareTestSupport.h"

using namespace firmwaretest;

namespace {

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
    EXPECT_TRUE(Shown("100%"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:32"));
    EXPECT_FALSE(Shown("MCU升级成功！"));  // not even for a moment before the result
    EXPECT_FALSE(Shown("系统即将复位"));
    ASSERT_EQ(sim.Launches().size(), 1u);
}

// The end frame is resent once a second; an MCU that never reports its result (it reset
// itself, or the answer was lost) must not hold the unit on "do not switch off" for ever.
TEST_F(FirmwareProtocolTest, AnMcuThatNeverReportsItsResultIsWaitedForTenResends) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(MCU_IMAGE_SIZE, '\2'));
    McuModel model;
    model.answerEnd = false;
    std::vector<std::uint64_t> endFrames;  // when each end frame arrived
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), [&](BYTE command, const Bytes& frame) {
        if (command == 0x16)
            endFrames.push_back(sim.NowMs());
        return model(command, frame);
    });
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(mcu.Count(0x15), 1024);
    EXPECT_EQ(mcu.Count(0x16), 1 + MCU_END_PROGRAM_RESENDS);
    EXPECT_EQ(LoggedCount(L"MCU program result missing after 11 end frames\r\n"), 1);
    // Running at 100% until the wait ends, then the ending of every good MCU stage.
    ASSERT_GE(FirstShown("100%"), 0);
    EXPECT_LT(FirstShown("100%"), FirstShown("MCU升级成功！"));
    EXPECT_LT(FirstShown("MCU升级成功！"), FirstShown("系统即将复位，请拔出升级卡！(30)"));
    EXPECT_TRUE(Shown("系统即将复位，请拔出升级卡！(0)"));
    ASSERT_EQ(endFrames.size(), 11u);
    EXPECT_EQ(endFrames.back() - endFrames.front(), 10000u);
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
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
}

TEST_F(FirmwareProtocolTest, AnMpegImageTooShortForTheEndFrameIsRefused) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", std::string(33, 'm'));
    Boot(UPDATE_MPEG);
    EXPECT_TRUE(Logged(L"MPEG update file unusable: 33 bytes\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:42"));
}

// Pass-through frames of every length, several in one read and several while the dialog
// sleeps in its version reactions, reach the other co-processor once each, whole, in order.
class PassThroughTest : public FirmwareProtocolTest {
protected:
    // Distinct frames: a running number and a length from 5 bytes up to the longest, 258.
    std::vector<Bytes> Frames(BYTE code, std::size_t count) {
        static const std::size_t kPayloads[] = {3, 253, 0, 120, 252, 1};
        std::vector<Bytes> frames;
        for (std::size_t i = 0; i < count; ++i) {
            Bytes payload(kPayloads[(m_next + i) % std::size(kPayloads)], 0);
            for (std::size_t b = 0; b < payload.size(); ++b)
                payload[b] = static_cast<BYTE>(m_next + i + b * 7);
            frames.push_back(Frame(code, payload));
        }
        m_next += count;
        return frames;
    }
    static Bytes Joined(const std::vector<Bytes>& frames) {
        Bytes bytes;
        for (const Bytes& frame : frames)
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        return bytes;
    }
    static std::vector<Bytes> Received(ScriptedCoprocessor& peer, BYTE code) {
        std::vector<Bytes> frames;
        for (const Bytes& frame : peer.Frames()) {
            if (frame[3] == code)
                frames.push_back(frame);
        }
        return frames;
    }
    static void Append(std::vector<Bytes>& all, const std::vector<Bytes>& more) {
        all.insert(all.end(), more.begin(), more.end());
    }

    std::size_t m_next = 0;
};

TEST_F(PassThroughTest, EveryFrameCrossesOnceWholeAndInOrder) {
    std::string mcuImage = Pattern(MCU_IMAGE_SIZE, 2);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", mcuImage);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 2));
    ScriptedCoprocessors co(sim);
    std::vector<Bytes> toMpeg, toMcu;
    // Two frames in one read, each way, during the MPEG stage.
    std::vector<Bytes> batch = Frames(0x73, 2);
    co.mcuPeer.InjectAfter(1500, Joined(batch));
    Append(toMpeg, batch);
    batch = Frames(0xF3, 2);
    co.mpegPeer.InjectAfter(1600, Joined(batch));
    Append(toMcu, batch);
    // Three each way while the dialog sleeps after a version report (500 ms for the MPEG
    // module's, 1000 ms for the MCU's).
    std::vector<Bytes> duringMpegSleep = Frames(0x73, 3), duringMcuSleep = Frames(0xF3, 3);
    Append(toMpeg, duringMpegSleep);
    Append(toMcu, duringMcuSleep);
    bool mpegSleepFed = false, mcuSleepFed = false;
    ScriptedCoprocessor mpeg(co.mpegPeer, [&](BYTE command, const Bytes& frame) {
        if (command == 0x15 && !std::exchange(mpegSleepFed, true)) {
            for (std::size_t i = 0; i < duringMpegSleep.size(); ++i)
                co.mcuPeer.InjectAfter(100 + 50 * i, duringMpegSleep[i]);
        }
        return co.mpegModel(command, frame);
    });
    ScriptedCoprocessor mcu(co.mcuPeer, [&](BYTE command, const Bytes& frame) {
        if (command == 0x17 && !std::exchange(mcuSleepFed, true)) {
            for (std::size_t i = 0; i < duringMcuSleep.size(); ++i)
                co.mpegPeer.InjectAfter(300 + 100 * i, duringMcuSleep[i]);
        }
        return co.mcuModel(command, frame);
    });
    Boot(UPDATE_MPEG | UPDATE_MCU, 120000);
    EXPECT_TRUE(Shown("MPEG升级成功！"));
    EXPECT_TRUE(Shown("MCU升级成功！"));
    EXPECT_EQ(Received(mpeg, 0x73), toMpeg);
    EXPECT_EQ(Received(mcu, 0xF3), toMcu);
}

}  // namespace
