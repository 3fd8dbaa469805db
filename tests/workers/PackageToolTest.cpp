// mkpackage: a folder packed, listed, checked and unpacked by the library gives the folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/sim/SimPlatform.h"
#include "tests/workers/PackageTestSupport.h"

using quarrin::platform::SimPlatform;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string output;
};

ToolRun RunTool(const std::string& arguments) {
    std::string command = std::string(MKPACKAGE_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class PackageToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = fs::path(sim.Root()) / "source";
        fs::create_directories(source / "ZEL" / "res");
        std::ofstream(source / "ZEL" / "Velmoran.exe") << "app";
        std::ofstream(source / "ZEL" / "res" / "字体.ttf") << std::string(100000, 'f');
        package = (fs::path(sim.Root()) / "SDHC" / "ZEL.bin").string();
        fs::create_directories(fs::path(package).parent_path());
    }
    SimPlatform sim;
    fs::path source;
    std::string package;
};

TEST_F(PackageToolTest, APackedFolderListsVerifiesAndUnpacksToTheSameFiles) {
    ToolRun built =
        RunTool("--marker ZEL-OKUN-2 --version 'V3 版' -o " + package + " " + source.string());
    ASSERT_EQ(built.status, 0) << built.output;
    ToolRun listed = RunTool("--list " + package);
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("version V3 版"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("100000  ZEL/res/字体.ttf"), std::string::npos) << listed.output;
    EXPECT_EQ(RunTool("--verify " + package).status, 0);

    InstallZCompress(sim);
    sim.PutDirectory(L"ResidentFlash3");
    ZCompressExports library;
    ASSERT_TRUE(library.Load());
    EXPECT_EQ(library.uncompress(L"SDHC\\ZEL.bin", L"ResidentFlash3\\"), 2);
    EXPECT_TRUE(sim.FileBytes(L"ResidentFlash3\\ZEL\\res\\字体.ttf") == std::string(100000, 'f'));
}

TEST_F(PackageToolTest, DamagedOrHostilePackagesFailVerification) {
    ASSERT_EQ(RunTool("-o " + package + " " + source.string()).status, 0);
    std::string bytes = HostFileBytes(package);
    std::ofstream(package, std::ios::binary | std::ios::trunc)
        << bytes.substr(0, bytes.size() - 30);
    EXPECT_EQ(RunTool("--verify " + package).status, 1);

    std::string error;
    ASSERT_TRUE(quarrin::package::WritePackage(package, {"ZEL-OKUN-1", "V1"},
                                               {File("../escape", "x")}, error));
    ToolRun hostile = RunTool("--verify " + package);
    EXPECT_EQ(hostile.status, 1);
    EXPECT_NE(hostile.output.find("1 unsafe"), std::string::npos) << hostile.output;
}

TEST_F(PackageToolTest, FoldersWithLinksAndOverlongVersionsAreRefused) {
    fs::create_symlink("/etc/passwd", source / "ZEL" / "link");
    EXPECT_EQ(RunTool("-o " + package + " " + source.string()).status, 1);
    fs::remove(source / "ZEL" / "link");
    EXPECT_EQ(
        RunTool("--version " + std::string(23, 'v') + " -o " + package + " " + source.string())
            .status,
        1);
    EXPECT_EQ(RunTool("--marker ZEL-OKUN-2 --version " + std::string(120, 'v') + " -o " + package +
                      " " + source.string())
                  .status,
              0);
}

}  // namespace
