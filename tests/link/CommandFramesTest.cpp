// Every command frame, byte for byte, as it reaches the co-processor's end of the line.
#include <gtest/gtest.h>

#include "contract/UpdateContract.h"
#include "link/CoprocessorLink.h"
#include "tests/support/LinkTestSupport.h"
#include "tests/support/ProcessState.h"

using namespace linktest;

namespace {

class CommandFramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        mcu.OpenMcuLink();
        mpeg.OpenMpegLink();
    }
    void TearDown() override {
        mpeg.CloseLink();
        mcu.CloseLink();
    }
    // What the send threads have written since the last call.
    Bytes Sent(quarrin::platform::SimSerialPeer& peer) {
        Sleep(1);  // the send thread writes before the virtual clock moves on
        return peer.TakeWritten();
    }

    quarrin::platform::SimPlatform sim;
    quarrin::platform::SimSerialPeer& mcuLine = sim.AttachSerialPeer(2);
    quarrin::platform::SimSerialPeer& mpegLine = sim.AttachSerialPeer(3);
    CoprocessorLink mcu;
    CoprocessorLink mpeg;
};

TEST_F(CommandFramesTest, FixedMcuCommands) {
    EXPECT_EQ(mcu.MCU_CMD_UPDATE_REQUEST(), 0);
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC}));
    mcu.MCU_CMD_UPDATE_ACCEPT();
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x04, 0x01, 0x01, 0x00, 0xFA}));
    mcu.MCU_CMD_STATUS_ACK();
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x02, 0x02, 0xFC}));
    mcu.MCU_CMD_START_PROGRAM();
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x02, 0x14, 0xEA}));
    mcu.MCU_CMD_ENTER_LOADER();
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x02, 0x17, 0xE7}));
    EXPECT_TRUE(HasLine(sim, L"S:5a a5 02 17 e7 \r\n"));
}

TEST_F(CommandFramesTest, TheModeByteFollowsTheFlagWhenTheFrameIsBuilt) {
    g_mpegUpdateActive = 1;
    mcu.MCU_CMD_MPEG_UPDATE_MODE();
    g_mpegUpdateActive = 0;  // before the send thread writes
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x05, 0x03, 0x01, 0x00, 0x08, 0xEF}));
    mcu.MCU_CMD_MPEG_UPDATE_MODE();
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x05, 0x03, 0x01, 0x00, 0x00, 0xF7}));
}

TEST_F(CommandFramesTest, McuDataBlocksAndTheEndFrame) {
    Bytes block(130, 0x00);
    block[0] = 0x01;
    block[1] = 0x02;
    EXPECT_EQ(mcu.MCU_CMD_DATA_BLOCK(block.data(), 130), 0);
    Bytes expected{0x5A, 0xA5, 0x84, 0x15, 0x01, 0x02};
    expected.resize(134, 0x00);
    expected.push_back(0x64);
    EXPECT_EQ(Sent(mcuLine), expected);
    EXPECT_TRUE(LinesStartingWith(sim, L"S:5a a5 84").empty());  // data blocks are not traced
    EXPECT_EQ(mcu.MCU_CMD_DATA_BLOCK(block.data(), 128), -1);
    EXPECT_EQ(mcu.MCU_CMD_DATA_BLOCK(block.data(), 131), -1);
    EXPECT_EQ(mcu.MCU_CMD_DATA_BLOCK(nullptr, 130), -1);
    const BYTE sum[] = {0x12, 0x34};
    EXPECT_EQ(mcu.MCU_CMD_END_PROGRAM(sum, 1), -1);
    EXPECT_EQ(mcu.MCU_CMD_END_PROGRAM(sum, 2), 0);
    EXPECT_EQ(Sent(mcuLine), (Bytes{0x5A, 0xA5, 0x04, 0x16, 0x12, 0x34, 0xA0}));
}

TEST_F(CommandFramesTest, MpegCommands) {
    mpeg.MPEG_CMD_UPDATE_REQUEST();
    mpeg.MPEG_CMD_ENTER_LOADER();
    mpeg.MPEG_CMD_START_PROGRAM();
    mpeg.MPEG_CMD_END_PROGRAM(0x1A2B3C);
    EXPECT_EQ(Sent(mpegLine), (Bytes{0x5A, 0xA5, 0x03, 0x00, 0x00, 0xFD,  //
                                     0x5A, 0xA5, 0x02, 0x15, 0xE9,        //
                                     0x5A, 0xA5, 0x02, 0x24, 0xDA,        //
                                     0x5A, 0xA5, 0x04, 0x26, 0x2B, 0x3C, 0x6F}));
    EXPECT_TRUE(mcuLine.Written().empty());
}

TEST_F(CommandFramesTest, MpegDataBlocksCarryTheirNumberAndBytes) {
    Bytes image(240);
    for (int i = 0; i < 240; ++i)
        image[i] = static_cast<BYTE>(i);
    mpeg.MPEG_CMD_DATA_BLOCK(0, image.data(), 240);
    Bytes frame = Sent(mpegLine);
    ASSERT_EQ(frame.size(), 247u);
    EXPECT_EQ(frame[2], 0xF4);
    Bytes payload(242, 0x00);  // block 0, then the image bytes
    std::copy(image.begin(), image.end(), payload.begin() + 2);
    EXPECT_EQ(frame, Frame(0x25, payload));
    mpeg.MPEG_CMD_DATA_BLOCK(0x0123, nullptr, 0);
    EXPECT_EQ(Sent(mpegLine), Frame(0x25, {0x01, 0x23}));
    Bytes big(252);
    EXPECT_EQ(mpeg.MPEG_CMD_DATA_BLOCK(1, big.data(), 252), -1);
    EXPECT_EQ(mpeg.MPEG_CMD_DATA_BLOCK(1, big.data(), 251), 0);
    EXPECT_EQ(Sent(mpegLine).size(), 258u);
}

TEST_F(CommandFramesTest, RawFramesGoOutUnchanged) {
    const Bytes raw{0x5A, 0xA5, 0x03, 0x73, 0x01, 0x89, 0x00};
    EXPECT_EQ(mpeg.SendRaw(raw.data(), static_cast<int>(raw.size())), 0);
    EXPECT_EQ(Sent(mpegLine), raw);
    CoprocessorLink unopened;  // nothing to send on: nothing happens
    EXPECT_EQ(unopened.MCU_CMD_UPDATE_REQUEST(), 0);
}

}  // namespace
