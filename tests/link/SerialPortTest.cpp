// SerialPort over a simulated line: open failures and their log lines, the write trace,
// partial and failing writes.
#include <gtest/gtest.h>

#include "link/SerialPort.h"
#include "tests/support/LinkTestSupport.h"

using namespace linktest;

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    quarrin::platform::SimPlatform sim;
    quarrin::platform::SimSerialPeer& line = sim.AttachSerialPeer(2);
    SerialPort port;
};

TEST_F(SerialPortTest, OpenReportsWhyItFails) {
    EXPECT_FALSE(port.Open(5, 38400));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Open(2, 38400));
    EXPECT_EQ(line.Mask(), EV_RXCHAR);
    EXPECT_FALSE(port.Open(7, 38400));
    EXPECT_TRUE(port.IsOpen());
    SerialPort second;
    EXPECT_FALSE(second.Open(2, 38400));  // the port is taken
    SerialPort badRate;
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(badRate.Open(2, 0));
    EXPECT_FALSE(badRate.IsOpen());
    EXPECT_FALSE(line.IsOpen());
    EXPECT_EQ(sim.DebugLines(), (std::vector<std::wstring>{
                                    L"Open Com5 Failed!\r\n", L"Init Com7 failed,already open\r\n",
                                    L"Open Com2 Failed!\r\n", L"SetCommState Com2 Failed!\r\n"}));
    EXPECT_TRUE(port.Close());  // closed already: nothing to do
}

TEST_F(SerialPortTest, WritesAreTracedExceptDataBlocks) {
    ASSERT_TRUE(port.Open(2, 38400));
    const BYTE status[] = {0x5A, 0xA5, 0x02, 0x02, 0xFC};
    EXPECT_TRUE(port.Write(status, 5));
    Bytes block = Frame(0x15, Bytes(130, 0));
    EXPECT_TRUE(port.Write(block.data(), static_cast<DWORD>(block.size())));
    Bytes mpegBlock = Frame(0x25, Bytes(10, 0));
    EXPECT_TRUE(port.Write(mpegBlock.data(), static_cast<DWORD>(mpegBlock.size())));
    const BYTE tiny[] = {0x5A, 0xA5};
    EXPECT_TRUE(port.Write(tiny, 2));  // too short to hold a command byte: traced
    EXPECT_EQ(sim.DebugLines(),
              (std::vector<std::wstring>{L"S:5a a5 02 02 fc \r\n", L"S:5a a5 \r\n"}));
    EXPECT_FALSE(port.Write(nullptr, 5));
    EXPECT_FALSE(port.Write(status, 0));
    EXPECT_EQ(line.Written().size(), 5 + block.size() + mpegBlock.size() + 2);
}

TEST_F(SerialPortTest, PartialWritesAreCompletedAndFailuresReported) {
    ASSERT_TRUE(port.Open(2, 38400));
    Bytes frame = Frame(0x14, Bytes(40, 0x33));
    line.LimitWriteChunk(7);
    EXPECT_TRUE(port.Write(frame.data(), static_cast<DWORD>(frame.size())));
    EXPECT_EQ(line.TakeWritten(), frame);
    line.LimitWriteChunk(0);
    line.FailWrites(ERROR_GEN_FAILURE);
    EXPECT_FALSE(port.Write(frame.data(), static_cast<DWORD>(frame.size())));
    EXPECT_TRUE(line.TakeWritten().empty());
}

TEST_F(SerialPortTest, ReadsAndWaitsOnAClosedPortReturnAtOnce) {
    BYTE buffer[4];
    EXPECT_EQ(port.Available(), 0u);
    EXPECT_EQ(port.Read(buffer, 4), 0u);
    ASSERT_TRUE(port.Open(2, 38400));
    line.Inject({1, 2, 3});
    EXPECT_EQ(port.Read(nullptr, 4), 0u);
    EXPECT_EQ(port.Read(buffer, 0), 0u);
    EXPECT_EQ(line.Waiting(), 3u);
    EXPECT_EQ(port.Available(), 3u);
    EXPECT_EQ(port.Read(buffer, 4), 3u);
    EXPECT_TRUE(sim.DebugLines().empty());
}

}  // namespace
