// The comm API on simulated lines: opening "COMn:", settings, reads, writes and the event
// wait, all on the virtual clock.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;
using quarrin::platform::SimSerialPeer;

namespace {

HANDLE OpenCom(const wchar_t* name) {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class SerialPortApiTest : public ::testing::Test {
protected:
    SimPlatform sim;
    SimSerialPeer& peer = sim.AttachSerialPeer(2);
};

TEST_F(SerialPortApiTest, APortOpensOnlyWhenAttachedAndOnlyOnce) {
    SetLastError(12345);
    EXPECT_EQ(OpenCom(L"COM3:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE port = OpenCom(L"com2:");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(peer.IsOpen());
    SetLastError(12345);
    EXPECT_EQ(OpenCom(L"COM2:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(peer.IsOpen());
    port = OpenCom(L"COM2:");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(peer.OpenCount(), 2);
    CloseHandle(port);
    EXPECT_EQ(CreateFileW(L"COM2:", GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SerialPortApiTest, SettingsAreKeptAndUnsupportedOnesRefused) {
    HANDLE port = OpenCom(L"COM2:");
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.DCBlength, 28u);
    dcb.BaudRate = CBR_38400;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(port, &dcb));
    EXPECT_EQ(peer.State().BaudRate, 38400u);
    DCB bad = dcb;
    bad.ByteSize = 9;
    SetLastError(0);
    EXPECT_FALSE(SetCommState(port, &bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    bad = dcb;
    bad.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(SetCommState(port, &bad));
    EXPECT_EQ(peer.State().ByteSize, 8);
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 50, 2000};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    EXPECT_EQ(peer.Timeouts().WriteTotalTimeoutConstant, 2000u);
    CloseHandle(port);
    HANDLE notAPort = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    EXPECT_FALSE(GetCommState(notAPort, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(notAPort);
}

TEST_F(SerialPortApiTest, ReadsReturnAtOnceWithWhatHasArrived) {
    HANDLE port = OpenCom(L"COM2:");
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &timeouts);
    BYTE buffer[8];
    DWORD got = 99;
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    peer.Inject({1, 2, 3});
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 3u);
    ASSERT_TRUE(ReadFile(port, buffer, 2, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[1], 2);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_RXABORT));
    EXPECT_EQ(peer.Waiting(), 0u);
    CloseHandle(port);
}

TEST_F(SerialPortApiTest, ReadsWithATotalTimeoutWaitOnTheVirtualClock) {
    HANDLE port = OpenCom(L"COM2:");
    COMMTIMEOUTS timeouts{0, 0, 300, 0, 0};
    SetCommTimeouts(port, &timeouts);
    peer.InjectAfter(100, {7});
    BYTE buffer[4];
    DWORD got = 0;
    DWORD before = GetTickCount();
    ASSERT_TRUE(ReadFile(port, buffer, 4, &got, nullptr));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(GetTickCount() - before, 300u);
    CloseHandle(port);
}

TEST_F(SerialPortApiTest, WritesReachThePeerAndHonourInjectedFaults) {
    HANDLE port = OpenCom(L"COM2:");
    std::vector<std::vector<BYTE>> seen;
    peer.OnWrite([&](const std::vector<BYTE>& bytes) { seen.push_back(bytes); });
    const BYTE frame[] = {0x5A, 0xA5, 0x02, 0x02, 0xFC};
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, frame, 5, &done, nullptr));
    EXPECT_EQ(done, 5u);
    peer.LimitWriteChunk(2);
    ASSERT_TRUE(WriteFile(port, frame, 5, &done, nullptr));
    EXPECT_EQ(done, 2u);
    peer.FailWrites(ERROR_GEN_FAILURE);
    EXPECT_FALSE(WriteFile(port, frame, 5, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(peer.TakeWritten(), (std::vector<BYTE>{0x5A, 0xA5, 0x02, 0x02, 0xFC, 0x5A, 0xA5}));
    EXPECT_TRUE(peer.TakeWritten().empty());
    EXPECT_EQ(seen.size(), 2u);
    CloseHandle(port);
}

struct EventWait {
    HANDLE port;
    DWORD events = 0xDEAD;
    BOOL ok = FALSE;
    DWORD at = 0;
};

DWORD WaitForEvent(LPVOID parameter) {
    auto* wait = static_cast<EventWait*>(parameter);
    wait->ok = WaitCommEvent(wait->port, &wait->events, nullptr);
    wait->at = GetTickCount();
    return 0;
}

TEST_F(SerialPortApiTest, TheEventWaitSleepsUntilBytesArrive) {
    HANDLE port = OpenCom(L"COM2:");
    DWORD events = 0;
    SetLastError(0);
    EXPECT_FALSE(WaitCommEvent(port, &events, nullptr));  // no mask, nothing to wait for
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY);
    peer.InjectAfter(2500, {0x5A});
    EventWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, &wait, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(wait.ok);
    EXPECT_EQ(wait.events, EV_RXCHAR);
    EXPECT_EQ(wait.at, 2500u);
    // Waiting bytes keep the event up; a finished write is reported once.
    const BYTE byte = 1;
    DWORD done = 0;
    WriteFile(port, &byte, 1, &done, nullptr);
    ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
    EXPECT_EQ(events, EV_RXCHAR | EV_TXEMPTY);
    ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
    EXPECT_EQ(events, EV_RXCHAR);
    CloseHandle(thread);
    CloseHandle(port);
}

TEST_F(SerialPortApiTest, AMaskChangeEndsTheWaitWithoutEvents) {
    HANDLE port = OpenCom(L"COM2:");
    SetCommMask(port, EV_RXCHAR);
    EventWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, &wait, 0, nullptr);
    Sleep(700);
    SetCommMask(port, EV_RXCHAR);
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(wait.ok);
    EXPECT_EQ(wait.events, 0u);
    EXPECT_EQ(wait.at, 700u);
    CloseHandle(thread);
    CloseHandle(port);
}

TEST_F(SerialPortApiTest, TerminateThreadEndsAWaitOnASilentLine) {
    HANDLE port = OpenCom(L"COM2:");
    SetCommMask(port, EV_RXCHAR);
    EventWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, &wait, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_TIMEOUT);
    EXPECT_TRUE(TerminateThread(thread, 0));
    EXPECT_EQ(wait.events, 0xDEADu);  // the wait never returned
    CloseHandle(thread);
    CloseHandle(port);
}

}  // namespace
