// Messages that come at the wrong moment: late answers, stray results, repeats and floods.
// Each message acts only in the step of its own stage that it answers; a stage's result is
// changed only by what that result's rule allows.
#include <algorithm>

#include "tests/dialog/FirmwareTestSupport.h"

using namespace firmwaretest;

namespace {

class FirmwareStepTest : public FirmwareProtocolTest {};

// The MPEG module answers each end frame 4 s late, after the loader's 3 s resend, so a second
// good result and the alive message after it arrive while the MCU stage runs.
TEST_F(FirmwareStepTest, ALateMpegResultCannotEndTheMcuStage) {
    std::string mcuImage = Pattern(MCU_IMAGE_SIZE, 11);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", mcuImage);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(960, 12));
    ScriptedCoprocessors co(sim);
    co.mpegModel.endDelayMs = 4000;
    Boot(UPDATE_MPEG | UPDATE_MCU, 120000);
    EXPECT_EQ(co.mpeg.Count(0x26), 2);
    int mcuRunning = FirstShown("正在升级MCU");
    ASSERT_GE(mcuRunning, 0);
    EXPECT_LT(LastShown("正在将数据写入Flash"), mcuRunning);
    EXPECT_LT(LastShown("MPEG升级成功！"), mcuRunning);
    EXPECT_EQ(std::string(co.mcuModel.image.begin(), co.mcuModel.image.end()), mcuImage);
    EXPECT_EQ(co.mcu.Count(0x15), 1024);
    EXPECT_TRUE(Shown("MCU升级成功！"));
    // The update mode goes to the MCU twice, around the MPEG update, never into its session.
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
    EXPECT_TRUE(Logged(L"MPEG message a6 ignored in step done\r\n"));
}

TEST_F(FirmwareStepTest, AStrayMcuResultCannotEndTheMpegStage) {
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(480, 3));
    ScriptedCoprocessors co(sim);
    co.mpegModel.alive = false;  // the module stays silent
    co.mcuPeer.InjectAfter(5000, Frame(0x96, {0x00}));
    Boot(UPDATE_MPEG, 20000);
    EXPECT_FALSE(Shown("MPEG升级成功！"));
    EXPECT_EQ(co.mpeg.Count(0x25), 0);
    EXPECT_TRUE(Logged(L"MCU message 96 ignored in step accepted\r\n"));
}

TEST_F(FirmwareStepTest, AnMpegFailureIsFinal) {
    std::string file = Pattern(480, 4);
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", file);
    ScriptedCoprocessors co(sim);
    co.mpegModel.results = {0, 1};  // then alive again
    Boot(UPDATE_MPEG);              // closes by itself
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:40"));
    EXPECT_FALSE(Shown("MPEG升级成功！"));
    EXPECT_EQ(sim.Launches().size(), 1u);
    // The MCU is told that the MPEG update is over after a failure as after a success.
    EXPECT_EQ(co.mcuModel.modes, (std::vector<BYTE>{8, 0}));
}

TEST_F(FirmwareStepTest, AResultBeforeTheWholeImageIsNoSuccess) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 5));
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", Pattern(2400, 5));
    ScriptedCoprocessors co(sim);
    // A good result right after the first block, from each co-processor: not an answer to
    // an end frame, so each stage goes on and ends on its real result.
    bool mcuSent = false, mpegSent = false;
    ScriptedCoprocessor mcu(co.mcuPeer, [&](BYTE command, const Bytes& frame) {
        auto answers = co.mcuModel(command, frame);
        if (command == 0x15 && !std::exchange(mcuSent, true))
            answers.push_back(Frame(0x96, {0x00}));
        return answers;
    });
    ScriptedCoprocessor mpeg(co.mpegPeer, [&](BYTE command, const Bytes& frame) {
        auto answers = co.mpegModel(command, frame);
        if (command == 0x25 && !std::exchange(mpegSent, true))
            answers.push_back(Frame(0xA6, {0x00}));
        return answers;
    });
    Boot(UPDATE_MPEG | UPDATE_MCU, 120000);
    EXPECT_EQ(mpeg.Count(0x25), 10);
    EXPECT_EQ(mcu.Count(0x15), 1024);
    EXPECT_LT(FirstShown("正在将数据写入Flash"), FirstShown("MPEG升级成功！"));
    EXPECT_TRUE(Shown("MCU升级成功！"));
    EXPECT_TRUE(Logged(L"MCU message 96 ignored in step blocks\r\n"));
    EXPECT_TRUE(Logged(L"MPEG message a6 ignored in step blocks\r\n"));
}

// The MCU reports a failure, then acknowledges other blocks once a second: nothing after the
// result may keep the failure on the screen.
TEST_F(FirmwareStepTest, AFailedMcuStageClosesWhileAcknowledgementsKeepComing) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 6));
    ScriptedCoprocessors co(sim);
    co.mcuModel.result = 1;
    co.mcuModel.wrongAcksAfterResult = 100;
    std::uint64_t start = sim.NowMs();
    Boot(UPDATE_MCU, 200000);
    EXPECT_LT(sim.NowMs() - start, 30000u);  // closed by its result, not by the test
    EXPECT_TRUE(Shown("MCU升级失败！错误码:32"));
    EXPECT_EQ(co.mcu.Count(0x16), 1);  // no end frame after the result
    EXPECT_EQ(sim.Launches().size(), 1u);
}

// The MCU reports success, then failure: while the success is still on the screen, its
// failure is believed and nothing announces a reset; once the countdown runs, it is too late.
TEST_F(FirmwareStepTest, AnMcuFailureRightAfterItsSuccessIsBelieved) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 10));
    ScriptedCoprocessors co(sim);
    co.mcuModel.secondResult = 5;
    Boot(UPDATE_MCU, 120000);
    EXPECT_TRUE(Shown("MCU升级失败！错误码:32"));
    EXPECT_FALSE(Shown("MCU升级成功！"));  // its paint comes a second after the result
    EXPECT_FALSE(Shown("系统即将复位"));
    EXPECT_EQ(sim.Launches().size(), 1u);
}

TEST_F(FirmwareStepTest, AnMcuFailureIsFinal) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 12));
    ScriptedCoprocessors co(sim);
    co.mcuModel.result = 5;
    co.mcuModel.secondResult = 0;
    Boot(UPDATE_MCU, 120000);
    EXPECT_TRUE(Shown("MCU升级失败！错误码:32"));
    EXPECT_FALSE(Shown("MCU升级成功！"));
    EXPECT_FALSE(Shown("系统即将复位"));
}

TEST_F(FirmwareStepTest, AnMcuFailureDuringTheCountdownChangesNothing) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 11));
    ScriptedCoprocessors co(sim);
    co.mcuModel.secondResult = 5;
    co.mcuModel.lateResultMs = 10000;
    Boot(UPDATE_MCU, 60000);
    EXPECT_TRUE(Shown("系统即将复位，请拔出升级卡！(0)"));
    EXPECT_FALSE(Shown("MCU升级失败"));
    EXPECT_TRUE(Logged(L"MCU message 96 ignored in step succeeded\r\n"));
}

TEST_F(FirmwareStepTest, AStrayUpdateAcknowledgementRestartsNothing) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 7));
    ScriptedCoprocessors co(sim);
    bool midway = false;
    ScriptedCoprocessor mcu(co.mcuPeer, [&](BYTE command, const Bytes& frame) {
        auto answers = co.mcuModel(command, frame);
        if (command == 0x15 && frame[4] == 2 && !std::exchange(midway, true))
            answers.push_back(Frame(0x80));  // in the middle of the transfer
        if (command == 0x16)
            co.mcuPeer.InjectAfter(5000, Frame(0x80));  // during the reset countdown
        return answers;
    });
    Boot(UPDATE_MCU, 60000);
    EXPECT_TRUE(Shown("系统即将复位，请拔出升级卡！(0)"));
    EXPECT_EQ(mcu.Count(0x17), 1);  // enter loader, once
    EXPECT_EQ(mcu.Count(0x01), 1);  // accept, once
    EXPECT_EQ(mcu.Count(0x15), 1024);
}

// An MCU that stops reading while it floods the loader with acknowledgements of other blocks
// and with status messages gets, when it reads again, the current block and one status
// acknowledgement: a frame waiting to be written is not queued again.
TEST_F(FirmwareStepTest, AFloodTowardADeafMcuQueuesEachFrameOnce) {
    std::string file = Pattern(MCU_IMAGE_SIZE, 8);
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", file);
    ScriptedCoprocessors co(sim);
    co.mcuModel.deafAtBlock = 3;
    co.mcuModel.deafMs = 20000;
    for (int i = 0; i < 1500; ++i) {
        co.mcuModel.deafFlood.push_back(i % 3 == 2 ? Frame(0x81, {0x01})
                                                   : BlockAck(0x95, 0x7FFE + i % 3));
    }
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(std::string(co.mcuModel.image.begin(), co.mcuModel.image.end()), file);
    EXPECT_LE(co.mcu.Count(0x15), 1024 + 2);
    EXPECT_LE(co.mcu.Count(0x02), 2);
    EXPECT_TRUE(Shown("MCU升级成功！"));
}

TEST_F(FirmwareStepTest, AFloodOfUpdateAcknowledgementsIsDroppedOutsideTheHandshake) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", Pattern(MCU_IMAGE_SIZE, 9));
    ScriptedCoprocessors co(sim);
    co.mcuModel.deafAtBlock = 100;
    co.mcuModel.deafMs = 10000;
    co.mcuModel.deafFlood.assign(900, Frame(0x80));
    Boot(UPDATE_MCU, 120000);
    EXPECT_EQ(co.mcu.Count(0x01), 1);
    EXPECT_EQ(co.mcu.Count(0x17), 1);
    EXPECT_EQ(LoggedCount(L"MCU message 80 ignored in step blocks\r\n"), 1);
    EXPECT_TRUE(Shown("MCU升级成功！"));
}

}  // namespace
