// Update media built to hurt: broken and unsafe application packages, navigation folders
// with links out of the medium and names the card cannot hold. The loader must show a clear
// outcome, exit normally, and write nothing outside the places an update owns.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "tests/reliability/ReliabilitySupport.h"

namespace fs = std::filesystem;
using reliability::Entry;

namespace {

class HostileMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        reliability::LayOutDevice(root);
        sibling = root.Path().parent_path() / (root.Path().filename().string() + "-sibling");
        fs::create_directories(sibling);
        std::ofstream(sibling / "secret.txt") << "secret";
        siblingBefore = reliability::Snapshot(sibling);
    }
    void TearDown() override { fs::remove_all(sibling); }
    std::string SiblingName() const { return sibling.filename().string(); }
    void PutPackage(const std::string& bytes) { root.Put("SDHC/ZEL_Update/ZEL.bin", bytes); }
    // Every path that changed below the device root lies in one of `allowed` folders.
    void ExpectChangesOnlyBelow(const std::map<std::string, std::string>& before,
                                const std::vector<std::string>& allowed) {
        auto after = reliability::Snapshot(root.Path());
        std::set<std::string> paths;
        for (const auto& [path, _] : before)
            paths.insert(path);
        for (const auto& [path, _] : after)
            paths.insert(path);
        for (const std::string& path : paths) {
            auto was = before.find(path);
            auto now = after.find(path);
            bool same = was != before.end() && now != after.end() && was->second == now->second;
            if (same)
                continue;
            bool inside = false;
            for (const std::string& folder : allowed)
                inside |= path.rfind(folder, 0) == 0;
            EXPECT_TRUE(inside) << "changed outside the update's folders: " << path;
        }
        EXPECT_EQ(reliability::Snapshot(sibling), siblingBefore);
    }
    void ExpectAppFailure(const reliability::Boot& boot, int code) {
        EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
        EXPECT_NE(boot.run.out.find("application failed, error code " + std::to_string(code)),
                  std::string::npos)
            << boot.run.out;
        EXPECT_TRUE(boot.Shown("应用程序升级失败！错误码:" + std::to_string(code)));
        EXPECT_TRUE(boot.Logged("Quarrin Quit!")) << boot.run.err;
        EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
    }

    e2e::DeviceRoot root;
    fs::path sibling;
    std::map<std::string, std::string> siblingBefore;
};

// Besides the update's folders, the registry and the start markers of the programs launched.
const std::vector<std::string> kAppFolders = {"ResidentFlash3/", "ResidentFlash2/",
                                              "ResidentFlash/",  "registry.reg",
                                              "app-started",     "shell-started"};

// Such packages once made the install delete the working application before the library had
// read a byte: without a backup, no start ever brought it back.
TEST_F(HostileMediaTest, BrokenPackagesFailTheUpdateAndKeepTheWorkingApplication) {
    std::string good = reliability::BuildPackage(
        {{Entry::Folder, "ZEL", ""}, {Entry::File, "ZEL/Velmoran.exe", std::string(300000, 'x')}});
    std::string noise(100000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919) >> 3);
    struct Case {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"cut inside the archive", good.substr(0, good.size() / 2), 1004},
        {"archive bytes replaced", good.substr(0, 64) + std::string(5000, '\x5a'), 1004},
        {"header only", good.substr(0, 64), 1003},
        {"bytes that are no package", noise, 1003},
    };
    auto installed = reliability::Snapshot(root.Path() / "ResidentFlash3");
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        PutPackage(item.bytes);
        auto before = reliability::Snapshot(root.Path());
        reliability::Boot boot = reliability::BootWith(root, 2);
        ExpectAppFailure(boot, item.code);
        ExpectChangesOnlyBelow(before, kAppFolders);
        EXPECT_EQ(reliability::Snapshot(root.Path() / "ResidentFlash3"), installed);
        EXPECT_TRUE(boot.Logged("CP OK!")) << boot.run.err;
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        fs::remove(root.Path() / "app-started");
    }
    // The medium taken out: the retry finds nothing, and the application starts as before.
    fs::remove_all(root.Path() / "SDHC/ZEL_Update");
    reliability::Boot away = reliability::BootWith(root, 2);
    EXPECT_TRUE(away.Logged("CP OK!")) << away.run.err;
    EXPECT_EQ(reliability::Snapshot(root.Path() / "ResidentFlash3"), installed);
}

TEST_F(HostileMediaTest, EntriesThatLeaveTheDestinationAreRefused) {
    std::string escape = "../../" + SiblingName() + "/escaped.txt";
    std::vector<std::vector<Entry>> packages = {
        {{Entry::Folder, "ZEL", ""}, {Entry::File, escape, "dotdot"}},
        {{Entry::File, "ZEL/../../../" + SiblingName() + "/escaped.txt", "inner dotdot"}},
        {{Entry::File, (sibling / "escaped.txt").string(), "absolute"}},
        {{Entry::Link, "ZEL", "../../" + SiblingName()},
         {Entry::File, "ZEL/escaped.txt", "via link"}},
        {{Entry::Folder, "ZEL", ""}, {Entry::Link, "ZEL/out", "/etc/passwd"}},
    };
    for (std::size_t i = 0; i < packages.size(); ++i) {
        SCOPED_TRACE("package " + std::to_string(i));
        PutPackage(reliability::BuildPackage(packages[i]));
        auto before = reliability::Snapshot(root.Path());
        reliability::Boot boot = reliability::BootWith(root, 2);
        ExpectAppFailure(boot, 1005);
        ExpectChangesOnlyBelow(before, kAppFolders);
        EXPECT_FALSE(fs::exists(sibling / "escaped.txt"));
    }
}

TEST_F(HostileMediaTest, OverlongAndShortHeadersDoNotCrashDiscovery) {
    // A second-layout header whose version fills its field without an ending NUL, and
    // headers cut inside the marker and inside the version.
    std::string archive =
        reliability::BuildPackage({{Entry::File, "ZEL/Velmoran.exe", "x"}}).substr(64);
    std::string full = reliability::PackageHeader("ZEL-OKUN-2", 120) + archive;
    for (const std::string& bytes : {full, full.substr(0, 9), full.substr(0, 40), std::string()}) {
        SCOPED_TRACE(bytes.size());
        PutPackage(bytes);
        auto before = reliability::Snapshot(root.Path());
        reliability::Boot boot = reliability::BootWith(root, 2);
        EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
        EXPECT_TRUE(boot.Logged("Quarrin Quit!")) << boot.run.err;
        EXPECT_FALSE(boot.run.out.empty());
        ExpectChangesOnlyBelow(before, kAppFolders);
    }
}

TEST_F(HostileMediaTest, NavigationLinksOutOfTheMediumAndUnholdableNamesAreNotCopied) {
    root.Put("硬盘/navi_update/maps/good.map", "good");
    root.Put("硬盘/navi_update/maps/bad:name.map", "colon");
    root.Put("硬盘/navi_update/maps/ask?.map", "question");
    root.Put("硬盘/navi_update/maps/" + std::string(250, 'n') + ".map", "long");
    fs::create_directory_symlink(sibling, root.Path() / "硬盘/navi_update/linked-folder");
    fs::create_symlink(sibling / "secret.txt", root.Path() / "硬盘/navi_update/linked-file");
    auto before = reliability::Snapshot(root.Path());
    reliability::Boot boot = reliability::BootWith(root, 0x40);
    EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
    EXPECT_EQ(root.Read("Storage Card/maps/good.map"), "good");
    for (const auto& [path, content] : reliability::Snapshot(root.Path() / "Storage Card")) {
        EXPECT_NE(content, "secret") << path;
        EXPECT_EQ(path.find(':'), std::string::npos) << path;
        EXPECT_EQ(path.find('?'), std::string::npos) << path;
    }
    // Names the device cannot hold are not part of the listing: neither counted nor copied,
    // so the update completes with the files the device can hold.
    EXPECT_EQ(root.Read("Storage Card/maps/" + std::string(250, 'n') + ".map"), "long");
    EXPECT_NE(boot.run.out.find("navigation success"), std::string::npos) << boot.run.out;
    EXPECT_TRUE(boot.Shown("导航升级成功！"));
    EXPECT_TRUE(boot.Logged("CP OK!"));
    ExpectChangesOnlyBelow(before,
                           {"Storage Card/", "ResidentFlash2/", "registry.reg", "app-started"});
}

}  // namespace
