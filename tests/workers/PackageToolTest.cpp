// mkpackage: a folder packed, listed, checked and unpacked by the library gives the folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/sim/SimPlatform.h"
#include "tests/workers/PackageTestSupport.h"
#include "tools/package/PackageFormat.h"

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
    ASSERT_TRUE(quarrin::package::WritePackage(
        package, {"ZEL-OKUN-1", "V1"},
        {File("ZEL/Velmoran.exe", "app"), File("../escape", "x"), File("/abs", "x")}, error));
    ToolRun hostile = RunTool("--verify " + package);
    EXPECT_EQ(hostile.status, 1);
    EXPECT_NE(hostile.output.find("entry '../escape' would be refused"), std::string::npos)
        << hostile.output;
    EXPECT_NE(hostile.output.find("entry '/abs' would be refused"), std::string::npos)
        << hostile.output;
    EXPECT_NE(hostile.output.find("(2 refused entries)"), std::string::npos) << hostile.output;
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

TEST_F(PackageToolTest, AFolderWithoutTheApplicationIsNotPacked) {
    fs::rename(source / "ZEL" / "Velmoran.exe", source / "ZEL" / "Velmoran.txt");
    ToolRun built = RunTool("-o " + package + " " + source.string());
    EXPECT_EQ(built.status, 1);
    EXPECT_NE(built.output.find("no ZEL/Velmoran.exe"), std::string::npos) << built.output;
    EXPECT_FALSE(fs::exists(package));
}

// A package the unit's installer refuses is refused by the builder (when a host folder can
// hold it) and by the check as well, which names the entry.
struct RefusedPackage {
    const char* name;
    std::vector<PackageEntry> entries;
    std::string named;  // what the check's complaint must contain
    int unpackResult;
    bool packable;  // a host folder can hold these entries
};

void PrintTo(const RefusedPackage& refused, std::ostream* os) {
    *os << refused.name;
}

class RefusedPackageTest : public PackageToolTest,
                           public ::testing::WithParamInterface<RefusedPackage> {};

TEST_P(RefusedPackageTest, IsRefusedByTheBuilderTheCheckAndTheInstaller) {
    const RefusedPackage& refused = GetParam();
    std::string error;
    ASSERT_TRUE(
        quarrin::package::WritePackage(package, {"ZEL-OKUN-1", "V1"}, refused.entries, error))
        << error;
    ToolRun verified = RunTool("--verify " + package);
    EXPECT_EQ(verified.status, 1) << verified.output;
    EXPECT_NE(verified.output.find(refused.named), std::string::npos) << verified.output;

    InstallZCompress(sim);
    sim.PutDirectory(L"ResidentFlash3");
    ZCompressExports library;
    ASSERT_TRUE(library.Load());
    EXPECT_EQ(library.uncompress(L"SDHC\\ZEL.bin", L"ResidentFlash3\\"), refused.unpackResult);

    if (!refused.packable)
        return;
    fs::path folder = fs::path(sim.Root()) / "refused";
    for (const PackageEntry& entry : refused.entries) {
        if (entry.kind == PackedKind::Directory) {
            fs::create_directories(folder / entry.path);
        } else {
            fs::create_directories((folder / entry.path).parent_path());
            std::ofstream(folder / entry.path) << entry.data;
        }
    }
    fs::remove(package);
    ToolRun built = RunTool("-o " + package + " " + folder.string());
    EXPECT_EQ(built.status, 1) << built.output;
    EXPECT_NE(built.output.find(refused.named), std::string::npos) << built.output;
    EXPECT_FALSE(fs::exists(package));
}

using quarrin::package::UNPACK_NO_PROGRAM;
using quarrin::package::UNPACK_UNSAFE_ENTRY;
const PackageEntry kProgram = File("ZEL/Velmoran.exe", "app");

INSTANTIATE_TEST_SUITE_P(
    Packages, RefusedPackageTest,
    ::testing::Values(RefusedPackage{"DeviceName",
                                     {kProgram, File("ZEL/aux.h", "x")},
                                     "'ZEL/aux.h'",
                                     UNPACK_UNSAFE_ENTRY,
                                     true},
                      RefusedPackage{"ComPort",
                                     {kProgram, File("ZEL/com1.txt", "x")},
                                     "'ZEL/com1.txt'",
                                     UNPACK_UNSAFE_ENTRY,
                                     true},
                      RefusedPackage{"TrailingDot",
                                     {kProgram, File("ZEL/notes.", "x")},
                                     "'ZEL/notes.'",
                                     UNPACK_UNSAFE_ENTRY,
                                     true},
                      RefusedPackage{"LongName",
                                     {kProgram, File("ZEL/" + std::string(256, 'n'), "x")},
                                     "'ZEL/" + std::string(256, 'n') + "'",
                                     UNPACK_UNSAFE_ENTRY,
                                     false},
                      RefusedPackage{
                          "Link",
                          {kProgram, PackageEntry{"ZEL/lib", PackedKind::Symlink, "", "", "/etc"}},
                          "'ZEL/lib'",
                          UNPACK_UNSAFE_ENTRY,
                          false},
                      RefusedPackage{"FileAndFolderOfOneName",
                                     {kProgram, File("ZEL/Data", "x"), File("ZEL/data/map", "y")},
                                     "'ZEL/data",
                                     UNPACK_UNSAFE_ENTRY,
                                     true},
                      RefusedPackage{"NoApplication",
                                     {Folder("ZEL"), File("ZEL/readme.txt", "x")},
                                     "no ZEL/Velmoran.exe",
                                     UNPACK_NO_PROGRAM,
                                     true},
                      RefusedPackage{"ApplicationOutsideZel",
                                     {Folder("app"), File("app/Velmoran.exe", "x")},
                                     "no ZEL/Velmoran.exe",
                                     UNPACK_NO_PROGRAM,
                                     true},
                      RefusedPackage{"Empty", {}, "no ZEL/Velmoran.exe", UNPACK_NO_PROGRAM, false}),
    [](const auto& info) { return std::string(info.param.name); });

// What `tar -C folder -c .` writes: the folder itself as "./", then "./"-prefixed names.
TEST_F(PackageToolTest, EntriesPrefixedWithTheCurrentFolderAreAcceptedByTheCheckAndTheInstaller) {
    std::string error;
    ASSERT_TRUE(quarrin::package::WritePackage(
        package, {"ZEL-OKUN-1", "V1"},
        {Folder("./"), Folder("./ZEL/"), File("./ZEL/Velmoran.exe", "app"),
         File("./ZEL/./res/a.dat", "a")},
        error));
    ToolRun verified = RunTool("--verify " + package);
    EXPECT_EQ(verified.status, 0) << verified.output;

    InstallZCompress(sim);
    sim.PutDirectory(L"ResidentFlash3");
    ZCompressExports library;
    ASSERT_TRUE(library.Load());
    EXPECT_EQ(library.uncompress(L"SDHC\\ZEL.bin", L"ResidentFlash3\\"), 2);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "app");
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\res\\a.dat"), "a");
}

}  // namespace
