// The real binary's navigation update when the card cannot take the copy as it should: no
// card, a medium that shares the card's storage, source folders no listing can open, and a
// card that keeps old entries. In each case the update must not claim success, and where it
// refuses it must not touch the card or the source.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/support/DeviceLayout.h"
#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::DeviceRoot;

namespace {

using testsupport::kWordZero;

class NaviCardGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* volume : {"Windows", "ResidentFlash2", "Storage Card", "SDHC", "硬盘"})
            fs::create_directories(root.Path() / fs::u8path(volume));
        fs::copy_file(QUARRIN_TOOLS "/fatutil.dll", root.Path() / "Windows" / "fatutil.dll");
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        root.Put("Storage Card/old/map.dat", "old map");
        Request();
    }
    void Request() { root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x40\0\0\0", 4)); }
    fs::path At(const std::string& relative) { return root.Path() / fs::u8path(relative); }
    e2e::RunResult Boot(const std::vector<std::string>& runner = {}) {
        std::vector<std::string> arguments{"--root", root.Path().string(), "--clock-rate", "20",
                                           "--progress"};
        if (runner.empty())
            return e2e::RunQuarrin(arguments);
        std::vector<std::string> all(runner.begin() + 1, runner.end());
        all.push_back(QUARRIN_BINARY);
        all.insert(all.end(), arguments.begin(), arguments.end());
        return e2e::RunProgram(runner.front(), all);
    }
    static bool Logged(const e2e::RunResult& run, const std::string& line) {
        std::vector<std::string> log = e2e::SplitCrLfLines(run.err);
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    static long Count(const std::string& text, const std::string& part) {
        long count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }
    DeviceRoot root;
};

// The stage's outcome as the --progress lines give it.
std::string Outcome(const e2e::RunResult& run) {
    for (const char* outcome : {"navigation success", "navigation failed"}) {
        if (auto at = run.out.find(outcome); at != std::string::npos)
            return run.out.substr(at, run.out.find('\n', at) - at);
    }
    return "no outcome";
}

// Without a card the copy once made a folder "Storage Card" of its own (in the unit's memory)
// and showed success.
TEST_F(NaviCardGuardTest, WithoutACardTheUpdateFailsWith23AndMakesNoVolume) {
    root.Put("硬盘/navi_update/maps/a.map", "a");
    struct Layout {
        const char* name;
        void (*make)(const fs::path& card);
        const char* line;
    };
    const Layout layouts[] = {
        {"no folder", [](const fs::path&) {}, "No card in Storage Card!Error Code:2"},
        {"a link to nothing",
         [](const fs::path& card) { fs::create_directory_symlink(card.string() + "-gone", card); },
         "No card in Storage Card!Error Code:3"},
        {"a file", [](const fs::path& card) { std::ofstream(card) << "x"; },
         "No card in Storage Card!Error Code:267"},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        fs::remove_all(At("Storage Card"));
        layout.make(At("Storage Card"));
        Request();
        e2e::RunResult run = Boot();
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Outcome(run), "navigation failed, error code 23");
        EXPECT_TRUE(Logged(run, layout.line)) << run.err;
        EXPECT_FALSE(fs::is_directory(At("Storage Card")));
        EXPECT_EQ(run.err.find("FormatDevice Begin"), std::string::npos);
        EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero);
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        fs::remove(root.Path() / "app-started");
    }
}

// Two volume links that reach one card reader's folder: the update emptied the card, which
// was its own source, and failed with 21 with every source file gone.
TEST_F(NaviCardGuardTest, ASourceSharingTheCardsStorageIsRefusedWith24AndNothingIsTouched) {
    struct Layout {
        const char* name;
        const char* card;    // where "Storage Card" leads
        const char* medium;  // where "SDHC" leads
        const char* source;  // the navigation folder
        const char* line;
    };
    const Layout layouts[] = {
        {"one folder", "reader", "reader", "reader/navi_update",
         "Navigation source SDHC\\navi_update lies on Storage Card"},
        {"the medium in the card", "reader", "reader/update", "reader/update/navi_update",
         "Navigation source SDHC\\navi_update lies on Storage Card"},
        {"the card in the medium", "reader/navi_update/card", "reader", "reader/navi_update",
         "Navigation source SDHC\\navi_update holds Storage Card"},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        for (const char* volume : {"Storage Card", "SDHC", "reader"})
            fs::remove_all(At(volume));
        root.Put(std::string(layout.source) + "/maps/a.map", "a");
        root.Put(std::string(layout.source) + "/b.map", "b");
        root.Put(std::string(layout.card) + "/old.map", "old");
        fs::create_directories(At(layout.medium));
        fs::create_directory_symlink(At(layout.card), At("Storage Card"));
        fs::create_directory_symlink(At(layout.medium), At("SDHC"));
        Request();
        e2e::RunResult run = Boot();
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Outcome(run), "navigation failed, error code 24");
        EXPECT_TRUE(Logged(run, layout.line)) << run.err;
        EXPECT_EQ(root.Read(std::string(layout.source) + "/maps/a.map"), "a");
        EXPECT_EQ(root.Read(std::string(layout.source) + "/b.map"), "b");
        EXPECT_EQ(root.Read(std::string(layout.card) + "/old.map"), "old");
        EXPECT_EQ(run.err.find("FormatDevice Begin"), std::string::npos);
        EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero);
    }
}

// A file deeper than one host path can name was neither counted nor copied, and the update
// showed success without it.
TEST_F(NaviCardGuardTest, AFolderBeyondTheHostsPathLimitIsNamedAndFailsWith20) {
    root.Put("硬盘/navi_update/a.map", "a");
    e2e::PutDeepFile(At("硬盘/navi_update/deep"), 80, "leaf.dat", "leaf");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Outcome(run), "navigation failed, error code 20");
    EXPECT_EQ(Count(run.err, "Failed!Error Code:206"), 1) << "named once: " << run.err;
    EXPECT_NE(run.err.find("FindFirstFile 硬盘\\navi_update\\deep\\ddd"), std::string::npos);
    EXPECT_EQ(root.Read("Storage Card/a.map"), "a") << "the rest is copied";
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

// Without the formatter the deletion leaves a folder whose name begins with a dot: the old
// data stayed beside the new, and the update showed success.
TEST_F(NaviCardGuardTest, OldEntriesLeftOnTheCardFailTheUpdateWith20) {
    fs::remove(At("Windows/fatutil.dll"));
    root.Put("Storage Card/.trash/old.map", "old");
    root.Put("硬盘/navi_update/a.map", "a");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Outcome(run), "navigation failed, error code 20");
    EXPECT_TRUE(Logged(run, "Storage Card not emptied: 1 entries left, first .trash")) << run.err;
    EXPECT_EQ(root.Read("Storage Card/a.map"), "a") << "the new data arrive all the same";
    EXPECT_FALSE(fs::exists(At("Storage Card/old"))) << "what could go is gone";
}

// Folders the loader may not read, as on a card whose file system cannot read one: the loader
// runs as an unprivileged user (a privileged one reads every folder).
class UnreadableFolderTest : public NaviCardGuardTest {
protected:
    void SetUp() override {
        NaviCardGuardTest::SetUp();
        if (geteuid() == 0 && !fs::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "needs setpriv to run the loader unprivileged";
    }
    // Made unreadable once the tree belongs to the user the loader runs as.
    void Restrict(const std::string& folder, fs::perms mode) {
        m_restricted.push_back({folder, mode});
    }
    // Runs the loader as "nobody", owner of the device tree, when the test runs privileged;
    // the folders' modes change last and are restored after the run.
    e2e::RunResult BootRestricted() {
        if (geteuid() == 0) {
            fs::permissions(root.Path(),
                            fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
            for (const auto& entry : fs::recursive_directory_iterator(root.Path()))
                lchown(entry.path().c_str(), 65534, 65534);
            lchown(root.Path().c_str(), 65534, 65534);
        }
        for (const auto& [folder, mode] : m_restricted)
            fs::permissions(At(folder), mode);
        e2e::RunResult run =
            geteuid() == 0
                ? Boot({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"})
                : Boot();
        for (const auto& [folder, mode] : m_restricted)
            fs::permissions(At(folder), fs::perms::owner_all);
        return run;
    }

private:
    std::vector<std::pair<std::string, fs::perms>> m_restricted;
};

TEST_F(UnreadableFolderTest, SourceFoldersThatCannotBeListedAreNamedAndFailWith20) {
    for (int i = 0; i < 3; ++i) {
        root.Put("硬盘/navi_update/maps/north/n" + std::to_string(i) + ".map", "n");
        root.Put("硬盘/navi_update/maps/south/s" + std::to_string(i) + ".map", "s");
        root.Put("硬盘/navi_update/maps/west/w" + std::to_string(i) + ".map", "w");
    }
    Restrict("硬盘/navi_update/maps/north", fs::perms::none);
    // Readable but not searchable: the names can be read, the entries cannot be examined.
    Restrict("硬盘/navi_update/maps/south", fs::perms::owner_read);
    e2e::RunResult run = BootRestricted();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Outcome(run), "navigation failed, error code 20");
    EXPECT_TRUE(Logged(run, "Total File Count:3")) << run.err;
    EXPECT_EQ(Count(run.err, "FindFirstFile 硬盘\\navi_update\\maps\\north Failed!Error Code:5"), 1)
        << run.err;
    EXPECT_EQ(Count(run.err, "FindFirstFile 硬盘\\navi_update\\maps\\south Failed!Error Code:5"), 1)
        << run.err;
    EXPECT_EQ(root.Read("Storage Card/maps/west/w2.map"), "w");
}

TEST_F(UnreadableFolderTest, ACardFolderNothingCanRemoveFailsTheUpdateWith20) {
    root.Put("Storage Card/locked/old.map", "old");
    root.Put("硬盘/navi_update/a.map", "a");
    Restrict("Storage Card/locked", fs::perms::none);
    e2e::RunResult run = BootRestricted();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Outcome(run), "navigation failed, error code 20");
    EXPECT_TRUE(Logged(run, "FindFirstFile Storage Card\\locked Failed!Error Code:5")) << run.err;
    EXPECT_TRUE(Logged(run, "Storage Card not emptied: 1 entries left, first locked")) << run.err;
    EXPECT_EQ(root.Read("Storage Card/a.map"), "a");
}

}  // namespace
