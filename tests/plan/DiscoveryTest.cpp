// Finding update sources: search orders, header fields and what a failed search leaves.
#include <gtest/gtest.h>

#include "plan/SourceRoots.h"
#include "plan/UpdatePlan.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/ProcessState.h"

using quarrin::platform::SimPlatform;

namespace {

std::string Utf16(const std::wstring& text, std::size_t bytes) {
    std::string out(bytes, '\0');
    for (std::size_t i = 0; i < text.size() && 2 * i + 1 < bytes; ++i) {
        out[2 * i] = static_cast<char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>((text[i] >> 8) & 0xFF);
    }
    return out;
}

std::string Package(const std::wstring& marker, const std::wstring& version) {
    return Utf16(marker, 20) + Utf16(version, 240) + std::string(64, 'z');
}

std::string McuImage(const std::string& version, std::size_t size = 131072) {
    std::string image(size, '\x11');
    if (size >= 131047 + 24)
        image.replace(131047, 24, (version + std::string(24, '\0')).substr(0, 24));
    return image;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ResetProcessState(); }
    SimPlatform sim;
    UpdatePlanFields plan;
};

TEST_F(DiscoveryTest, ThePlanStartsWithTheFirstKindByPriority) {
    SetUpdatePlan(plan, UPDATE_MCU | UPDATE_MPEG);
    EXPECT_EQ(plan.m_updateKind, KIND_MPEG);
    EXPECT_STREQ(g_updateFolderName, L"ZEL_Update");
    SetUpdatePlan(plan, UPDATE_NAVI);
    EXPECT_EQ(plan.m_updateKind, KIND_NAVI);
    EXPECT_STREQ(g_updateFolderName, L"navi_update");
    SetUpdatePlan(plan, 0x10);  // no known bit: kind and folder name stay
    EXPECT_EQ(plan.m_updateKind, KIND_NAVI);
    EXPECT_STREQ(g_updateFolderName, L"navi_update");
    EXPECT_EQ(plan.m_updateFlags, 0x10u);
}

TEST_F(DiscoveryTest, OnlyTheSourcesFoundRemainInThePlan) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", McuImage("MCU-V2.17"));
    SetUpdatePlan(plan, 14);
    EXPECT_EQ(DiscoverUpdateSources(plan, plan.m_updateFlags), 1);
    EXPECT_EQ(plan.m_updateFlags, UPDATE_MCU);
    EXPECT_EQ(g_mcuSourceRoot, L"SDHC\\");
    EXPECT_EQ(plan.m_mcuVersion, L"MCU-V2.17");
    EXPECT_EQ(plan.m_updateKind, KIND_APP);  // chosen by the plan, not by discovery
}

TEST_F(DiscoveryTest, VolumesAreSearchedInOrder) {
    sim.PutFile(L"Storage Card\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-1", L"card"));
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-1", L"sdhc"));
    sim.PutFile(L"硬盘\\ZEL_Update\\DVDROM.bin",
                std::string(48, 'x') + "MPEG 1.2" + std::string(8, '\0'));
    EXPECT_EQ(DiscoverUpdateSources(plan, UPDATE_APP | UPDATE_MPEG), 1);
    EXPECT_EQ(g_appSourceRoot, L"Storage Card\\");
    EXPECT_EQ(plan.m_appVersion, L"card");
    EXPECT_EQ(g_mpegSourceRoot, L"硬盘\\");
    EXPECT_EQ(plan.m_mpegVersion, L"MPEG 1.2");
    EXPECT_EQ(plan.m_updateFlags, UPDATE_APP | UPDATE_MPEG);
}

TEST_F(DiscoveryTest, TheMarkerChoosesTheVersionLength) {
    std::wstring longVersion(100, L'v');
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-2", longVersion));
    ASSERT_EQ(DiscoverUpdateSources(plan, UPDATE_APP), 1);
    EXPECT_EQ(plan.m_appVersion, longVersion);
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", Package(L"OTHER", longVersion));
    ASSERT_EQ(DiscoverUpdateSources(plan, UPDATE_APP), 1);
    EXPECT_EQ(plan.m_appVersion, std::wstring(22, L'v'));
}

// Characters past U+FFFF once came out as two replacement characters.
TEST_F(DiscoveryTest, APackageVersionKeepsCharactersBeyondTheBasicPlane) {
    std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    std::wstring lone = {static_cast<wchar_t>(0xD83D)};
    for (const auto& [version, shown] :
         {std::pair{L"V2 " + pair + L"!", std::wstring(L"V2 \U0001F600!")},
          std::pair{L"cut " + lone, L"cut " + lone}}) {
        sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-1", version));
        SetUpdatePlan(plan, UPDATE_APP);
        ASSERT_EQ(DiscoverUpdateSources(plan, plan.m_updateFlags), 1);
        EXPECT_EQ(plan.m_appVersion, shown);
    }
}

TEST_F(DiscoveryTest, AShortImageIsFoundWithAnEmptyVersion) {
    sim.PutFile(L"Storage Card\\ZEL_Update\\MCU", std::string(1000, 'm'));
    EXPECT_EQ(DiscoverUpdateSources(plan, UPDATE_MCU), 1);
    EXPECT_EQ(plan.m_mcuVersion, L"");
}

TEST_F(DiscoveryTest, NavigationDataAloneDecides) {
    sim.PutFile(L"硬盘\\navi_update\\map.dat", "m");
    sim.PutFile(L"SDHC\\navi_update\\map.dat", "m");
    plan.m_updateFlags = UPDATE_NAVI;
    EXPECT_EQ(DiscoverUpdateSources(plan, UPDATE_NAVI), 1);
    EXPECT_EQ(g_naviSourceDir, L"硬盘\\navi_update");
    EXPECT_EQ(plan.m_updateFlags, 0u);

    SimPlatform other;
    other.PutFile(L"Storage Card\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-1", L"v"));
    other.PutDirectory(L"SDHC\\navi_update");  // empty: counts as absent
    g_appSourceRoot = L"x";
    plan.m_updateFlags = UPDATE_NAVI | UPDATE_APP;
    EXPECT_EQ(DiscoverUpdateSources(plan, plan.m_updateFlags), 0);
    EXPECT_EQ(plan.m_updateFlags, UPDATE_NAVI | UPDATE_APP);
    EXPECT_EQ(g_appSourceRoot, L"Storage Card\\");  // recorded on the way
}

// A navigation request beside other kinds was dropped without a word: the log says so now,
// and the plan is as before (the other kinds, in their order).
TEST_F(DiscoveryTest, ANavigationRequestWithOtherKindsIsDroppedAndLogged) {
    for (DWORD mode : {UPDATE_NAVI, UPDATE_APP, UPDATE_MCU | UPDATE_MPEG}) {
        SetUpdatePlan(plan, mode);
        EXPECT_FALSE(NavigationRequestDropped(mode)) << mode;
    }
    EXPECT_TRUE(sim.DebugLines().empty());
    SetUpdatePlan(plan, UPDATE_NAVI | UPDATE_APP);
    EXPECT_TRUE(NavigationRequestDropped(UPDATE_NAVI | UPDATE_APP));
    EXPECT_EQ(plan.m_updateKind, KIND_APP);
    EXPECT_EQ(sim.DebugLines(),
              std::vector<std::wstring>{L"Navigation request dropped: 0x40 runs only alone, not "
                                        L"with 0x2\r\n"});
}

TEST_F(DiscoveryTest, ARestoreLooksOnlyAtTheBackupPackage) {
    g_systemFilesDamaged = true;
    sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", Package(L"ZEL-OKUN-1", L"medium"));
    EXPECT_EQ(DiscoverUpdateSources(plan, UPDATE_APP), 0);
    sim.PutFile(L"ResidentFlash\\ZEL.bin", Package(L"ZEL-OKUN-1", L"backup"));
    EXPECT_EQ(DiscoverUpdateSources(plan, UPDATE_APP), 1);
    EXPECT_EQ(plan.m_appVersion, L"backup");
    EXPECT_EQ(g_appSourceRoot, L"Storage Card\\");
    g_systemFilesDamaged = false;
}

}  // namespace
