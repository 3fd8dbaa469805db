// The course of a boot as the check predicts it, on the simulated platform: the courses that
// no medium brings about on the host today (a restore from the backup), and the dialog's
// chain where a stage runs without its source.
#include <gtest/gtest.h>

#include "check/CoursePrediction.h"
#include "check/SourceChecks.h"
#include "plan/SourceRoots.h"
#include "plan/UpdatePlan.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/ProcessState.h"
#include "tools/mkpackage/PackageWriter.h"

using quarrin::platform::SimPlatform;

namespace {

using Entry = quarrin::package::PackageEntry;

class CoursePredictionTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        sim.PutFile(L"Windows\\zCompress.dll", "");
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "old");
    }
    void PutPackage(const std::wstring& path, const std::vector<Entry>& entries) {
        sim.PutFile(path, "");
        std::string error;
        ASSERT_TRUE(quarrin::package::WritePackage(sim.HostPath(path), {"ZEL-OKUN-1", "R2.0"},
                                                   entries, error))
            << error;
    }
    std::vector<KindReport> Kinds(bool restore) {
        CheckEnvironment environment;
        std::vector<KindReport> kinds;
        for (DWORD kind : {KIND_APP, KIND_NAVI, KIND_MPEG, KIND_MCU}) {
            KindReport report;
            report.kind = kind;
            LocateSource(report, restore && kind == KIND_APP);
            kinds.push_back(report);
        }
        return kinds;
    }
    SimPlatform sim;
};

TEST_F(CoursePredictionTest, ARestoreTakesTheBackupAndItsWording) {
    PutPackage(L"ResidentFlash\\ZEL.bin", {{"ZEL", Entry::Kind::Directory, "", "", ""},
                                           {"ZEL/Velmoran.exe", Entry::Kind::File, "new", "", ""}});
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", "not taken in a restore");
    sim.Files().SetReadOnly(true);
    // What InitInstance decides when the system-file check reports damage.
    StartupDecision decision{UPDATE_APP, true, true, L"damage"};
    std::vector<KindReport> kinds = Kinds(true);
    EXPECT_EQ(kinds[0].source, L"ResidentFlash\\ZEL.bin");
    EXPECT_EQ(kinds[0].search.size(), 1u);
    BootCourse boot = PredictBoot(decision, kinds, CheckEnvironment{});
    ASSERT_EQ(boot.stages.size(), 1u);
    const StageCourse& stage = boot.stages[0];
    EXPECT_EQ(stage.screens.front(), L"准备恢复应用程序，请稍候...");
    EXPECT_EQ(stage.resultText, L"应用程序恢复成功！");
    EXPECT_TRUE(boot.restore);
    EXPECT_EQ(sim.MutationCount(), 0);
}

// Request 0x0C with only the MCU image: the plan starts with MPEG, whose image was never
// loaded, so it fails with the code of a missing MPEG image (43); the MCU stage follows.
TEST_F(CoursePredictionTest, AStageWithoutItsSourceFailsAsTheDialogWould) {
    std::string image(131072, '\x33');
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", image);
    sim.Files().SetReadOnly(true);
    std::vector<KindReport> kinds = Kinds(false);
    BootCourse boot =
        PredictBoot({UPDATE_MPEG | UPDATE_MCU, false, true, L"test"}, kinds, CheckEnvironment{});
    ASSERT_EQ(boot.stages.size(), 2u);
    EXPECT_EQ(boot.stages[0].kind, KIND_MPEG);
    EXPECT_EQ(boot.stages[0].outcome, StageCourse::FAILURE);
    EXPECT_EQ(boot.stages[0].resultText, L"MPEG升级失败！错误码:43\r\n\r\n请再试一次");
    EXPECT_EQ(boot.stages[1].kind, KIND_MCU);
    EXPECT_EQ(boot.stages[1].outcome, StageCourse::SUCCESS);
    EXPECT_EQ(boot.launch, L"nothing in this boot: the unit resets");
    EXPECT_TRUE(boot.failed);
}

TEST_F(CoursePredictionTest, NoSourceWithinTheCountdownStartsTheApplication) {
    sim.Files().SetReadOnly(true);
    BootCourse boot =
        PredictBoot({UPDATE_NAVI, false, true, L"test"}, Kinds(false), CheckEnvironment{});
    EXPECT_TRUE(boot.dialog);
    EXPECT_FALSE(boot.sourcesFound);
    EXPECT_TRUE(boot.stages.empty());
    EXPECT_NE(boot.ending.find(L"正在检测升级文件......(20)"), std::wstring::npos);
    EXPECT_EQ(boot.launch, L"the main application ResidentFlash3\\ZEL\\Velmoran.exe");
    EXPECT_FALSE(boot.failed);
}

}  // namespace
