// The update dialog on the virtual clock: countdown, progress reactions, chaining, the reset
// countdown and shutdown. Stage work is played by small fakes that post what a worker or a
// co-processor protocol would.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/QuarrinApp.h"
#include "app/StageTable.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "platform/kernel/Kernel.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/DeviceLayout.h"
#include "tests/support/ProcessState.h"

using quarrin::platform::SimPlatform;

namespace {

using testsupport::Word;

struct Post {
    DWORD delay;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Post> g_script;
std::vector<DWORD> g_stageStarts;

DWORD ScriptedWorker(LPVOID) {
    for (const Post& post : g_script) {
        Sleep(post.delay);
        if (post.wParam != 1)
            g_updateErrorCode = 12;
        PostMessageW(g_notifyWindow, WM_UPDATE_PROGRESS, post.wParam, post.lParam);
    }
    return 0;
}

// A firmware stage that ends at once with the given outcome, as the protocol would.
template <int Outcome>
void FinishFirmwareStage(CUpdateDialog& dialog) {
    g_stageStarts.push_back(dialog.m_updateKind);
    dialog.m_outcome = Outcome;
    dialog.m_screenState = STATE_RESULT;
    if (Outcome == OUTCOME_FAILED)
        g_updateErrorCode = 40;
    dialog.SetTimer(TIMER_SHOW_RESULT, 1000, nullptr);
}

DWORD RecordingWorker(LPVOID) {
    g_stageStarts.push_back(KIND_APP);
    PostMessageW(g_notifyWindow, WM_UPDATE_PROGRESS, 0, 0);
    return 0;
}

class UpdateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        Stages() = StageStarters{};
        g_script.clear();
        g_stageStarts.clear();
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "app");
        sim.AddTaskBar();
    }
    void TearDown() override { Stages() = DefaultStages(); }

    void Boot(DWORD request) {
        sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(request));
        CQuarrinApp app;
        app.InitInstance();
        quarrin::kernel::TerminateAllThreads();  // helper threads of the test end here
    }
    std::vector<std::string> Texts(const std::string& prefix = "") {
        std::vector<std::string> texts;
        for (const std::string& line : sim.ScreenTrace()) {
            if (line.rfind("TEXT ", 0) != 0)
                continue;
            std::string text = line.substr(line.find(' ', 5) + 1);
            if (text.rfind(prefix, 0) == 0)
                texts.push_back(text);
        }
        return texts;
    }
    int Presents() {
        auto trace = sim.ScreenTrace();
        return static_cast<int>(std::count_if(trace.begin(), trace.end(), [](const std::string& l) {
            return l.rfind("PRESENT ", 0) == 0;
        }));
    }
    bool Logged(const wchar_t* line) {
        auto lines = sim.DebugLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    SimPlatform sim;
};

TEST_F(UpdateDialogTest, WithoutAMediumTheCountdownRunsOutAndTheApplicationStarts) {
    std::uint64_t start = sim.NowMs();
    Boot(UPDATE_MCU);
    std::vector<std::string> countdown = Texts("正在检测升级文件");
    ASSERT_EQ(countdown.size(), 20u);
    EXPECT_EQ(countdown.front(), "正在检测升级文件......(20)\\r\\n");
    EXPECT_EQ(countdown.back(), "正在检测升级文件......(1)\\r\\n");
    EXPECT_EQ(Texts("please copy").front(), "please copy update files to folder ZEL_Update\\r\\n");
    EXPECT_EQ(Texts("请将升级文件").front(), "请将升级文件拷贝到SD卡的ZEL_Update目录下\\r\\n");
    EXPECT_EQ(sim.NowMs() - start, 20000u);
    auto lines = sim.DebugLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 3], L"Quarrin Release Object...\r\n");
    EXPECT_EQ(lines[lines.size() - 2], L"CP OK!\r\n");
    EXPECT_EQ(lines.back(), L"Quarrin Quit!\r\n");
    EXPECT_EQ(sim.TaskBarCommands(), (std::vector<int>{SW_HIDE, SW_SHOW}));
    ASSERT_EQ(sim.Launches().size(), 1u);
}

DWORD InsertCardLater(LPVOID parameter) {
    Sleep(5500);
    static_cast<SimPlatform*>(parameter)->PutFile(L"SDHC\\ZEL_Update\\ZEL.bin",
                                                  std::string(300, '\0'));
    return 0;
}

TEST_F(UpdateDialogTest, AMediumInsertedDuringTheCountdownIsFoundOnTheNextTick) {
    Stages().appWorker = ScriptedWorker;
    g_script = {{0, 1, 0}, {100, 1, 50}, {100, 1, PROGRESS_DONE}};
    CloseHandle(CreateThread(nullptr, 0, InsertCardLater, &sim, 0, nullptr));
    Boot(UPDATE_APP);
    std::vector<std::string> countdown = Texts("正在检测升级文件");
    ASSERT_EQ(countdown.size(), 6u);  // 20 at the start, then 19..15; found at 6 s
    EXPECT_EQ(countdown.back(), "正在检测升级文件......(15)\\r\\n");
    EXPECT_EQ(Texts("准备升级应用程序").size(), 1u);
    EXPECT_EQ(Texts("应用程序升级成功").size(), 1u);
    EXPECT_EQ(g_appSourceRoot, L"SDHC\\");
}

TEST_F(UpdateDialogTest, ProgressMovesThePercentAndTheScreenAsPosted) {
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", std::string(300, '\0'));
    Stages().appWorker = ScriptedWorker;
    g_script = {{10, 1, 0},
                {10, 1, 10},
                {10, 1, 10},
                {10, 1, 50},
                {10, 1, PROGRESS_BACKUP},
                {10, 1, 70},
                {10, 1, 100},
                {500, 1, PROGRESS_DONE}};
    Boot(UPDATE_APP);
    EXPECT_EQ(Texts("正在升级应用程序").size(),
              2u);  // 10 and 50; a repeated or unchanged percent paints nothing
    std::vector<std::string> percents;
    for (const std::string& text : Texts()) {
        if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
            percents.push_back(text);
    }
    EXPECT_EQ(percents, (std::vector<std::string>{"10%", "50%"}));
    // The backup text stays while the percent still moves.
    EXPECT_EQ(Texts("正在备份应用程序").size(), 3u);
    EXPECT_EQ(Texts("应用程序升级成功").size(), 1u);
    std::vector<std::wstring> expected{L"application preparing", L"application 10%",
                                       L"application 50%", L"application backup",
                                       L"application success"};
    EXPECT_EQ(sim.ProgressLines(), expected);
    auto trace = sim.ScreenTrace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "ROUNDRECT 150,320,646,340"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "ROUNDRECT 150,320,398,340"), trace.end());
}

TEST_F(UpdateDialogTest, AFailureShowsTheStoredCodeAtOnce) {
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", std::string(300, '\0'));
    Stages().appWorker = ScriptedWorker;
    g_script = {{10, 0, 0}};
    Boot(UPDATE_APP);
    EXPECT_EQ(Texts("应用程序升级失败"),
              std::vector<std::string>{"应用程序升级失败！错误码:12\\r\\n\\r\\n请再试一次"});
}

TEST_F(UpdateDialogTest, StagesChainApplicationMpegMcuWhateverTheirOutcome) {
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", std::string(300, '\0'));
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(131072, '\0'));
    sim.PutFile(L"SDHC\\ZEL_Update\\DVDROM.bin", std::string(480, '\0'));
    Stages().appWorker = RecordingWorker;
    Stages().startMpeg = FinishFirmwareStage<OUTCOME_FAILED>;
    Stages().startMcu = FinishFirmwareStage<OUTCOME_FAILED>;
    Boot(UPDATE_APP | UPDATE_MCU | UPDATE_MPEG);
    EXPECT_EQ(g_stageStarts, (std::vector<DWORD>{KIND_APP, KIND_MPEG, KIND_MCU}));
    EXPECT_EQ(Texts("MCU升级失败").size(), 1u);
    EXPECT_TRUE(Logged(L"Read MPEG update file: 0k\r\n"));
    EXPECT_TRUE(Logged(L"Read MCU update file: 128k\r\n"));
    EXPECT_TRUE(Logged(L"Quarrin Quit!\r\n"));
}

DWORD CloseLater(LPVOID) {
    Sleep(60000);
    PostMessageW(g_notifyWindow, WM_CLOSE, 0, 0);
    return 0;
}

TEST_F(UpdateDialogTest, AGoodMcuStageEndsOnTheResetCountdownAndStaysOpen) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(131072, '\0'));
    Stages().startMcu = FinishFirmwareStage<OUTCOME_SUCCESS>;
    CloseHandle(CreateThread(nullptr, 0, CloseLater, nullptr, 0, nullptr));
    std::uint64_t start = sim.NowMs();
    Boot(UPDATE_MCU);
    std::vector<std::string> countdown = Texts("系统即将复位");
    ASSERT_EQ(countdown.size(), 31u);
    EXPECT_EQ(countdown.front(), "系统即将复位，请拔出升级卡！(30)");
    EXPECT_EQ(countdown.back(), "系统即将复位，请拔出升级卡！(0)");
    EXPECT_EQ(sim.NowMs() - start, 60000u);  // closed only from outside
    EXPECT_EQ(Texts("MCU升级成功").size(), 1u);
}

DWORD PressKeys(LPVOID) {
    Sleep(1500);
    PostMessageW(g_notifyWindow, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(g_notifyWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    return 0;
}

TEST_F(UpdateDialogTest, EnterAndEscapeNeverEndTheDialog) {
    CloseHandle(CreateThread(nullptr, 0, PressKeys, nullptr, 0, nullptr));
    std::uint64_t start = sim.NowMs();
    Boot(UPDATE_MPEG);
    EXPECT_EQ(sim.NowMs() - start, 20000u);
}

TEST_F(UpdateDialogTest, TheWideLayoutUsesItsOwnRectangles) {
    sim.SetScreenSize(1024, 600);
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", std::string(300, '\0'));
    Stages().appWorker = ScriptedWorker;
    g_script = {{10, 1, 50}, {10, 1, PROGRESS_DONE}};
    Boot(UPDATE_APP);
    auto trace = sim.ScreenTrace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "ROUNDRECT 262,380,510,400"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(),
                        "TEXT 0,80,1024,120 please copy update files to folder ZEL_Update\\r\\n"),
              trace.end());
}

}  // namespace
