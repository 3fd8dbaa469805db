// Device trees that hold what a FAT volume cannot: links (loops among them), pipes and device
// nodes, names the card cannot spell, case twins, and images too large to read. The real
// binary must end by itself, start the main application, change nothing outside the folder an
// operation names, and never show a success for work that was not done.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "tests/reliability/ReliabilitySupport.h"

namespace fs = std::filesystem;
using reliability::Entry;

namespace {

constexpr auto kLimit = std::chrono::seconds(30);

// One device, its snapshot before the boot, and the checks every case makes.
class Device {
public:
    Device() { reliability::LayOutDevice(root); }

    fs::path At(const std::string& relative) const { return root.Path() / fs::u8path(relative); }
    void Link(const std::string& relative, const std::string& target) {
        fs::create_directories(At(relative).parent_path());
        fs::create_symlink(fs::u8path(target), At(relative));
    }
    void PutNavigation(const std::string& volume) {
        root.Put(volume + "/navi_update/a.map", "a");
        root.Put(volume + "/navi_update/sub/b.map", "b");
    }
    void PutPackage() {
        std::string app = e2e::MarkerScript(At("app-started"), "new");
        root.Put("SDHC/ZEL_Update/ZEL.bin",
                 reliability::BuildPackage(
                     {{Entry::Folder, "ZEL", ""}, {Entry::File, "ZEL/Velmoran.exe", app}}));
    }
    reliability::Boot Boot(unsigned word, std::size_t memoryLimitKiB = 0) {
        before = reliability::Snapshot(root.Path());
        return reliability::BootWith(root, word, kLimit, memoryLimitKiB);
    }

    // The run ended by itself and started the main application, not the shell.
    void ExpectEndedWithTheApplication(const reliability::Boot& boot) const {
        EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
        EXPECT_TRUE(boot.Logged("Quarrin Quit!")) << boot.run.err;
        EXPECT_TRUE(e2e::WaitForFile(At("app-started")));
        EXPECT_FALSE(fs::exists(At("shell-started")));
    }
    // Nothing changed outside `allowed` (path prefixes), the update record, the registry and
    // the application's start marker.
    void ExpectChangesOnlyBelow(std::vector<std::string> allowed) const {
        allowed.insert(allowed.end(),
                       {"ResidentFlash2/UpdateInfo.dat", "registry.reg", "app-started"});
        for (const std::string& path :
             reliability::Changes(before, reliability::Snapshot(root.Path()))) {
            bool inside = std::any_of(allowed.begin(), allowed.end(),
                                      [&](const std::string& p) { return path.rfind(p, 0) == 0; });
            EXPECT_TRUE(inside) << "changed outside the operation's folder: " << path;
        }
    }

    e2e::DeviceRoot root;
    std::map<std::string, std::string> before;
};

bool IsFifo(const fs::path& path) {
    return fs::is_fifo(fs::symlink_status(path));
}

TEST(HostileTreeTest, LinkLoopsAndLinksToTheCardNeverHangTheNavigationUpdate) {
    struct Case {
        const char* what;
        const char* source;  // volume of the navigation folder
        const char* link;
        const char* target;
        const char* logged;  // the listing's line about the link, if a listing meets it
    } cases[] = {
        {"loop in the source", "SDHC", "SDHC/navi_update/up", "..",
         "Device cannot hold SDHC\\navi_update\\up: a link"},
        {"loop on the card", "硬盘", "Storage Card/loop", ".",
         "Device cannot hold Storage Card\\loop: a link"},
        {"source link to the card", "硬盘", "硬盘/navi_update/card", "../../Storage Card",
         "Device cannot hold 硬盘\\navi_update\\card: a link"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        Device device;
        device.PutNavigation(item.source);
        device.root.Put("Storage Card/old.map", "old");
        device.Link(item.link, item.target);
        reliability::Boot boot = device.Boot(0x40);
        device.ExpectEndedWithTheApplication(boot);
        EXPECT_TRUE(boot.Shown("导航升级成功！")) << boot.run.out;
        EXPECT_TRUE(boot.Logged(item.logged)) << boot.run.err;
        EXPECT_EQ(device.root.Read("Storage Card/a.map"), "a");
        EXPECT_EQ(device.root.Read("Storage Card/sub/b.map"), "b");
        EXPECT_FALSE(fs::exists(device.At("Storage Card/card")));
        EXPECT_FALSE(fs::exists(device.At("Storage Card/old.map")));
        device.ExpectChangesOnlyBelow({"Storage Card/"});
    }
}

TEST(HostileTreeTest, EmptyingTheCardNeverReachesWhatItsLinksLeadTo) {
    Device device;
    device.PutNavigation("硬盘");
    device.root.Put("ResidentFlash/ZEL.bin", "backup package");
    device.Link("Storage Card/app", "../ResidentFlash3/ZEL");
    device.Link("Storage Card/ZEL.bin", "../ResidentFlash/ZEL.bin");
    device.Link("Storage Card/maps/old", "../../ResidentFlash3");
    reliability::Boot boot = device.Boot(0x40);
    device.ExpectEndedWithTheApplication(boot);
    EXPECT_TRUE(boot.Shown("导航升级成功！"));
    EXPECT_EQ(device.root.Read("ResidentFlash/ZEL.bin"), "backup package");
    EXPECT_TRUE(fs::exists(device.At("ResidentFlash3/ZEL/Velmoran.exe")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(device.At("Storage Card/app"))));
    device.ExpectChangesOnlyBelow({"Storage Card/"});
}

// A user puts a real card under the loader by making its volume folder a link to the card's
// mount point; the navigation update empties and fills the card there.
TEST(HostileTreeTest, AVolumeFolderMayBeALinkToARealCard) {
    Device device;
    fs::path card =
        device.root.Path().parent_path() / (device.root.Path().filename().string() + "-card");
    fs::path medium =
        device.root.Path().parent_path() / (device.root.Path().filename().string() + "-medium");
    fs::create_directories(card);
    fs::create_directories(medium / "navi_update" / "sub");
    std::ofstream(card / "old.map") << "old";
    std::ofstream(medium / "navi_update" / "a.map") << "a";
    std::ofstream(medium / "navi_update" / "sub" / "b.map") << "b";
    fs::remove(device.At("Storage Card"));
    fs::remove(device.At("SDHC"));
    fs::create_directory_symlink(card, device.At("Storage Card"));
    fs::create_directory_symlink(medium, device.At("SDHC"));
    auto mediumBefore = reliability::Snapshot(medium);
    reliability::Boot boot = device.Boot(0x40);
    device.ExpectEndedWithTheApplication(boot);
    EXPECT_TRUE(boot.Shown("导航升级成功！")) << boot.run.out;
    EXPECT_TRUE(fs::is_symlink(device.At("Storage Card")));
    EXPECT_EQ(e2e::ReadFile(card / "a.map"), "a");
    EXPECT_EQ(e2e::ReadFile(card / "sub" / "b.map"), "b");
    EXPECT_TRUE(fs::exists(card / "NANDINFO"));
    EXPECT_FALSE(fs::exists(card / "old.map"));
    EXPECT_EQ(reliability::Snapshot(medium), mediumBefore);
    device.ExpectChangesOnlyBelow({});
    fs::remove_all(card);
    fs::remove_all(medium);
}

TEST(HostileTreeTest, AnInstallRemovesLinksInTheApplicationFolderNotWhatTheyLeadTo) {
    Device device;
    device.PutPackage();
    device.root.Put("ResidentFlash2/RawData", "mcu record");
    device.root.Put("ResidentFlash2/TsData.dat", "calibration");
    device.Link("ResidentFlash3/ZEL/loop", "..");
    device.Link("ResidentFlash3/ZEL/data", "../../ResidentFlash2");
    // The success step hands an operating-system image over by renaming the card's "UPD".
    device.root.Put("硬盘/OS_Update/xip.bin", "os image");
    device.Link("Storage Card/UPD", "../ResidentFlash3/ZEL");
    reliability::Boot boot = device.Boot(2);
    device.ExpectEndedWithTheApplication(boot);
    EXPECT_TRUE(boot.Shown("应用程序升级成功！")) << boot.run.out;
    EXPECT_EQ(device.root.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
    EXPECT_EQ(device.root.Read("app-started"), "new\n");
    EXPECT_EQ(device.root.Read("ResidentFlash2/RawData"), "mcu record");
    EXPECT_EQ(device.root.Read("ResidentFlash2/TsData.dat"), "calibration");
    EXPECT_FALSE(fs::exists(fs::symlink_status(device.At("ResidentFlash3/ZEL/loop"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(device.At("ResidentFlash3/ZEL/data"))));
    EXPECT_TRUE(fs::is_symlink(device.At("Storage Card/UPD")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(device.At("Storage Card/UPDOS"))));
    device.ExpectChangesOnlyBelow({"ResidentFlash3/", "ResidentFlash/ZEL.bin"});
}

TEST(HostileTreeTest, SystemFilesThatAreNotFilesAreNeitherReadNorReplaced) {
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "registry file is a pipe" : "registry file links to /dev/zero");
        Device device;
        fs::path registry = device.At("registry.reg");
        if (fifo) {
            ASSERT_EQ(mkfifo(registry.c_str(), 0644), 0);
        } else {
            fs::create_symlink("/dev/zero", registry);
        }
        device.PutPackage();
        device.root.Put("硬盘/ZEL_Update/Touchkey.bin", std::string(144, '\x01'));
        reliability::Boot boot = device.Boot(2);
        device.ExpectEndedWithTheApplication(boot);
        EXPECT_NE(boot.run.err.find("registry starts empty"), std::string::npos) << boot.run.err;
        EXPECT_TRUE(boot.Shown("应用程序升级成功！"));
        EXPECT_EQ(fifo ? IsFifo(registry) : fs::is_symlink(registry), true);
    }

    // A touch-key file that is a pipe is not imported, and the install still completes.
    {
        Device device;
        device.PutPackage();
        fs::create_directories(device.At("硬盘/ZEL_Update"));
        ASSERT_EQ(mkfifo(device.At("硬盘/ZEL_Update/Touchkey.bin").c_str(), 0644), 0);
        reliability::Boot boot = device.Boot(2);
        device.ExpectEndedWithTheApplication(boot);
        EXPECT_TRUE(boot.Shown("应用程序升级成功！"));
        EXPECT_TRUE(boot.Logged("Device cannot hold \\硬盘\\ZEL_Update\\Touchkey.bin: not a file"))
            << boot.run.err;
        EXPECT_TRUE(IsFifo(device.At("硬盘/ZEL_Update/Touchkey.bin")));
    }

    // An update record that is a pipe cannot be read: it counts as missing, and the main
    // application, which exists, starts.
    Device device;
    ASSERT_EQ(mkfifo(device.At("ResidentFlash2/UpdateInfo.dat").c_str(), 0644), 0);
    e2e::RunResult run = e2e::RunProgram(
        QUARRIN_BINARY, {"--root", device.root.Path().string(), "--clock-rate", "200"}, kLimit);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(e2e::WaitForFile(device.At("app-started")));
    EXPECT_TRUE(IsFifo(device.At("ResidentFlash2/UpdateInfo.dat")));
}

TEST(HostileTreeTest, ImagesTooLargeToSendFailWithoutBeingRead) {
    // The loader needs far less than this; an image read whole would need more. A sanitized
    // build cannot run under an address-space limit: there the log shows that nothing was read.
#ifdef QUARRIN_SANITIZED
    constexpr std::size_t kMemoryKiB = 0;
#else
    constexpr std::size_t kMemoryKiB = 200 * 1024;
#endif
    struct Case {
        const char* what;
        std::uintmax_t bytes;
    } cases[] = {
        {"700 MB", 700ULL << 20},
        {"65,536 blocks", 65536ULL * 240},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        Device device;
        fs::path image = device.root.Put("SDHC/ZEL_Update/DVDROM.bin", "");
        fs::resize_file(image, item.bytes);
        reliability::Boot boot = device.Boot(0x08, kMemoryKiB);
        device.ExpectEndedWithTheApplication(boot);
        EXPECT_TRUE(boot.Shown("MPEG升级失败！错误码:42")) << boot.run.out;
        EXPECT_EQ(boot.run.err.find("Read MPEG update file"), std::string::npos) << boot.run.err;
        device.ExpectChangesOnlyBelow({});
    }

    // FAT cannot hold a file of 4 GiB or more: such an image or package is not there for the
    // device, so nothing is flashed or unpacked (today's low 32 bits would be 2,400 bytes).
    Device device;
    fs::resize_file(device.root.Put("SDHC/ZEL_Update/DVDROM.bin", ""), (4ULL << 30) + 2400);
    std::string header = reliability::BuildPackage({{Entry::File, "ZEL/Velmoran.exe", "x"}});
    fs::resize_file(device.root.Put("SDHC/ZEL_Update/ZEL.bin", header), (4ULL << 30) + 100);
    device.root.Put("ResidentFlash/ZEL.bin", "backup package");
    reliability::Boot boot = device.Boot(0x0A, kMemoryKiB);
    device.ExpectEndedWithTheApplication(boot);
    EXPECT_TRUE(boot.Logged("Device cannot hold SDHC\\ZEL_Update\\DVDROM.bin: 4 GiB or more"));
    EXPECT_EQ(boot.run.out.find("preparing"), std::string::npos) << boot.run.out;
    EXPECT_EQ(boot.run.out.find("success"), std::string::npos) << boot.run.out;
    EXPECT_EQ(device.root.Read("ResidentFlash/ZEL.bin"), "backup package");
    device.ExpectChangesOnlyBelow({});
}

TEST(HostileTreeTest, CaseTwinsMakeTheNavigationUpdateReportFilesNotCopied) {
    Device device;
    device.root.Put("硬盘/navi_update/Tile1.dat", "upper");
    device.root.Put("硬盘/navi_update/tile1.dat", "lower");
    device.root.Put("硬盘/navi_update/Maps/x.map", "upper x");
    device.root.Put("硬盘/navi_update/maps/x.map", "lower x");
    device.root.Put("硬盘/navi_update/other.map", "other");
    reliability::Boot boot = device.Boot(0x40);
    device.ExpectEndedWithTheApplication(boot);
    // 5 files counted, 3 copied: the twins of the names first in name order never overwrite
    // them in silence.
    EXPECT_TRUE(boot.Shown("导航升级失败！错误码:20")) << boot.run.out;
    EXPECT_TRUE(
        boot.Logged("Device cannot hold 硬盘\\navi_update\\tile1.dat: same name as "
                    "Tile1.dat but for case"))
        << boot.run.err;
    EXPECT_EQ(device.root.Read("Storage Card/Tile1.dat"), "upper");
    EXPECT_EQ(device.root.Read("Storage Card/Maps/x.map"), "upper x");
    EXPECT_EQ(device.root.Read("Storage Card/other.map"), "other");
    EXPECT_FALSE(fs::exists(device.At("Storage Card/tile1.dat")));
    EXPECT_FALSE(fs::exists(device.At("Storage Card/maps")));
    device.ExpectChangesOnlyBelow({"Storage Card/"});
}

TEST(HostileTreeTest, NamesTheCardCannotSpellAreLoggedAndLeftOut) {
    Device device;
    fs::path source = device.At("硬盘/navi_update");
    fs::create_directories(source / "a:b");
    for (const std::string name : {"\xff.map", "\xfe.map", "back\\slash.map", "a:b/inner.map"})
        std::ofstream(source / name) << "odd";
    device.root.Put("硬盘/navi_update/good.map", "good");
    reliability::Boot boot = device.Boot(0x40);
    device.ExpectEndedWithTheApplication(boot);
    EXPECT_TRUE(boot.Shown("导航升级成功！")) << boot.run.out;
    for (const char* line :
         {"Device cannot hold 硬盘\\navi_update\\<ff>.map: name is not UTF-8",
          "Device cannot hold 硬盘\\navi_update\\<fe>.map: name is not UTF-8",
          "Device cannot hold 硬盘\\navi_update\\back\\slash.map: name holds '\\'",
          "Device cannot hold 硬盘\\navi_update\\a:b: name holds one of : < > "
          "\" | * ?"}) {
        EXPECT_TRUE(boot.Logged(line)) << line << "\n" << boot.run.err;
    }
    std::vector<std::string> copied;
    for (const auto& entry : fs::directory_iterator(device.At("Storage Card")))
        copied.push_back(entry.path().filename().string());
    EXPECT_NE(std::find(copied.begin(), copied.end(), "good.map"), copied.end());
    for (const std::string& name : copied)
        EXPECT_EQ(name.find("\xef\xbf\xbd"), std::string::npos) << name;  // no U+FFFD twin
    device.ExpectChangesOnlyBelow({"Storage Card/"});
}

}  // namespace
