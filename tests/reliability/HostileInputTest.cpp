// Hostile files on the unit itself and firmware images of every awkward size: update
// records of any length, a registry file that does not parse, firmware images too short to
// hold their version field.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/reliability/ReliabilitySupport.h"

namespace fs = std::filesystem;

namespace {

TEST(HostileInputTest, UpdateRecordsOfEveryLengthAreReadAndClearedInPlace) {
    // The word 2 asks for an application update; the bytes after it must survive.
    const std::string bytes("\x02\0\0\0\xee\xee\xee\xee", 8);
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        SCOPED_TRACE(length);
        e2e::DeviceRoot root;
        reliability::LayOutDevice(root);
        root.Put("ResidentFlash2/UpdateInfo.dat", bytes.substr(0, length));
        e2e::RunResult run =
            e2e::RunQuarrin({"--root", root.Path().string(), "--clock-rate", "200", "--progress"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::string after = root.Read("ResidentFlash2/UpdateInfo.dat");
        if (length == 0) {
            // An empty record asks for nothing: a direct start, the file untouched.
            EXPECT_EQ(after, "");
            EXPECT_NE(run.err.find("Detect SystemFile Well:"), std::string::npos) << run.err;
            continue;
        }
        // Shorter records read as 2 (missing high bytes are 0) and the update starts.
        EXPECT_NE(run.out.find("detecting update files 20"), std::string::npos) << run.out;
        EXPECT_EQ(after.substr(0, 4), std::string(4, '\0'));
        EXPECT_EQ(after.size(), std::max<std::size_t>(length, 4));
        EXPECT_EQ(after.substr(4), bytes.substr(4, length > 4 ? length - 4 : 0));
    }
}

TEST(HostileInputTest, AMalformedRegistryFileIsReportedAndKept) {
    e2e::DeviceRoot root;
    reliability::LayOutDevice(root);
    const std::string garbage =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X\n\"v\"=dword:zz\n";
    root.Put("registry.reg", garbage);
    std::string keys(144, '\0');
    keys[0] = '\x10';
    root.Put("硬盘/ZEL_Update/Touchkey.bin", keys);
    root.Put("SDHC/ZEL_Update/ZEL.bin", "not a package");
    reliability::Boot boot = reliability::BootWith(root, 2);
    EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
    EXPECT_NE(boot.run.err.find("registry file"), std::string::npos) << boot.run.err;
    EXPECT_EQ(root.Read("registry.reg"), garbage);
    EXPECT_TRUE(boot.Logged("Quarrin Quit!")) << boot.run.err;
}

// Firmware images of every awkward size, with no co-processor at all (no COM port mapped):
// each is discovered and loaded without harm, and each stage ends by itself, on its image's
// size or on its port, so the dialog closes and the main application starts.
TEST(HostileInputTest, FirmwareImagesOfAnySizeAreDiscoveredAndLoadedWithoutHarm) {
    struct SizeCase {
        std::size_t size;
        int mpegCode;  // 42: no image the protocol can carry; 44: the port is not open
        int mcuCode;   // 31: empty; 33: no MCU image; 34: the port is not open
    };
    for (SizeCase c : {SizeCase{0, 42, 31}, SizeCase{1, 42, 33}, SizeCase{33, 42, 33},
                       SizeCase{34, 44, 33}, SizeCase{131071, 44, 34}}) {
        SCOPED_TRACE(c.size);
        e2e::DeviceRoot root;
        reliability::LayOutDevice(root);
        root.Put("SDHC/ZEL_Update/DVDROM.bin", std::string(c.size, '\x7f'));
        root.Put("SDHC/ZEL_Update/MCU", std::string(c.size, '\x7f'));
        auto before = reliability::Snapshot(root.Path());
        reliability::Boot boot = reliability::BootWith(root, 0x0c, std::chrono::seconds(20));
        EXPECT_EQ(boot.run.exitCode, 0) << boot.run.err;
        EXPECT_NE(boot.run.err.find("Read MPEG update file: "), std::string::npos) << boot.run.err;
        EXPECT_NE(boot.run.err.find("Read MCU update file: "), std::string::npos) << boot.run.err;
        EXPECT_TRUE(boot.Shown("MPEG升级失败！错误码:" + std::to_string(c.mpegCode)));
        EXPECT_TRUE(boot.Shown("MCU升级失败！错误码:" + std::to_string(c.mcuCode)));
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        if (c.size == 0) {
            EXPECT_NE(boot.run.err.find("MCU update file is empty"), std::string::npos);
        }
        auto after = reliability::Snapshot(root.Path());
        after.erase("ResidentFlash2/UpdateInfo.dat");
        before.erase("ResidentFlash2/UpdateInfo.dat");
        after.erase("app-started");
        EXPECT_TRUE(reliability::Changes(before, after).empty());
    }
}

}  // namespace
