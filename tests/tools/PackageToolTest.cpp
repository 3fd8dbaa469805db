// mkpackage: a folder packed, listed, checked and unpacked by the library gives the folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/sim/SimPlatform.h"
#include "tests/support/E2eSupport.h"
#include "tests/support/PackageTestSupport.h"
#include "tools/package/PackageFormat.h"

using quarrin::platform::SimPlatform;
namespace fs = std::filesystem;

namespace {

using ToolRun = e2e::ShellRun;

// `shell` runs before the tool in the same shell (a resource limit, say).
ToolRun RunTool(const std::string& arguments, const std::string& shell = "") {
    return e2e::RunShell(shell + std::string(MKPACKAGE_PATH) + " " + arguments + " 2>&1");
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
    std::string bytes = e2e::ReadFile(package);
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

std::string RandomBytes(std::size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::vector<fs::path> LeftoversBeside(const std::string& file) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
        if (entry.path().filename().string().find(".partial") != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

// A package that cannot be written whole leaves the earlier one at its place untouched: a
// full card (here a file size limit) or a stop halfway.
TEST_F(PackageToolTest, AFailedWriteLeavesTheEarlierPackageAsItWas) {
    ASSERT_EQ(RunTool("--version GOOD -o " + package + " " + source.string()).status, 0);
    const std::string good = e2e::ReadFile(package);
    std::ofstream(source / "ZEL" / "maps.dat", std::ios::binary) << RandomBytes(3 << 20);

    ToolRun full = RunTool("-o " + package + " " + source.string(),
                           "trap '' XFSZ; ulimit -f 2048; ");  // 1 MiB
    EXPECT_EQ(full.status, 1) << full.output;
    EXPECT_NE(full.output.find(package + ": File too large"), std::string::npos) << full.output;
    EXPECT_EQ(e2e::ReadFile(package), good);
    EXPECT_EQ(LeftoversBeside(package), std::vector<fs::path>{});

    ToolRun stopped = RunTool("-o " + package + " " + source.string(), "ulimit -f 2048; ");
    EXPECT_NE(stopped.status, 0) << stopped.output;  // stopped by SIGXFSZ
    EXPECT_EQ(e2e::ReadFile(package), good);
    EXPECT_EQ(LeftoversBeside(package), std::vector<fs::path>{});
    EXPECT_EQ(RunTool("--verify " + package).status, 0);
}

TEST_F(PackageToolTest, ReplacingAPackageKeepsLinksPipesAndPermissions) {
    fs::path real = fs::path(sim.Root()) / "real.bin";
    std::ofstream(real) << "old";
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, package);
    ASSERT_EQ(RunTool("-o " + package + " " + source.string()).status, 0);
    EXPECT_TRUE(fs::is_symlink(package));
    EXPECT_EQ(RunTool("--verify " + real.string()).status, 0);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A pipe (or a device) is written into, never replaced by a file.
    fs::path pipe = fs::path(sim.Root()) / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string streamed;
    std::thread reader([&] { streamed = e2e::ReadFile(pipe.string()); });
    ToolRun piped = RunTool("-o " + pipe.string() + " " + source.string());
    reader.join();
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_TRUE(fs::is_fifo(pipe));
    std::ofstream(package, std::ios::binary | std::ios::trunc) << streamed;
    EXPECT_EQ(RunTool("--verify " + package).status, 0);

    ToolRun folder = RunTool("-o " + sim.Root() + " " + source.string());
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.output.find("is a folder"), std::string::npos) << folder.output;
}

// Output the packed folder holds would be packed into the next package; a version text the
// screen cannot show and a file no FAT volume can hold are refused before anything is written.
TEST_F(PackageToolTest, UnusableOutputsVersionsAndFileSizesAreRefused) {
    std::string inside = (source / "ZEL.bin").string();
    ToolRun packsItself = RunTool("-o " + inside + " " + source.string());
    EXPECT_EQ(packsItself.status, 1);
    EXPECT_NE(packsItself.output.find("lies inside"), std::string::npos) << packsItself.output;
    EXPECT_EQ(
        RunTool("-o " + (source / "ZEL" / ".." / "x.bin").string() + " " + source.string()).status,
        1);
    EXPECT_FALSE(fs::exists(inside));

    // A stray byte, a cut-off sequence, a surrogate, an overlong '/'.
    for (const char* version : {"\\377", "V\\344", "\\355\\240\\200", "\\300\\257"}) {
        ToolRun bad = RunTool("--version \"$(printf '" + std::string(version) + "')\" -o " +
                              package + " " + source.string());
        EXPECT_EQ(bad.status, 1) << version;
        EXPECT_NE(bad.output.find("not UTF-8"), std::string::npos) << bad.output;
    }
    EXPECT_EQ(RunTool("--version V2.1-版本😀 -o " + package + " " + source.string()).status, 0);

    std::ofstream(source / "ZEL" / "huge.dat").close();
    fs::resize_file(source / "ZEL" / "huge.dat", std::uintmax_t{1} << 32);  // sparse
    ToolRun huge = RunTool("-o " + package + " " + source.string());
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.output.find("huge.dat: 4294967296 bytes"), std::string::npos) << huge.output;
    EXPECT_EQ(RunTool("--list " + package).output.find("huge.dat"), std::string::npos);
}

TEST_F(PackageToolTest, ListingAPipeOrAFolderAnswersAtOnce) {
    fs::path pipe = fs::path(sim.Root()) / "pipe.bin";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (std::string option : {"--list ", "--verify "}) {
        ToolRun piped = RunTool(option + pipe.string(), "timeout 10 ");  // no writer ever comes
        EXPECT_EQ(piped.status, 1) << piped.output;
        EXPECT_NE(piped.output.find("pipe.bin: not a regular file"), std::string::npos)
            << piped.output;
        ToolRun folder = RunTool(option + source.string());
        EXPECT_NE(folder.output.find("source: is a folder"), std::string::npos) << folder.output;
    }
}

// A file whose length differs from what its size said when it was opened (a log still
// written to, a file cut meanwhile) fails the package and names the file. The kernel's
// own files do this every time: those under /proc say 0 bytes and hold more, those
// under /sys say 4096 and hold less.
TEST_F(PackageToolTest, AFileThatChangesWhileItIsPackedFailsThePackage) {
    const std::string grows = "/proc/self/status";
    const std::string shrinks = "/sys/devices/system/cpu/online";
    for (const std::string& changing : {grows, shrinks}) {
        struct stat info {};
        if (stat(changing.c_str(), &info) != 0)
            continue;
        PackageEntry entry{"ZEL/changing.txt", PackedKind::File, "", changing, ""};
        std::string error;
        EXPECT_FALSE(quarrin::package::WritePackage(
            package, {"ZEL-OKUN-1", "V1"}, {File("ZEL/Velmoran.exe", "app"), entry}, error));
        EXPECT_EQ(error.rfind(changing + ": changed while it was read", 0), 0u) << error;
        EXPECT_FALSE(fs::exists(package)) << changing;
        EXPECT_EQ(LeftoversBeside(package), std::vector<fs::path>{});
    }
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
