// Inputs larger than the unit can take: MPEG images at the edges of what the protocol can
// carry, and a worker that runs out of memory. The stage fails with its code; the process
// never does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/QuarrinApp.h"
#include "dialog/FirmwareProtocol.h"
#include "dialog/WorkerGuard.h"
#include "plan/SourceRoots.h"
#include "platform/kernel/Kernel.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;

namespace {

DWORD CloseSoon(LPVOID) {
    Sleep(5000);
    PostMessageW(g_notifyWindow, WM_CLOSE, 0, 0);
    return 0;
}

class ResourceLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDialogProcessState();
        g_mpegSourceRoot = L"Storage Card\\";
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "app");
    }
    void TearDown() override { Stages() = DefaultStages(); }
    void Boot(DWORD request) {
        // A stage that starts waits for its co-processor; the dialog is closed after 5 s.
        CloseHandle(CreateThread(nullptr, 0, CloseSoon, nullptr, 0, nullptr));
        sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat",
                    std::string{static_cast<char>(request), 0, 0, 0});
        CQuarrinApp app;
        app.InitInstance();
        quarrin::kernel::TerminateAllThreads();
    }
    bool Shown(const std::string& text) {
        auto trace = sim.ScreenTrace();
        return std::any_of(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.rfind("TEXT ", 0) == 0 && line.find(text) != std::string::npos;
        });
    }
    bool LoggedStart(const std::wstring& start) {
        auto lines = sim.DebugLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::wstring& line) { return line.rfind(start, 0) == 0; });
    }
    void PutSparseImage(std::uintmax_t bytes) {
        sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", "");
        std::filesystem::resize_file(sim.HostPath(L"SDHC\\ZEL_Update\\DVDROM.bin"), bytes);
    }

    SimPlatform sim;
};

TEST_F(ResourceLimitsTest, AnMpegImageOfMoreThan65535BlocksFailsWith42WithoutBeingRead) {
    PutSparseImage(65536ULL * MPEG_BLOCK_SIZE);
    Boot(UPDATE_MPEG);
    EXPECT_TRUE(Shown("MPEG升级失败！错误码:42"));
    EXPECT_TRUE(LoggedStart(L"MPEG update file unusable: 15728640 bytes"));
    EXPECT_FALSE(LoggedStart(L"Read MPEG update file"));
}

TEST_F(ResourceLimitsTest, AnMpegImageOf65535BlocksIsReadAndSent) {
    PutSparseImage(65535ULL * MPEG_BLOCK_SIZE);
    Boot(UPDATE_MPEG);
    EXPECT_TRUE(LoggedStart(L"Read MPEG update file: 15359k"));
    EXPECT_FALSE(Shown("错误码:42"));
}

DWORD ExhaustedWorker(LPVOID) {
    throw std::bad_alloc();
}

TEST_F(ResourceLimitsTest, AWorkerOutOfMemoryFailsItsStageAndTheApplicationStarts) {
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", std::string(300, '\0'));
    Stages().appWorker = GuardedWorker<ExhaustedWorker>;
    Boot(UPDATE_APP);
    EXPECT_TRUE(Shown("应用程序升级失败！错误码:8"));
    EXPECT_TRUE(LoggedStart(L"Update worker out of memory"));
    auto launches = sim.Launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().devicePath, L"ResidentFlash3\\ZEL\\Velmoran.exe");
}

}  // namespace
