// The link's threads on the virtual clock: settings on open, frames in order, frames in,
// and the stop time-outs with their log lines.
#include <gtest/gtest.h>

#include <cstring>

#include "contract/UpdateContract.h"
#include "link/CoprocessorLink.h"
#include "tests/support/LinkTestSupport.h"

using namespace linktest;
using quarrin::platform::SimSerialPeer;

namespace {

class LinkChannelTest : public ::testing::Test {
protected:
    quarrin::platform::SimPlatform sim;
    SimSerialPeer& mcuLine = sim.AttachSerialPeer(2);
    PostCollector posts;
};

TEST_F(LinkChannelTest, OpeningSetsUpThePortAsTheLinkNeedsIt) {
    CoprocessorLink link;
    link.OpenMcuLink();
    DCB dcb = mcuLine.State();
    EXPECT_EQ(dcb.BaudRate, 38400u);
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 8, sizeof flags);
    EXPECT_EQ(flags & 0x7FFF, 0x1083u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    COMMTIMEOUTS timeouts = mcuLine.Timeouts();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 2000u);
    link.CloseLink();
    EXPECT_FALSE(mcuLine.IsOpen());
    EXPECT_EQ(link.m_serialPort, nullptr);
}

TEST_F(LinkChannelTest, FramesAreWrittenInTheOrderPostedEachOnce) {
    CoprocessorLink link;
    link.OpenMcuLink();
    mcuLine.LimitWriteChunk(3);  // every frame needs several writes
    link.MCU_CMD_UPDATE_REQUEST();
    link.MCU_CMD_STATUS_ACK();
    link.MCU_CMD_ENTER_LOADER();
    Sleep(10);
    EXPECT_EQ(mcuLine.Written(), (Bytes{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC, 0x5A, 0xA5, 0x02, 0x02,
                                        0xFC, 0x5A, 0xA5, 0x02, 0x17, 0xE7}));
    link.CloseLink();
}

TEST_F(LinkChannelTest, FramesFromTheLineArePostedAsTheyComplete) {
    CoprocessorLink link;
    link.OpenMcuLink();
    mcuLine.InjectAfter(100, {0x00, 0x5A, 0xA5, 0x04, 0x95});
    mcuLine.InjectAfter(200, {0x00, 0x07, 0x60, 0x5A, 0xA5, 0x03, 0x81, 0x05, 0x77});
    Sleep(150);
    EXPECT_TRUE(posts.Take().empty());
    Sleep(100);
    EXPECT_EQ(posts.Take(),
              (std::vector<Post>{{WM_MCU_MESSAGE, 7, 0x95}, {WM_MCU_MESSAGE, 5, 0x81}}));
    EXPECT_TRUE(link.m_receiveChannel->m_receiveBuffer.empty());
    link.CloseLink();
}

// What the dialog watches: every good frame counts as a sign of life, whatever its code, and
// a hang-up of the far end shows in the link's state.
TEST_F(LinkChannelTest, TheLinkCountsGoodFramesAndReportsAHangUp) {
    CoprocessorLink link;
    EXPECT_TRUE(link.OpenMcuLink());
    EXPECT_EQ(link.State(), CoprocessorLink::LineState::Up);
    mcuLine.Inject({0x5A, 0xA5, 0x02, 0x42, 0xBC,          // unknown code, good sum
                    0x5A, 0xA5, 0x02, 0x42, 0xBD,          // bad sum
                    0x5A, 0xA5, 0x03, 0x81, 0x05, 0x77});  // status
    Sleep(10);
    EXPECT_EQ(link.FramesReceived(), 2u);
    EXPECT_EQ(link.State(), CoprocessorLink::LineState::Up);
    mcuLine.HangUp();
    Sleep(10);
    EXPECT_EQ(link.State(), CoprocessorLink::LineState::HungUp);
    EXPECT_TRUE(HasLine(sim, L"Com2 hung up\r\n"));
    posts.Take();
    link.CloseLink();
}

TEST_F(LinkChannelTest, StoppingASilentLineTimesOutAfterFiveSeconds) {
    CoprocessorLink link;
    link.OpenMcuLink();
    Sleep(1);  // both threads are in their waits
    DWORD before = GetTickCount();
    link.CloseLink();
    EXPECT_EQ(GetTickCount() - before, 5000u);
    EXPECT_EQ(sim.DebugLines(), (std::vector<std::wstring>{L"MCU Send UnInit OK\r\n",
                                                           L"MCU Rec UnInit TIMEOUT\r\n"}));
}

TEST_F(LinkChannelTest, StoppingWhileBytesArriveEndsTheReceiveThreadInTime) {
    CoprocessorLink link;
    link.OpenMcuLink();
    for (int i = 1; i <= 100; ++i)
        mcuLine.InjectAfter(i * 100, {0x00});
    Sleep(250);
    DWORD before = GetTickCount();
    link.StopLinkThreads();
    EXPECT_LE(GetTickCount() - before, 100u);
    EXPECT_TRUE(HasLine(sim, L"MCU Rec UnInit OK\r\n"));
    EXPECT_FALSE(link.m_receiveChannel->IsRunning());
    EXPECT_NE(link.m_serialPort, nullptr);  // stopping keeps channels and port
    link.CloseLink();
    EXPECT_EQ(sim.DebugLines().size(), 2u);  // a stopped channel stops silently
}

TEST_F(LinkChannelTest, StoppingDiscardsQueuedFramesAndEndsASlowWriter) {
    CoprocessorLink link;
    link.OpenMcuLink();
    mcuLine.OnWrite([](const Bytes&) { Sleep(500); });  // the line takes its time
    link.MCU_CMD_UPDATE_REQUEST();
    Sleep(1);
    link.MCU_CMD_STATUS_ACK();
    link.MCU_CMD_ENTER_LOADER();
    link.m_sendChannel->Stop();
    EXPECT_TRUE(HasLine(sim, L"MCU Send UnInit OK\r\n"));
    EXPECT_EQ(mcuLine.Written(), (Bytes{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC}));
    link.MCU_CMD_START_PROGRAM();  // after the stop: kept, never written
    EXPECT_EQ(link.m_sendChannel->Queued(), 1u);

    mcuLine.OnWrite([](const Bytes&) { Sleep(3000); });
    CoprocessorLink slow;
    link.CloseLink();
    slow.OpenMcuLink();
    slow.MCU_CMD_UPDATE_REQUEST();
    Sleep(1);
    DWORD before = GetTickCount();
    slow.m_sendChannel->Stop();
    EXPECT_EQ(GetTickCount() - before, 1000u);
    EXPECT_TRUE(HasLine(sim, L"MCU Send UnInit TIMEOUT\r\n"));
    mcuLine.OnWrite(nullptr);
    slow.CloseLink();
}

// While the line is slow, a command posted again is not queued behind its waiting copy;
// pass-through frames are each sent, also when two are alike.
TEST_F(LinkChannelTest, ACommandIsNotQueuedAgainWhileItsCopyWaits) {
    CoprocessorLink link;
    link.OpenMcuLink();
    mcuLine.OnWrite([](const Bytes&) { Sleep(100); });
    link.MCU_CMD_UPDATE_REQUEST();
    Sleep(1);  // being written: no longer waiting
    link.MCU_CMD_UPDATE_REQUEST();
    link.MCU_CMD_STATUS_ACK();
    link.MCU_CMD_UPDATE_REQUEST();
    link.MCU_CMD_STATUS_ACK();
    Bytes passThrough = Frame(0x73, {1, 2});
    link.SendRaw(passThrough.data(), static_cast<int>(passThrough.size()));
    link.SendRaw(passThrough.data(), static_cast<int>(passThrough.size()));
    EXPECT_EQ(link.m_sendChannel->Queued(), 4u);
    Sleep(1000);
    Bytes expected{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC, 0x5A, 0xA5, 0x03,
                   0x00, 0x01, 0xFC, 0x5A, 0xA5, 0x02, 0x02, 0xFC};
    expected.insert(expected.end(), passThrough.begin(), passThrough.end());
    expected.insert(expected.end(), passThrough.begin(), passThrough.end());
    EXPECT_EQ(mcuLine.Written(), expected);
    mcuLine.OnWrite(nullptr);
    link.CloseLink();
}

// A line that takes nothing for a long time: the queue keeps its limit by dropping its oldest
// frames, says so once, and counts the drops when it has emptied.
TEST_F(LinkChannelTest, AFullSendQueueDropsItsOldestFrames) {
    SimSerialPeer& mpegLine = sim.AttachSerialPeer(3);
    CoprocessorLink link;
    link.OpenMpegLink();
    mpegLine.OnWrite([](const Bytes&) { Sleep(5000); });
    std::vector<Bytes> frames;
    for (unsigned i = 0; i < SEND_QUEUE_LIMIT + 11; ++i)
        frames.push_back(Frame(0xF3, {static_cast<BYTE>(i), static_cast<BYTE>(i >> 8)}));
    link.SendRaw(frames[0].data(), static_cast<int>(frames[0].size()));
    Sleep(1);  // the first frame is on the line
    for (std::size_t i = 1; i < frames.size(); ++i)
        link.SendRaw(frames[i].data(), static_cast<int>(frames[i].size()));
    EXPECT_EQ(link.m_sendChannel->Queued(), SEND_QUEUE_LIMIT);
    EXPECT_EQ(LinesStartingWith(sim, L"MPEG Send queue full").size(), 1u);
    mpegLine.OnWrite(nullptr);
    Sleep(10000);
    Bytes expected = frames[0];
    for (std::size_t i = frames.size() - SEND_QUEUE_LIMIT; i < frames.size(); ++i)
        expected.insert(expected.end(), frames[i].begin(), frames[i].end());
    EXPECT_EQ(mpegLine.Written(), expected);
    EXPECT_TRUE(HasLine(sim, L"MPEG Send queue: 10 frames dropped\r\n"));
    link.CloseLink();
}

TEST_F(LinkChannelTest, OnlyOneChannelOfEachKindRuns) {
    CoprocessorLink link;
    link.OpenMcuLink();
    EXPECT_FALSE(link.m_sendChannel->Start(link.m_serialPort.get(), 0));
    EXPECT_FALSE(link.m_receiveChannel->Start(link.m_serialPort.get(), 0, &link));
    SendChannel other;
    EXPECT_FALSE(other.Start(link.m_serialPort.get(), 0));  // would share the MCU stop semaphore
    EXPECT_FALSE(other.Start(nullptr, 1));
    EXPECT_TRUE(other.Start(link.m_serialPort.get(), 1));
    other.Stop();
    other.Destroy();
    CoprocessorLink none;
    EXPECT_TRUE(none.StopLinkThreads());
    EXPECT_TRUE(none.CloseLink());
    link.CloseLink();
}

TEST_F(LinkChannelTest, ALinkOnAMissingPortIsBuiltButRestsUntilStopped) {
    CoprocessorLink link;
    EXPECT_FALSE(link.OpenMpegLink());  // COM3 has no peer
    EXPECT_EQ(sim.DebugLines(), std::vector<std::wstring>{L"Open Com3 Failed!\r\n"});
    EXPECT_EQ(link.State(), CoprocessorLink::LineState::NotOpen);
    link.MPEG_CMD_UPDATE_REQUEST();
    Sleep(1000);  // a spinning receive thread would never let the virtual clock move
    DWORD before = GetTickCount();
    link.CloseLink();
    EXPECT_LE(GetTickCount() - before, RECEIVE_IDLE_PAUSE_MS);
    EXPECT_TRUE(HasLine(sim, L"MPEG Send UnInit OK\r\n"));
    EXPECT_TRUE(HasLine(sim, L"MPEG Rec UnInit OK\r\n"));
    EXPECT_TRUE(LinesStartingWith(sim, L"S:").empty());
}

}  // namespace
