// The MCU and MPEG parsers: what each message posts, what is traced, the version texts,
// the pass-through mappings, and frames too short for their message.
#include <gtest/gtest.h>

#include <cstring>

#include "contract/UpdateContract.h"
#include "link/McuParser.h"
#include "link/MpegParser.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"
#include "tests/support/LinkTestSupport.h"

using namespace linktest;

namespace {

class ParserTest : public ::testing::Test {
protected:
    void Mcu(const Bytes& frame) {
        ParseMcuFrame(nullptr, frame.data(), static_cast<int>(frame.size()));
    }
    void Mpeg(const Bytes& frame) {
        ParseMpegFrame(nullptr, frame.data(), static_cast<int>(frame.size()));
    }
    ParserTest() {
        // Frames an earlier test stored and nobody took.
        TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG);
        TakePassThroughFrames(PASS_THROUGH_MPEG_TO_MCU);
    }

    quarrin::platform::SimPlatform sim;
    PostCollector posts;
};

TEST_F(ParserTest, McuMessagesPostTheirValuesAndAreTraced) {
    Mcu({0x5A, 0xA5, 0x04, 0x95, 0x00, 0x07, 0x60});
    Mcu({0x5A, 0xA5, 0x04, 0x95, 0x01, 0x00, 0x66});
    Mcu({0x5A, 0xA5, 0x03, 0x81, 0x05, 0x77});
    Mcu(Frame(0x96, {0x03}));
    Mcu(Frame(0x94, {}));
    Mcu(Frame(0x82, {}));
    Mcu(Frame(0x99, {0x01}));
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MCU_MESSAGE, 7, 0x95},
                                               {WM_MCU_MESSAGE, 256, 0x95},
                                               {WM_MCU_MESSAGE, 5, 0x81},
                                               {WM_MCU_MESSAGE, 3, 0x96},
                                               {WM_MCU_MESSAGE, 0, 0x94},
                                               {WM_MCU_MESSAGE, 0, 0x82}}));
    auto traced = LinesStartingWith(sim, L"R:");
    ASSERT_EQ(traced.size(), 5u);  // not the two block acknowledgements
    EXPECT_EQ(traced[0], L"R:5a a5 03 81 05 77 \r\n");
    EXPECT_EQ(traced[4], L"R:5a a5 03 99 01 63 \r\n");
}

TEST_F(ParserTest, TheUpdateAcknowledgementLogsTheWindowHandle) {
    Mcu(Frame(0x80, {}));
    auto lines = sim.DebugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind(L"hWnd=0x", 0), 0u);
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MCU_MESSAGE, 0, 0x80}}));
}

TEST_F(ParserTest, TheMcuVersionReportFillsTheRecordAndPrintsFiveTexts) {
    Bytes payload(73, 0);
    std::memcpy(payload.data(), "V1.2", 4);              // version, 17 bytes
    std::memcpy(payload.data() + 17, "240601", 6);       // date, 6 bytes
    payload[23] = 0xEE;                                  // not shown
    std::memcpy(payload.data() + 24, "CAN-7", 5);        // 16 bytes each
    std::memcpy(payload.data() + 40, "INT\xd6\xd0", 5);  // "INT中" in the system code page
    std::memcpy(payload.data() + 56, "CUSTOMER-NAME-16", 16);
    payload[72] = 0x42;
    std::memset(g_mcuVersionRecord, 0x77, sizeof g_mcuVersionRecord);
    Mcu(Frame(0x97, payload));
    EXPECT_EQ(std::memcmp(g_mcuVersionRecord, payload.data(), 73), 0);
    EXPECT_EQ(g_mcuVersionRecord[73], 0);  // the rest of the 80 bytes is cleared
    EXPECT_EQ(g_mcuVersionRecord[79], 0);
    auto lines = sim.DebugLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], L"MCU Version:V1.2\r\n");
    EXPECT_EQ(lines[2], L"MCU Date:240601\r\n");
    EXPECT_EQ(lines[3], L"Can:CAN-7\r\n");
    EXPECT_EQ(lines[4], L"Internal:INT\u4E2D\r\n");
    EXPECT_EQ(lines[5], L"Custom:CUSTOMER-NAME-16\r\n");
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MCU_MESSAGE, 0, 0x97}}));
}

TEST_F(ParserTest, MpegMessagesPostTheirValuesAsTheirOwnMessage) {
    Mpeg({0x5A, 0xA5, 0x04, 0xA5, 0x00, 0x10, 0x47});
    Mpeg({0x5A, 0xA5, 0x03, 0x8B, 0x00, 0x72});
    Mpeg(Frame(0x8C, {}));
    Mpeg({0x5A, 0xA5, 0x03, 0x80, 0x02, 0x7B});
    Mpeg({0x5A, 0xA5, 0x02, 0xF2, 0x0C});
    Mpeg(Frame(0xA4, {}));
    Mpeg(Frame(0xA6, {0x01}));
    Mpeg(Frame(0x99, {}));
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MPEG_MESSAGE, 16, 0xA5},
                                               {WM_MPEG_MESSAGE, 2, 0x80},
                                               {WM_MPEG_MESSAGE, 0, 0xF2},
                                               {WM_MPEG_MESSAGE, 0, 0xA4},
                                               {WM_MPEG_MESSAGE, 1, 0xA6}}));
    auto traced = LinesStartingWith(sim, L"MPEG R:");
    ASSERT_EQ(sim.DebugLines().size(), 5u);  // no trace of A5, 8B, 8C
    EXPECT_EQ(traced[0], L"MPEG R:5a a5 03 80 02 7b \r\n");
}

TEST_F(ParserTest, TheMpegVersionReportPrintsThreeTexts) {
    Bytes payload(42, 0);
    std::memcpy(payload.data(), "M2.0", 4);
    std::memcpy(payload.data() + 8, "2024-06-01", 10);
    std::memcpy(payload.data() + 26, "SERVO-3", 7);
    Mpeg(Frame(0x95, payload));
    auto lines = sim.DebugLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], L"MPEG Ver:M2.0\r\n");
    EXPECT_EQ(lines[2], L"MPEG Date:2024-06-01\r\n");
    EXPECT_EQ(lines[3], L"Servo:SERVO-3\r\n");
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MPEG_MESSAGE, 0, 0x95}}));
}

TEST_F(ParserTest, FramesTooShortForTheirMessageAreTracedButNotActedOn) {
    std::memset(g_mcuVersionRecord, 0x55, sizeof g_mcuVersionRecord);
    Mcu(Frame(0x95, {0x01}));
    Mcu(Frame(0x81, {}));
    Mcu(Frame(0x97, Bytes(72, 0x31)));
    Mpeg(Frame(0xA5, {0x02}));
    Mpeg(Frame(0x80, {}));
    Mpeg(Frame(0x95, Bytes(41, 0x31)));
    Bytes four{0x5A, 0xA5, 0x01, 0xFF};
    Mcu(four);
    Mpeg(four);
    EXPECT_TRUE(posts.Take().empty());
    EXPECT_EQ(g_mcuVersionRecord[0], 0x55);
    EXPECT_EQ(LinesStartingWith(sim, L"R:").size(), 2u);
    EXPECT_EQ(LinesStartingWith(sim, L"MPEG R:").size(), 2u);
}

TEST_F(ParserTest, PassThroughFramesWaitInTheirMappingUntilTakenOnce) {
    Bytes toMpeg = Frame(0x73, {1, 2, 3, 0x5A});
    Bytes longest = Frame(0x73, Bytes(253, 0x11));  // 258 bytes, the longest frame
    Mcu(toMpeg);
    Mcu(longest);
    Bytes toMcu = Frame(0xF3, Bytes(200, 0xAB));
    Mpeg(toMcu);
    EXPECT_EQ(posts.Take(), (std::vector<Post>{{WM_MCU_MESSAGE, toMpeg.size(), 0x73},
                                               {WM_MCU_MESSAGE, longest.size(), 0x73},
                                               {WM_MPEG_MESSAGE, toMcu.size(), 0xF3}}));
    EXPECT_EQ(TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG),
              (std::vector<Bytes>{toMpeg, longest}));
    EXPECT_TRUE(TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG).empty());
    EXPECT_EQ(TakePassThroughFrames(PASS_THROUGH_MPEG_TO_MCU), std::vector<Bytes>{toMcu});
}

TEST_F(ParserTest, AFullPassThroughQueueDropsFurtherFramesAndSaysSoOnce) {
    std::vector<Bytes> frames;
    for (BYTE i = 0; i < PASS_THROUGH_SLOTS + 3; ++i) {
        frames.push_back(Frame(0x73, {i}));
        Mcu(frames.back());
    }
    EXPECT_EQ(posts.Take().size(), PASS_THROUGH_SLOTS);
    EXPECT_EQ(LinesStartingWith(sim, L"Pass-through queue _UPD_Mcu_To_Mpeg_ full").size(), 1u);
    frames.resize(PASS_THROUGH_SLOTS);
    EXPECT_EQ(TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG), frames);
    Bytes later = Frame(0x73, {0x99});
    Mcu(later);  // room again
    EXPECT_EQ(TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG), std::vector<Bytes>{later});
}

// The dialog takes one message at a time: a line that brings more than it can take is not
// allowed to fill its queue. Beyond the budget the parser drops messages and says so.
TEST_F(ParserTest, ALinkPostsNoMoreThanItsBudgetAheadOfTheDialog) {
    Bytes status = Frame(0x81, {0x01});
    for (long i = 0; i < POST_BUDGET + 100; ++i)
        Mcu(status);
    EXPECT_EQ(posts.Take().size(), static_cast<std::size_t>(POST_BUDGET));
    EXPECT_TRUE(HasLine(sim, L"MCU messages dropped: the dialog is behind\r\n"));
    Mpeg(Frame(0xF2, {}));  // the other link has its own budget
    EXPECT_EQ(posts.Take().size(), 1u);
    for (long i = 0; i < POST_BUDGET; ++i)
        ReturnPostSlot(0);  // the dialog has caught up
    Mcu(status);
    EXPECT_EQ(posts.Take().size(), 1u);
    EXPECT_TRUE(HasLine(sim, L"MCU messages: 100 dropped\r\n"));
}

}  // namespace
