// The host's COM ports against a real pseudo-terminal pair: raw bytes both ways, the
// non-blocking read, write time-outs, and the event wait with its wake-ups and hang-up.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "contract/UpdateContract.h"
#include "link/CoprocessorLink.h"
#include "platform/Win32.h"
#include "platform/host/RealTimeScheduler.h"
#include "platform/serial/HostSerialDevice.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/LinkTestSupport.h"
#include "tests/support/PseudoTerminal.h"

using linktest::PseudoTerminal;
using quarrin::platform::HostComPorts;
using quarrin::platform::SimPlatform;

namespace {

class HostSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = ports.Open(L"COM2:", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        DCB dcb{};
        GetCommState(port, &dcb);
        dcb.BaudRate = CBR_38400;
        ASSERT_TRUE(SetCommState(port, &dcb));
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 50, 2000};
        SetCommTimeouts(port, &timeouts);
    }
    void TearDown() override { CloseHandle(port); }

    SimPlatform sim;  // threads and the handle table; the tty itself runs on real time
    PseudoTerminal pty;
    HostComPorts ports{{{2, pty.SlavePath()}, {4, "/nonexistent/tty"}}};
    HANDLE port = nullptr;
};

TEST_F(HostSerialTest, UnmappedMissingAndBusyPortsFail) {
    SetLastError(0);
    EXPECT_EQ(ports.Open(L"COM3:", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ports.Open(L"COM4:", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ports.Open(L"COM2:", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    DCB dcb{};
    GetCommState(port, &dcb);
    dcb.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(HostSerialTest, EveryByteValuePassesUnchangedBothWays) {
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<unsigned char>(i);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, all.data(), 256, &done, nullptr));
    EXPECT_EQ(done, 256u);
    EXPECT_EQ(pty.Receive(256), all);

    BYTE buffer[300];
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);  // nothing waits: the read returns at once
    pty.Send(all);
    std::vector<unsigned char> got;
    for (int tries = 0; got.size() < 256 && tries < 200; ++tries) {
        SetCommMask(port, EV_RXCHAR);
        DWORD events = 0;
        ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
        ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &done, nullptr));
        got.insert(got.end(), buffer, buffer + done);
    }
    EXPECT_EQ(got, all);
}

TEST_F(HostSerialTest, TheEventWaitReportsWaitingBytesAndTheirCount) {
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY);
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.Send({0x5A, 0xA5, 0x03});
    });
    DWORD events = 0;
    ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
    sender.join();
    EXPECT_EQ(events & EV_RXCHAR, EV_RXCHAR);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    COMSTAT status{};
    DWORD errors = 1;
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 3u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
}

struct EventWait {
    HANDLE port;
    DWORD events = 0xDEAD;
    BOOL ok = FALSE;
};

DWORD WaitForEvent(LPVOID parameter) {
    auto* wait = static_cast<EventWait*>(parameter);
    wait->ok = WaitCommEvent(wait->port, &wait->events, nullptr);
    return 0;
}

TEST_F(HostSerialTest, AMaskChangeFromAnotherThreadWakesTheWait) {
    SetCommMask(port, EV_RXCHAR);
    EventWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, &wait, 0, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetCommMask(port, EV_RXCHAR);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(wait.ok);
    EXPECT_EQ(wait.events, 0u);
    CloseHandle(thread);
}

TEST_F(HostSerialTest, TerminateThreadInterruptsTheWait) {
    SetCommMask(port, EV_RXCHAR);
    EventWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, &wait, 0, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(TerminateThread(thread, 0));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(wait.events, 0xDEADu);
    CloseHandle(thread);
}

double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

struct HangupWait {
    HANDLE port;
    DWORD first = 0;
    DWORD second = 0xDEAD;
    double cpuMs = 0;
};

DWORD WaitThroughHangup(LPVOID parameter) {
    auto* wait = static_cast<HangupWait*>(parameter);
    WaitCommEvent(wait->port, &wait->first, nullptr);
    double before = ThreadCpuMs();
    WaitCommEvent(wait->port, &wait->second, nullptr);  // sleeps until the mask changes
    wait->cpuMs = ThreadCpuMs() - before;
    return 0;
}

TEST_F(HostSerialTest, AHangUpIsReportedOnceAndDoesNotSpin) {
    DWORD modem = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &modem));
    EXPECT_EQ(modem, MS_RLSD_ON);
    SetCommMask(port, EV_RXCHAR | EV_RLSD);
    HangupWait wait{port};
    HANDLE thread = CreateThread(nullptr, 0, WaitThroughHangup, &wait, 0, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pty.HangUp();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    SetCommMask(port, EV_RXCHAR | EV_RLSD);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(wait.first, EV_RLSD);
    EXPECT_EQ(wait.second, 0u);
    EXPECT_LT(wait.cpuMs, 100.0);  // a spinning wait burns the whole 600 ms
    ASSERT_TRUE(GetCommModemStatus(port, &modem));
    EXPECT_EQ(modem, 0u);  // the change EV_RLSD reported: the far end is gone
    BYTE buffer[4];
    DWORD done = 7;
    EXPECT_TRUE(ReadFile(port, buffer, 4, &done, nullptr));
    EXPECT_EQ(done, 0u);
    CloseHandle(thread);
}

TEST_F(HostSerialTest, AWriteToALineNobodyReadsEndsAtItsTimeout) {
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 100};
    SetCommTimeouts(port, &timeouts);
    std::vector<BYTE> lots(1 << 20, 0x55);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port, lots.data(), static_cast<DWORD>(lots.size()), &done, nullptr));
    EXPECT_GT(done, 0u);
    EXPECT_LT(done, lots.size());
    // Without any write time-out a blocked line still gives the writer back.
    COMMTIMEOUTS none{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &none);
    ASSERT_TRUE(WriteFile(port, lots.data(), static_cast<DWORD>(lots.size()), &done, nullptr));
    EXPECT_LT(done, lots.size());
}

}  // namespace

namespace {

// The whole MCU link over a real pseudo-terminal: the test plays the MCU on the master side.
// The clock runs 50 times faster, so the receive thread's 5-second stop takes 100 ms.
TEST(HostLinkTest, TheMcuLinkTalksOverARealPseudoTerminal) {
    SimPlatform sim;
    PseudoTerminal pty;
    HostComPorts ports{{{2, pty.SlavePath()}}};
    quarrin::platform::RealTimeScheduler fastClock(50.0);
    quarrin::platform::Services services = quarrin::platform::CurrentServices();
    services.scheduler = &fastClock;
    services.devices = &ports;
    quarrin::platform::InstallServices(services);
    {
        linktest::PostCollector posts;
        CoprocessorLink link;
        link.OpenMcuLink();
        link.MCU_CMD_UPDATE_REQUEST();
        EXPECT_EQ(pty.Receive(6), (std::vector<unsigned char>{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC}));
        pty.Send({0x5A, 0xA5});  // an acknowledgement that arrives in two pieces
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.Send({0x02, 0x80, 0x7E, 0x5A, 0xA5, 0x04, 0x95, 0x03, 0xFF, 0x65});
        std::vector<linktest::Post> got;
        for (int i = 0; i < 200 && got.size() < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (auto& post : posts.Take())
                got.push_back(post);
        }
        EXPECT_EQ(got, (std::vector<linktest::Post>{{WM_MCU_MESSAGE, 0, 0x80},
                                                    {WM_MCU_MESSAGE, 0x03FF, 0x95}}));
        link.CloseLink();
        EXPECT_TRUE(linktest::HasLine(sim, L"MCU Rec UnInit TIMEOUT\r\n"));
        EXPECT_TRUE(linktest::HasLine(sim, L"S:5a a5 03 00 01 fc \r\n"));
    }
}

}  // namespace
