// Inputs larger than the unit can take: MPEG images at the edges of what the protocol can
// carry, and a worker that runs out of memory. The stage fails with its code; the process
// never does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/QuarrinApp.h"
#include "app/StageTable.h"
#include "dialog/FirmwareProtocol.h"
#include "dialog/WorkerGuard.h"
#include "plan/SourceRoots.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/RegistryFile.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/ProcessState.h"

using quarrin::platform::Registry;
using quarrin::platform::RegistryFile;
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
        testsupport::ResetProcessState();
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

TEST_F(ResourceLimitsTest, AnMpegImageOf65535BlocksIsReadForTheTransfer) {
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

// The registry file is read whole, so only a small regular file is read; anything else gives
// an empty registry whose changes stay in memory, and the odd file is never replaced.
TEST(RegistryFileLimits, ARegistryFileThatIsNotASmallRegularFileIsNeitherReadNorReplaced) {
    const wchar_t kTouch[] = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";
    for (const char* kind : {"pipe", "folder", "17 MiB file"}) {
        SCOPED_TRACE(kind);
        SimPlatform sim;
        std::string path = sim.Root() + "/registry.reg";
        if (kind[0] == 'p') {
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        } else if (kind[0] == 'f') {
            std::filesystem::create_directory(path);
        } else {
            std::ofstream(path) << "Windows Registry Editor Version 5.00\n";
            std::filesystem::resize_file(path, 17 << 20);
        }
        auto status = std::filesystem::status(path);
        RegistryFile file(path, &sim.Files());
        Registry registry(file.Load(), &file);
        EXPECT_FALSE(registry.KeyExists(kTouch));
        registry.CreateKey(kTouch);
        EXPECT_EQ(registry.Set(kTouch, L"MIN_X", REG_DWORD, {7, 0, 0, 0}), ERROR_SUCCESS);
        EXPECT_EQ(registry.Dword(kTouch, L"MIN_X"), 7u);
        EXPECT_EQ(std::filesystem::status(path).type(), status.type());
        if (status.type() == std::filesystem::file_type::regular) {
            EXPECT_EQ(std::filesystem::file_size(path), 17u << 20);
        }
    }
}

TEST(RegistryFileLimits, ASaveNeverWaitsOnAPipeInPlaceOfItsTemporaryFile) {
    SimPlatform sim;
    std::string path = sim.Root() + "/registry.reg";
    ASSERT_EQ(mkfifo((path + ".tmp").c_str(), 0644), 0);
    RegistryFile file(path, &sim.Files());
    Registry registry(file.Load(), &file);
    EXPECT_NE(registry.Set(L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH", L"MIN_X", REG_DWORD,
                           {7, 0, 0, 0}),
              ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
