// The decompression library on good, damaged and hostile packages.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/SimPlatform.h"
#include "tests/support/PackageTestSupport.h"
#include "tests/support/ProgressWindow.h"
#include "tools/package/PackageFormat.h"

using namespace quarrin::package;
using quarrin::platform::SimPlatform;

namespace {

const wchar_t kPackage[] = L"SDHC\\ZEL_Update\\ZEL.bin";
const wchar_t kDestination[] = L"ResidentFlash3\\";

std::vector<PackageEntry> Application() {
    std::string big(3 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7919 % 251);
    return {Folder("ZEL"), File("ZEL/Velmoran.exe", "#!/bin/sh\n"), Folder("ZEL/res"),
            File("ZEL/res/地图.dat", big), File("ZEL/empty", "")};
}

class ZCompressTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallZCompress(sim);
        ASSERT_TRUE(library.Load());
        sim.PutDirectory(L"ResidentFlash3");
    }
    int Unpack(LPCWSTR package = kPackage) { return library.uncompress(package, kDestination); }

    SimPlatform sim;
    ProgressWindow window;
    ZCompressExports library;
};

class ZCompressMarkerTest : public ZCompressTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(ZCompressMarkerTest, UnpacksBelowTheDestinationAndPostsRisingProgress) {
    PutPackage(sim, kPackage, Application(), GetParam(), "V1.2.3");
    library.setNotifyWnd(window.Handle(), WM_UPDATE_PROGRESS);
    EXPECT_EQ(Unpack(), 3);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "#!/bin/sh\n");
    EXPECT_TRUE(sim.FileBytes(L"ResidentFlash3\\ZEL\\res\\地图.dat") == Application()[3].data);
    EXPECT_TRUE(sim.Exists(L"ResidentFlash3\\ZEL\\empty"));
    std::vector<LPARAM> posts = window.Percentages();
    ASSERT_GE(posts.size(), 2u);
    EXPECT_EQ(posts.front(), 0);
    EXPECT_EQ(posts.back(), 100);
    EXPECT_TRUE(std::is_sorted(posts.begin(), posts.end()));
}

INSTANTIATE_TEST_SUITE_P(Markers, ZCompressMarkerTest,
                         ::testing::Values("ZEL-OKUN-1", "ZEL-OKUN-2"));

TEST_F(ZCompressTest, InstalledReadOnlyFilesAreReplacedAndNothingIsPostedWithoutAWindow) {
    sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "old");
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash3\\ZEL\\Velmoran.exe", FILE_ATTRIBUTE_READONLY));
    PutPackage(sim, kPackage, Application());
    library.setNotifyWnd(nullptr, WM_UPDATE_PROGRESS);
    EXPECT_EQ(Unpack(), 3);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "#!/bin/sh\n");
    EXPECT_TRUE(window.Drain().empty());
}

TEST_F(ZCompressTest, MissingOrForeignPackagesAreRefused) {
    EXPECT_EQ(Unpack(), UNPACK_CANNOT_OPEN);
    sim.PutFile(kPackage, std::string(600, 'x'));
    EXPECT_EQ(Unpack(), UNPACK_BAD_HEADER);
    EXPECT_EQ(library.uncompress(nullptr, kDestination), UNPACK_BAD_ARGUMENTS);
}

TEST_F(ZCompressTest, TruncatedPackagesFailAtEveryCut) {
    PutPackage(sim, kPackage, Application());
    std::string whole = sim.FileBytes(kPackage);
    for (std::size_t cut : {std::size_t{10}, std::size_t{64}, std::size_t{65}, std::size_t{600},
                            whole.size() / 2, whole.size() - 1}) {
        sim.PutFile(L"SDHC\\cut.bin", whole.substr(0, cut));
        int result = Unpack(L"SDHC\\cut.bin");
        EXPECT_LT(result, 0) << "cut at " << cut;
    }
}

TEST_F(ZCompressTest, CorruptArchivesFailWithoutCrashing) {
    PutPackage(sim, kPackage, Application());
    std::string whole = sim.FileBytes(kPackage);
    for (std::size_t at : {std::size_t{64}, std::size_t{80}, whole.size() / 3, whole.size() - 20}) {
        std::string damaged = whole;
        for (std::size_t i = at; i < std::min(at + 16, damaged.size()); ++i)
            damaged[i] ^= 0x5A;
        sim.PutFile(L"SDHC\\bad.bin", damaged);
        EXPECT_LT(Unpack(L"SDHC\\bad.bin"), 0) << "damaged at " << at;
    }
}

}  // namespace

namespace quarrin::package {
// Test names and failure messages show the entry's path, not its bytes.
void PrintTo(const PackageEntry& entry, std::ostream* os) {
    *os << entry.path;
}
}  // namespace quarrin::package

namespace {

class ZCompressHostileTest : public ZCompressTest,
                             public ::testing::WithParamInterface<PackageEntry> {};

TEST_P(ZCompressHostileTest, EntriesThatLeadElsewhereAreRefusedAndWriteNothingOutside) {
    PutPackage(sim, kPackage, {File("ZEL/first", "1"), GetParam(), File("ZEL/last", "2")});
    EXPECT_EQ(Unpack(), UNPACK_UNSAFE_ENTRY);
    // What came before the refused entry was only staged, and goes with the staging folder.
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL"));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Unpack_$"));
    namespace fs = std::filesystem;
    for (const auto& entry : fs::recursive_directory_iterator(sim.Root())) {
        EXPECT_EQ(entry.path().string().find("evil"), std::string::npos) << entry.path();
    }
    EXPECT_FALSE(fs::exists(fs::path(sim.Root()).parent_path() / "evil"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ZCompressHostileTest,
    ::testing::Values(File("../evil", "x"), File("ZEL/../../evil", "x"), File("/tmp/evil", "x"),
                      File("..\\evil", "x"), File("C:evil", "x"), File("COM2:", "x"),
                      File("ZEL/.../evil", "x"), File("ZEL/evil. ", "x"), File("ZEL/Nul.evil", "x"),
                      File("ZEL/com1 .evil", "x"),
                      PackageEntry{"ZEL/evil-link", PackedKind::Symlink, "", "", "/etc"},
                      PackageEntry{"ZEL/evil-hard", PackedKind::Hardlink, "", "", "ZEL/first"},
                      PackageEntry{"ZEL/evil-dev", PackedKind::CharDevice, "", "", ""}));

}  // namespace
