// The decompression library puts a package in place only when it is complete: what a failure
// or a power cut leaves below the destination, and how the next run recovers.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/sim/SimPlatform.h"
#include "tests/support/E2eSupport.h"
#include "tests/support/PackageTestSupport.h"
#include "tests/support/ProgressWindow.h"
#include "tools/package/PackageFormat.h"

using namespace quarrin::package;
using quarrin::platform::FileOp;
using quarrin::platform::FileOperationHook;
using quarrin::platform::HookDecision;
using quarrin::platform::SimPlatform;

namespace {

namespace fs = std::filesystem;

const wchar_t kPackage[] = L"SDHC\\ZEL_Update\\ZEL.bin";
const wchar_t kWorkFolder[] = L"ResidentFlash3\\_Unpack_$";
const std::string kWorkName = "_Unpack_$";

// Relative path below ResidentFlash3 ('/' between names) -> file bytes, "/" for a folder.
using Tree = std::map<std::string, std::string>;

// From the k-th mutating file operation on, every change to the device fails, as if the power
// had gone; reads go on, so the library runs to its end without changing anything more.
class PowerCut : public FileOperationHook {
public:
    PowerCut(SimPlatform& sim, int at) : m_sim(sim), m_next(sim.Files().Hook()), m_at(at) {
        sim.Files().SetHook(this);
    }
    ~PowerCut() override { m_sim.Files().SetHook(m_next); }
    HookDecision Before(FileOp op, const std::wstring& devicePath) override {
        if (quarrin::platform::IsMutating(op) && ++m_count >= m_at)
            return {ERROR_NOT_READY, {}};
        return m_next->Before(op, devicePath);
    }
    int Count() const { return m_count; }

private:
    SimPlatform& m_sim;
    FileOperationHook* m_next;
    int m_at;
    int m_count = 0;
};

// The program first, so that every failure below comes after it was written.
std::vector<PackageEntry> NewApplication() {
    return {Folder("ZEL"),
            File("ZEL/Velmoran.exe", "new program"),
            File("ZEL/res/a.dat", "new a"),
            File("ZEL/res/b.dat", std::string(300000, 'b')),
            File("Shared/config.ini", "new config"),
            File("Shared/fonts/f.ttf", "new font"),
            File("notes.txt", "new notes")};
}

class StagedUnpackTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallZCompress(sim);
        ASSERT_TRUE(library.Load());
        PutPackage(sim, kPackage, NewApplication());
        PutDevice(true);
    }

    // ResidentFlash3 as a previous install left it; `installed`: with its application folder
    // (without it, as the worker leaves it before the unpack).
    void PutDevice(bool installed) {
        fs::remove_all(sim.HostPath(L"ResidentFlash3"));
        sim.PutDirectory(L"ResidentFlash3");
        if (installed) {
            sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "old program");
            sim.PutFile(L"ResidentFlash3\\ZEL\\old.dat", "old data");
        }
        sim.PutFile(L"ResidentFlash3\\Shared\\config.ini", "old config");
        sim.PutFile(L"ResidentFlash3\\Shared\\user.db", "written by the application");
        sim.PutFile(L"ResidentFlash3\\notes.txt", "old notes");
        sim.PutFile(L"ResidentFlash3\\keep.dat", "not in the package");
    }

    int Unpack() { return library.uncompress(kPackage, L"ResidentFlash3\\"); }

    Tree Installed() {
        Tree tree;
        std::string root = sim.HostPath(L"ResidentFlash3");
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            std::string relative = fs::relative(entry.path(), root).generic_string();
            tree[relative] = entry.is_directory() ? "/" : e2e::ReadFile(entry.path().string());
        }
        return tree;
    }

    SimPlatform sim;
    ProgressWindow window;
    ZCompressExports library;
};

// The entries of the application folder, or (application false) the others except the
// library's work folder.
Tree Part(const Tree& tree, bool application) {
    Tree part;
    for (const auto& [path, content] : tree) {
        std::string top = path.substr(0, path.find('/'));
        if (top == kWorkName)
            continue;
        if ((top == "ZEL") == application)
            part[path] = content;
    }
    return part;
}

TEST_F(StagedUnpackTest, ASuccessReplacesTheApplicationAndJoinsTheOtherFolders) {
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash3\\notes.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash3\\ZEL\\old.dat", FILE_ATTRIBUTE_READONLY));
    library.setNotifyWnd(window.Handle(), WM_UPDATE_PROGRESS);
    EXPECT_EQ(Unpack(), 6);
    Tree expected = {{"ZEL", "/"},
                     {"ZEL/Velmoran.exe", "new program"},
                     {"ZEL/res", "/"},
                     {"ZEL/res/a.dat", "new a"},
                     {"ZEL/res/b.dat", std::string(300000, 'b')},
                     {"Shared", "/"},
                     {"Shared/config.ini", "new config"},
                     {"Shared/user.db", "written by the application"},
                     {"Shared/fonts", "/"},
                     {"Shared/fonts/f.ttf", "new font"},
                     {"notes.txt", "new notes"},
                     {"keep.dat", "not in the package"}};
    EXPECT_EQ(Installed(), expected);
    std::vector<LPARAM> percentages = window.Percentages();
    ASSERT_FALSE(percentages.empty());
    EXPECT_EQ(percentages.back(), 100);
}

struct Failure {
    const char* name;
    int result;
    bool othersUntouched;  // the failure comes before anything is put in place
};

void PrintTo(const Failure& failure, std::ostream* os) {
    *os << failure.name;
}

class StagedUnpackFailureTest : public StagedUnpackTest,
                                public ::testing::WithParamInterface<Failure> {};

TEST_P(StagedUnpackFailureTest, LeavesTheInstalledApplicationAndNoWorkFolder) {
    std::string name = GetParam().name;
    if (name == "WriteFails") {
        sim.FailOperation(FileOp::Write, L"ResidentFlash3\\_Unpack_$\\New\\ZEL\\res\\b.dat",
                          ERROR_DISK_FULL);
    } else if (name == "DamagedArchive") {
        std::string bytes = sim.FileBytes(kPackage);
        for (std::size_t i = bytes.size() - 40; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
        sim.PutFile(kPackage, bytes);
    } else if (name == "RefusedEntry") {
        std::vector<PackageEntry> entries = NewApplication();
        entries.push_back(File("ZEL/../../evil", "x"));
        PutPackage(sim, kPackage, entries);
    } else if (name == "NoProgram") {
        PutPackage(sim, kPackage, {File("ZEL/res/a.dat", "a"), File("notes.txt", "new notes")});
    } else if (name == "ApplicationCannotMove") {
        sim.FailOperation(FileOp::Move, L"ResidentFlash3\\ZEL", ERROR_SHARING_VIOLATION);
    }
    Tree before = Installed();
    EXPECT_EQ(Unpack(), GetParam().result);
    Tree after = Installed();
    EXPECT_EQ(Part(after, true), Part(before, true)) << "the old application, whole";
    if (GetParam().othersUntouched) {
        EXPECT_EQ(after, before);
    }
    EXPECT_FALSE(sim.Exists(kWorkFolder));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StagedUnpackFailureTest,
    ::testing::Values(Failure{"WriteFails", UNPACK_WRITE_FAILED, true},
                      Failure{"DamagedArchive", UNPACK_CORRUPT_ARCHIVE, true},
                      Failure{"RefusedEntry", UNPACK_UNSAFE_ENTRY, true},
                      Failure{"NoProgram", UNPACK_NO_PROGRAM, true},
                      // The other entries were put in place before the application folder.
                      Failure{"ApplicationCannotMove", UNPACK_WRITE_FAILED, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A cut run leaves its work folder; the next run removes it first, also the parts that the
// loader's own tree deletion would keep (folders whose names begin with a dot) and read-only
// files.
TEST_F(StagedUnpackTest, TheNextRunRemovesTheWorkFolderThatACutLeft) {
    sim.PutFile(L"ResidentFlash3\\_Unpack_$\\New\\ZEL\\Velmoran.exe", "half");
    sim.PutFile(L"ResidentFlash3\\_Unpack_$\\New\\ZEL\\.cache\\x", "x");
    sim.PutFile(L"ResidentFlash3\\_Unpack_$\\Old\\1\\y", "y");
    ASSERT_TRUE(
        SetFileAttributesW(L"ResidentFlash3\\_Unpack_$\\Old\\1\\y", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Unpack(), 6);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new program");
    EXPECT_FALSE(sim.Exists(kWorkFolder));

    // What the device cannot remove (a name it cannot see) is set aside within the work
    // folder, and the run goes on; later runs leave it there without setting it aside again.
    fs::create_directories(sim.HostPath(L"ResidentFlash3\\_Unpack_$\\New\\ZEL"));
    std::ofstream(sim.HostPath(L"ResidentFlash3\\_Unpack_$\\New\\ZEL") + "/x:y") << "x";
    for (int run = 0; run < 2; ++run) {
        sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "old program");
        EXPECT_EQ(Unpack(), 6);
        EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new program");
        EXPECT_TRUE(fs::exists(sim.HostPath(L"ResidentFlash3\\_Unpack_$\\Kept1\\ZEL") + "/x:y"));
        EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Unpack_$\\Kept2"));
        EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Unpack_$\\New"));
        EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Unpack_$\\Old"));
    }
}

// Only a work folder that cannot be made afresh at all stops the run, before anything
// installed changes.
TEST_F(StagedUnpackTest, AWorkFolderThatCannotBeMadeStopsTheRunFirst) {
    sim.PutFile(L"ResidentFlash3\\_Unpack_$\\New\\locked", "x");
    sim.FailOperation(FileOp::Delete, L"ResidentFlash3\\_Unpack_$\\New\\locked",
                      ERROR_SHARING_VIOLATION, -1);
    sim.FailOperation(FileOp::Move, L"ResidentFlash3\\_Unpack_$\\Kept1", ERROR_ACCESS_DENIED, -1);
    Tree before = Installed();
    EXPECT_EQ(Unpack(), UNPACK_WRITE_FAILED);
    EXPECT_EQ(Installed(), before);
}

class StagedUnpackCutTest : public StagedUnpackTest, public ::testing::WithParamInterface<bool> {};

// With the application folder present (the library on its own) and without it (as the
// worker calls the library), a cut at every mutating operation: whenever the program is
// there, it is the old application whole, or the new one with everything the package
// brings; a run after the cut completes the install.
TEST_P(StagedUnpackCutTest, ACutAtAnyOperationLeavesNoHalfApplication) {
    bool installed = GetParam();
    PutDevice(installed);
    Tree before = Installed();
    int operations = 0;
    {
        PowerCut counter(sim, INT_MAX);
        ASSERT_GE(Unpack(), 0);
        operations = counter.Count();
    }
    Tree complete = Installed();
    ASSERT_EQ(complete.count("ZEL/Velmoran.exe"), 1u);
    for (int k = 1; k <= operations; ++k) {
        SCOPED_TRACE("cut at operation " + std::to_string(k));
        PutDevice(installed);
        {
            PowerCut cut(sim, k);
            Unpack();
        }
        Tree left = Installed();
        if (left.count("ZEL/Velmoran.exe") != 0) {
            bool old = installed && Part(left, true) == Part(before, true);
            bool whole = Part(left, true) == Part(complete, true) &&
                         Part(left, false) == Part(complete, false);
            EXPECT_TRUE(old || whole) << "the program starts a half application";
        }
        EXPECT_GE(Unpack(), 0);
        EXPECT_EQ(Installed(), complete);
    }
}

INSTANTIATE_TEST_SUITE_P(ApplicationFolder, StagedUnpackCutTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Present" : "Deleted"; });

}  // namespace
