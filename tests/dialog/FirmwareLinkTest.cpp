// Co-processors the loader cannot reach, or that go away: a port that does not open, a line
// that hangs up, a co-processor that never sends a frame. Each such stage ends with its code,
// the dialog closes and the main application starts, while a co-processor that answers is
// never cut short. Besides: images of no usable size, and block requests the module cannot
// mean, are refused before they do harm.
#include <algorithm>

#include "tests/dialog/FirmwareTestSupport.h"

using namespace firmwaretest;

namespace {

class FirmwareLinkTest : public FirmwareProtocolTest {
protected:
    // Boots and returns the virtual time the loader took.
    std::uint64_t TimedBoot(DWORD request, DWORD closeAfterMs = 0) {
        std::uint64_t start = sim.NowMs();
        Boot(request, closeAfterMs);
        return sim.NowMs() - start;
    }
};

unsigned BlockOf(const Bytes& frame) {
    return frame[4] << 8 | frame[5];
}

// --- Image sizes --------------------------------------------------------------------------------

class McuImageSizeTest : public FirmwareProtocolTest,
                         public ::testing::WithParamInterface<std::size_t> {};

TEST_P(McuImageSizeTest, NoMcuImageIsSentAndTheStageFailsWith33) {
    std::size_t size = GetParam();
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(size, '\x42'));
    SimSerialPeer& line = sim.AttachSerialPeer(2);
    Boot(UPDATE_MCU);  // closes by itself
    EXPECT_TRUE(Logged(L"MCU update file unusable: " + std::to_wstring(size) + L" bytes\r\n"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:33"));
    EXPECT_EQ(line.OpenCount(), 0);                               // not a byte goes to the MCU
    EXPECT_EQ(Logged(L"Read MCU update file: 128k\r\n"), false);  // a longer file is not read
    EXPECT_EQ(sim.Launches().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(FirmwareLinkTest, McuImageSizeTest,
                         ::testing::Values(1, 16, MCU_IMAGE_MIN_BYTES - 1, MCU_IMAGE_SIZE + 1,
                                           300000));

TEST_F(FirmwareLinkTest, TheSmallestMcuImageIsTakenAndPadded) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(MCU_IMAGE_MIN_BYTES, '\x42'));
    McuModel model;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), std::ref(model));
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(std::count(model.image.begin(), model.image.end(), 0x42), MCU_IMAGE_MIN_BYTES);
    EXPECT_TRUE(Shown("MCU升级成功！"));
}

// Request 0x0C with only the MCU's image: the MPEG stage has none to send.
TEST_F(FirmwareLinkTest, AnMpegStageWithoutItsImageFailsWith43) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 3));
    ScriptedCoprocessors co(sim);
    Boot(UPDATE_MPEG | UPDATE_MCU, 120000);
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:43"));
    EXPECT_EQ(co.mpeg.Frames().size(), 0u);
    EXPECT_TRUE(Shown("MCU升级成功！"));
}

// --- Ports that do not open ------------------------------------------------------------------

TEST_F(FirmwareLinkTest, AnMcuStageWhosePortDoesNotOpenFailsWith34) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 4));
    std::uint64_t took = TimedBoot(UPDATE_MCU);  // no line on COM2
    EXPECT_TRUE(Logged(L"Open Com2 Failed!\r\n"));
    EXPECT_TRUE(Logged(L"MCU update failed: COM2 not open\r\n"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:34"));
    EXPECT_FALSE(Shown("系统即将复位"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    EXPECT_LT(took, 10000u);
}

TEST_F(FirmwareLinkTest, AnMpegStageWhosePortDoesNotOpenFailsWith44) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 4));
    std::uint64_t took = TimedBoot(UPDATE_MPEG);  // neither COM2 nor COM3
    EXPECT_TRUE(Logged(L"Open Com3 Failed!\r\n"));
    EXPECT_TRUE(Logged(L"MPEG update failed: COM3 not open\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:44"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    EXPECT_LT(took, 10000u);
}

// The MPEG module does not depend on the MCU's answers: its update goes on without COM2, and
// the MCU stage that follows fails on the port.
TEST_F(FirmwareLinkTest, WithoutTheMcuPortTheMpegModuleIsStillUpdated) {
    std::string file = Pattern(960, 5);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 5));
    ScriptedCoprocessors co(sim, false);
    Boot(UPDATE_MPEG | UPDATE_MCU);
    EXPECT_EQ(std::string(co.mpegModel.image.begin(), co.mpegModel.image.end()), file);
    EXPECT_TRUE(Shown("MPEG升级成功！"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:34"));
    EXPECT_EQ(sim.Launches().size(), 1u);
}

// --- Lines that hang up -----------------------------------------------------------------------

TEST_F(FirmwareLinkTest, AnMcuLineThatHangsUpMidTransferFailsWith34) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 6));
    McuModel model;
    SimSerialPeer& line = sim.AttachSerialPeer(2);
    ScriptedCoprocessor mcu(line, [&](BYTE command, const Bytes& frame) {
        if (command == 0x15 && BlockOf(frame) == 300) {
            line.HangUp();
            return std::vector<Bytes>{};
        }
        return model(command, frame);
    });
    std::uint64_t took = TimedBoot(UPDATE_MCU, 120000);
    EXPECT_TRUE(Logged(L"Com2 hung up\r\n"));
    EXPECT_TRUE(Logged(L"MCU update failed: COM2 hung up\r\n"));
    EXPECT_TRUE(Shown("29%"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:34"));
    EXPECT_FALSE(Shown("MCU升级成功！"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    EXPECT_LT(took, 60000u);
}

// Once every block is in, the end frame's own bound decides: an MCU that resets itself after
// taking its image may drop its line, and the stage ends as it always has without a result.
TEST_F(FirmwareLinkTest, AHangUpAfterTheWholeImageIsLeftToTheEndFrame) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 7));
    McuModel model;
    SimSerialPeer& line = sim.AttachSerialPeer(2);
    ScriptedCoprocessor mcu(line, [&](BYTE command, const Bytes& frame) {
        if (command == 0x16) {
            line.HangUp();
            return std::vector<Bytes>{};
        }
        return model(command, frame);
    });
    Boot(UPDATE_MCU, 120000);
    EXPECT_TRUE(Logged(L"MCU program result missing after 11 end frames\r\n"));
    EXPECT_TRUE(Shown("MCU升级成功！"));
    EXPECT_FALSE(Shown("错误码"));
}

// The module hangs up while it writes its flash: no timer runs in that step, so before the
// watch nothing could end it.
TEST_F(FirmwareLinkTest, AnMpegLineThatHangsUpWhileTheFlashIsWrittenFailsWith44) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 8));
    ScriptedCoprocessors co(sim);
    ScriptedCoprocessor mpeg(co.mpegPeer, [&](BYTE command, const Bytes& frame) {
        if (command == 0x26) {
            co.mpegModel.alive = false;
            co.mpegPeer.HangUp(200);
        }
        return co.mpegModel(command, frame);
    });
    Boot(UPDATE_MPEG, 120000);
    EXPECT_TRUE(Shown("正在将数据写入Flash..."));
    EXPECT_TRUE(Logged(L"MPEG update failed: COM3 hung up\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:44"));
    EXPECT_FALSE(Shown("MPEG升级成功！"));
    // The MCU hears that the MPEG update is over, failed or not.
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
}

// --- Co-processors that never send a frame ---------------------------------------------------

TEST_F(FirmwareLinkTest, AnMcuThatNeverSendsAFrameFailsWith35AfterTwoMinutes) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 9));
    std::vector<std::uint64_t> requests;  // when each update request arrived
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), [&](BYTE command, const Bytes&) {
        if (command == 0x00)
            requests.push_back(sim.NowMs());
        return std::vector<Bytes>{};
    });
    std::uint64_t took = TimedBoot(UPDATE_MCU, 600000);
    EXPECT_TRUE(Logged(L"MCU update failed: no frame from it in 120 s\r\n"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:35"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    // The requests went every 3 s, as always, for the two minutes.
    ASSERT_GE(requests.size(), 40u);
    EXPECT_LE(requests.size(), 41u);
    EXPECT_EQ(requests[1] - requests[0], 3000u);
    // Then the failure shows for two seconds, and the silent line's receive thread takes up to
    // five more to stop.
    EXPECT_GE(took, FIRMWARE_SILENCE_LIMIT_MS);
    EXPECT_LT(took, FIRMWARE_SILENCE_LIMIT_MS + 10000);
}

TEST_F(FirmwareLinkTest, AnMpegModuleThatNeverSendsAFrameFailsWith45) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 10));
    ScriptedCoprocessors co(sim);
    co.mpegModel.alive = false;
    std::uint64_t took = TimedBoot(UPDATE_MPEG, 600000);
    EXPECT_TRUE(Logged(L"MPEG update failed: no frame from it in 120 s\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:45"));
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
    EXPECT_LT(took, FIRMWARE_SILENCE_LIMIT_MS + 15000);  // both links' threads stop after it
}

// A co-processor that falls silent in the middle of its stage is given up two minutes after
// its last frame, whatever it sent before: the stage never waits for good.
TEST_F(FirmwareLinkTest, AnMcuThatFallsSilentMidStageFailsWith35TwoMinutesAfterItsLastFrame) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 11));
    McuModel model;
    std::uint64_t lastAnswer = 0;
    ScriptedCoprocessor mcu(sim.AttachSerialPeer(2), [&](BYTE command, const Bytes& frame) {
        if (command != 0x00)
            return std::vector<Bytes>{};
        lastAnswer = sim.NowMs();
        return model(command, frame);
    });
    std::uint64_t start = sim.NowMs();
    Boot(UPDATE_MCU, 600000);
    EXPECT_TRUE(Logged(L"MCU update failed: no frame from it in 120 s\r\n"));
    EXPECT_TRUE(Shown("MCU升级失败！错误码:35"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    EXPECT_GE(mcu.Count(0x17), 100);  // enter-loader, once a second, until then
    EXPECT_LT(lastAnswer - start, 5000u);
    EXPECT_LT(sim.NowMs() - lastAnswer, FIRMWARE_SILENCE_LIMIT_MS + 15000);
}

// Between its good result and its next alive message the module writes its flash and sends
// nothing: that silence is waited for far longer, but not for good.
TEST_F(FirmwareLinkTest, AnMpegModuleThatNeverComesBackFromWritingItsFlashFailsWith45) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(2400, 13));
    ScriptedCoprocessors co(sim);
    std::uint64_t result = 0;
    ScriptedCoprocessor mpeg(co.mpegPeer, [&](BYTE command, const Bytes& frame) {
        std::vector<Bytes> answers = co.mpegModel(command, frame);
        if (command == 0x26) {
            co.mpegModel.alive = false;  // never alive again
            result = sim.NowMs();
        }
        return answers;
    });
    Boot(UPDATE_MPEG, 1200000);
    EXPECT_TRUE(Shown("正在将数据写入Flash..."));
    EXPECT_TRUE(Logged(L"MPEG update failed: no frame from it in 600 s\r\n"));
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:45"));
    EXPECT_FALSE(Shown("MPEG升级成功！"));
    EXPECT_GE(sim.NowMs() - result, FIRMWARE_FLASH_WRITE_LIMIT_MS);
    EXPECT_EQ(sim.Launches().size(), 1u);
}

// --- Block requests the module cannot mean -----------------------------------------------------

TEST_F(FirmwareLinkTest, AnMpegRequestBeyondTheNextUnsentBlockIsRefused) {
    std::string file = Pattern(2400, 12);  // 10 blocks
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    ScriptedCoprocessors co(sim);
    bool skipped = false;
    ScriptedCoprocessor mpeg(co.mpegPeer, [&](BYTE command, const Bytes& frame) {
        std::vector<Bytes> answers = co.mpegModel(command, frame);
        if (command == 0x25 && BlockOf(frame) == 0 && !std::exchange(skipped, true))
            return std::vector<Bytes>{BlockAck(0xA5, 10)};  // as if it had every block
        return answers;
    });
    Boot(UPDATE_MPEG, 120000);
    EXPECT_TRUE(Logged(L"MPEG request for block 10 ignored: block 1 not sent yet\r\n"));
    EXPECT_EQ(std::string(co.mpegModel.image.begin(), co.mpegModel.image.end()), file);
    EXPECT_EQ(mpeg.Count(0x25), 11);  // block 0 once more, by its resend
    EXPECT_EQ(mpeg.Count(0x26), 1);
    EXPECT_TRUE(Shown("MPEG升级成功！"));
}

}  // namespace
