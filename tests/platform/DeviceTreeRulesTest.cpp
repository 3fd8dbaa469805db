// What the device sees of a host folder that holds more than a FAT volume can: links, pipes,
// files of 4 GiB, case twins and names the device cannot spell; and volume folders that are
// links to a real card elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/Win32.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/DeepTree.h"
#include "workers/TreeOperations.h"

namespace fs = std::filesystem;
using quarrin::platform::CheckDeviceName;
using quarrin::platform::DisplayHostName;
using quarrin::platform::NameProblem;
using quarrin::platform::SimPlatform;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

HANDLE Open(const wchar_t* path, DWORD disposition = OPEN_EXISTING, DWORD access = GENERIC_READ) {
    SetLastError(kSentinel);
    return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Opens `path` if it can; the last error of the attempt otherwise.
DWORD OpenError(const wchar_t* path, DWORD disposition = OPEN_EXISTING,
                DWORD access = GENERIC_READ) {
    HANDLE file = Open(path, disposition, access);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
}

struct Listed {
    std::wstring name;
    DWORD attributes;
    ULONGLONG size;
    bool operator==(const Listed&) const = default;
};

std::vector<Listed> List(const wchar_t* pattern) {
    std::vector<Listed> entries;
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        entries.push_back({data.cFileName, data.dwFileAttributes,
                           ULONGLONG{data.nFileSizeHigh} << 32 | data.nFileSizeLow});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

std::vector<std::wstring> Names(const wchar_t* pattern) {
    std::vector<std::wstring> names;
    for (const Listed& entry : List(pattern))
        names.push_back(entry.name);
    return names;
}

class DeviceTreeRulesTest : public ::testing::Test {
protected:
    void Link(const std::wstring& at, const fs::path& target) {
        fs::create_directories(fs::path(sim.HostPath(at)).parent_path());
        fs::create_symlink(target, sim.HostPath(at));
    }
    bool Logged(const std::wstring& line) {
        auto lines = sim.DebugLines();
        return std::find(lines.begin(), lines.end(), line + L"\r\n") != lines.end();
    }
    // A folder beside the device root, removed at the end.
    fs::path Outside(const std::string& name) {
        fs::path path = fs::path(sim.Root()).parent_path() /
                        (name + "-" + std::to_string(getpid()) + "-" + std::to_string(++m_count));
        fs::create_directories(path);
        m_outside.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const fs::path& path : m_outside)
            fs::remove_all(path);
    }

    SimPlatform sim;

private:
    std::vector<fs::path> m_outside;
    int m_count = 0;
};

TEST(DeviceEntryRules, NamesAreJudgedAsAFatVolumeWouldHoldThem) {
    struct Case {
        std::string name;
        NameProblem problem;
    } cases[] = {
        {"good.map", NameProblem::None},
        {"中文 地图.dat", NameProblem::None},
        {".hidden", NameProblem::None},
        {std::string(255, 'a'), NameProblem::None},
        {std::string(256, 'a'), NameProblem::TooLong},
        // A character beyond U+FFFF takes two UTF-16 units: 128 of them are 256 units.
        {[] {
             std::string s;
             for (int i = 0; i < 128; ++i)
                 s += "\xf0\x9f\x98\x80";
             return s;
         }(),
         NameProblem::TooLong},
        {"\xff.map", NameProblem::NotUtf8},
        {"\xc0\xaf", NameProblem::NotUtf8},      // an overlong '/'
        {"\xed\xa0\x80", NameProblem::NotUtf8},  // a surrogate
        {"cut\xe4\xb8", NameProblem::NotUtf8},
        {"back\\slash", NameProblem::Backslash},
        {"tab\there", NameProblem::ControlCharacter},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        EXPECT_EQ(CheckDeviceName(item.name), item.problem);
    }
    for (char c : std::string(":<>\"|*?"))
        EXPECT_EQ(CheckDeviceName(std::string("a") + c + "b"), NameProblem::ReservedCharacter);
    EXPECT_EQ(DisplayHostName("a\xff\x01z中"), L"a<ff><01>z中");
}

// The filter keeps the first of names that fold alike, over folders large enough to grow
// its table, with twins that differ in ASCII and in other letters, against a plain map.
TEST(DeviceEntryRules, CaseTwinsAreTheLaterNamesThatFoldAlike) {
    quarrin::platform::CaseTwinFilter filter;
    std::map<std::wstring, std::wstring> first;  // folded -> first name
    std::vector<std::wstring> names;
    for (int i = 0; i < 3000; ++i) {
        std::wstring name = L"tile" + std::to_wstring(i % 1000) + (i % 7 == 0 ? L"Ä" : L"ä");
        if (i >= 1000)
            name[0] = i % 2 ? L'T' : L'\u0074';
        if (i >= 2000)
            name = L"TILE" + name.substr(4);
        names.push_back(name);
    }
    names.push_back(L"");
    names.push_back(L"Ǆ");  // folds to ǆ, which comes next
    names.push_back(L"ǆ");
    for (const std::wstring& name : names) {
        std::wstring folded = quarrin::platform::FoldCase(name);
        auto [at, added] = first.try_emplace(folded, name);
        std::optional<std::wstring> expected;
        if (!added)
            expected = at->second;
        EXPECT_EQ(filter.EarlierTwin(name), expected) << std::string(name.begin(), name.end());
    }
}

TEST_F(DeviceTreeRulesTest, NoOperationReachesThroughALinkBelowAVolume) {
    fs::path outside = Outside("outside");
    std::ofstream(outside / "secret") << "secret";
    sim.PutFile(L"ResidentFlash2\\RawData", "record");
    sim.PutFile(L"Storage Card\\maps\\a.map", "a");
    Link(L"Storage Card\\maps\\loop", "..");
    Link(L"Storage Card\\out", outside);
    Link(L"Storage Card\\raw", "../ResidentFlash2/RawData");

    EXPECT_EQ(Names(L"Storage Card\\*.*"), std::vector<std::wstring>{L"maps"});
    EXPECT_EQ(Names(L"Storage Card\\maps\\*.*"), std::vector<std::wstring>{L"a.map"});
    EXPECT_TRUE(Logged(L"Device cannot hold Storage Card\\out: a link"));
    EXPECT_TRUE(Logged(L"Device cannot hold Storage Card\\maps\\loop: a link"));

    // Naming a link, or a path through one, is refused whatever the operation.
    EXPECT_EQ(OpenError(L"Storage Card\\raw"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenError(L"Storage Card\\raw", CREATE_ALWAYS, GENERIC_WRITE), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenError(L"Storage Card\\out\\new", CREATE_ALWAYS, GENERIC_WRITE),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenError(L"Storage Card\\maps\\loop\\maps\\a.map"), ERROR_ACCESS_DENIED);
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(L"Storage Card\\raw"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFileW(L"Storage Card\\raw", L"Storage Card\\copy", FALSE));
    EXPECT_FALSE(CopyFileW(L"Storage Card\\maps\\a.map", L"Storage Card\\raw", FALSE));
    EXPECT_FALSE(MoveFileW(L"Storage Card\\out", L"Storage Card\\moved"));
    EXPECT_FALSE(CreateDirectoryW(L"Storage Card\\out\\d", nullptr));
    EXPECT_FALSE(SetFileAttributesW(L"Storage Card\\raw", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(L"Storage Card\\out"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Removing a folder whose only other entries are links removes the links themselves.
    ASSERT_TRUE(DeleteFileW(L"Storage Card\\maps\\a.map"));
    EXPECT_TRUE(RemoveDirectoryW(L"Storage Card\\maps"));
    EXPECT_FALSE(fs::exists(sim.HostPath(L"Storage Card\\maps")));
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash2\\RawData"), "record");
    EXPECT_TRUE(fs::exists(outside / "secret"));
    EXPECT_TRUE(fs::is_symlink(sim.HostPath(L"Storage Card\\out")));  // the volume stays
}

TEST_F(DeviceTreeRulesTest, AFolderWithALinkAndAnEntryTheDeviceCannotSeeIsNotRemoved) {
    sim.PutDirectory(L"SDHC\\keep");
    Link(L"SDHC\\keep\\link", "..");
    std::ofstream(sim.HostPath(L"SDHC\\keep") + "/odd:name") << "data";
    SetLastError(kSentinel);
    EXPECT_FALSE(RemoveDirectoryW(L"SDHC\\keep"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_TRUE(fs::is_symlink(sim.HostPath(L"SDHC\\keep\\link")));
    EXPECT_TRUE(fs::exists(sim.HostPath(L"SDHC\\keep") + "/odd:name"));
}

TEST_F(DeviceTreeRulesTest, TreeOperationsEndOnLoopsAndLeaveLinkTargetsAlone) {
    fs::path outside = Outside("target");
    std::ofstream(outside / "keep.dat") << "keep";
    sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "app");
    sim.PutFile(L"ResidentFlash3\\ZEL\\sub\\data.bin", "data");
    Link(L"ResidentFlash3\\ZEL\\loop", "..");
    Link(L"ResidentFlash3\\ZEL\\sub\\up", "../..");
    Link(L"ResidentFlash3\\ZEL\\sub\\out", outside);

    CollectDirectoryTree(L"ResidentFlash3\\ZEL");
    EXPECT_EQ(g_directoryList,
              (std::vector<std::wstring>{L"ResidentFlash3\\ZEL", L"ResidentFlash3\\ZEL\\sub"}));
    EXPECT_TRUE(DeleteTree(L"ResidentFlash3\\ZEL"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.HostPath(L"ResidentFlash3\\ZEL"))));
    EXPECT_TRUE(fs::exists(sim.HostPath(L"ResidentFlash3")));
    EXPECT_TRUE(fs::exists(outside / "keep.dat"));
}

TEST_F(DeviceTreeRulesTest, AVolumeMayBeALinkToAFolderElsewhere) {
    fs::path card = Outside("card");
    std::ofstream(card / "old.map") << "old";
    Link(L"Storage Card", card);
    sim.PutDirectory(L"SDHC");

    std::vector<Listed> root = List(L"*.*");
    auto volume = std::find_if(root.begin(), root.end(),
                               [](const Listed& e) { return e.name == L"Storage Card"; });
    ASSERT_NE(volume, root.end());
    EXPECT_EQ(volume->attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(Names(L"STORAGE CARD\\*.*"), std::vector<std::wstring>{L"old.map"});
    EXPECT_EQ(OpenError(L"Storage Card\\new.map", CREATE_ALWAYS, GENERIC_WRITE), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(card / "new.map"));
    EXPECT_TRUE(CopyFileW(L"Storage Card\\old.map", L"SDHC\\old.map", FALSE));
    EXPECT_EQ(sim.FileBytes(L"SDHC\\old.map"), "old");
    ULARGE_INTEGER available{};
    EXPECT_TRUE(GetDiskFreeSpaceExW(L"Storage Card", &available, nullptr, nullptr));

    // The volume itself is the mounted card: emptying it leaves it, and it never moves.
    EXPECT_FALSE(DeleteTree(L"Storage Card"));
    SetLastError(kSentinel);
    EXPECT_FALSE(MoveFileW(L"Storage Card", L"SDHC\\card"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::is_directory(card));
    EXPECT_TRUE(fs::is_symlink(sim.HostPath(L"Storage Card")));
    EXPECT_TRUE(fs::is_empty(card));
}

TEST_F(DeviceTreeRulesTest, AVolumeLinkToAFileOrToAFolderHoldingTheDeviceIsAbsent) {
    sim.PutFile(L"ResidentFlash2\\file", "x");
    Link(L"SDHC", fs::path(sim.Root()).parent_path());
    Link(L"USB", fs::path(sim.HostPath(L"ResidentFlash2\\file")));
    Link(L"硬盘", "/");
    for (const wchar_t* volume : {L"SDHC", L"USB\\x", L"硬盘\\etc"}) {
        SCOPED_TRACE(std::string(volume, volume + 3));
        EXPECT_EQ(GetFileAttributesW(volume), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    }
    EXPECT_EQ(Names(L"*.*"), std::vector<std::wstring>{L"ResidentFlash2"});
}

TEST_F(DeviceTreeRulesTest, EntriesAFatVolumeCannotHoldAreListedButNeverOpened) {
    sim.PutFile(L"SDHC\\Tile.dat", "upper");
    sim.PutFile(L"SDHC\\tile.dat", "lower");
    sim.PutFile(L"SDHC\\Maps\\x.map", "upper x");
    sim.PutFile(L"SDHC\\maps\\x.map", "lower x");
    sim.PutFile(L"SDHC\\big", "");
    fs::resize_file(sim.HostPath(L"SDHC\\big"), 4ULL << 30);
    sim.PutFile(L"SDHC\\edge", "");
    fs::resize_file(sim.HostPath(L"SDHC\\edge"), (4ULL << 30) - 1);
    ASSERT_EQ(mkfifo(sim.HostPath(L"SDHC\\pipe").c_str(), 0644), 0);

    // Before any listing, a name in another case leads to the twin first in name order.
    HANDLE file = Open(L"SDHC\\TILE.DAT");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    EXPECT_EQ(std::string(buffer, read), "upper");

    std::vector<Listed> expected = {{L"Maps", FILE_ATTRIBUTE_DIRECTORY, 0},
                                    {L"Tile.dat", FILE_ATTRIBUTE_NORMAL, 5},
                                    {L"big", FILE_ATTRIBUTE_NORMAL, 4ULL << 30},
                                    {L"edge", FILE_ATTRIBUTE_NORMAL, (4ULL << 30) - 1},
                                    {L"maps", FILE_ATTRIBUTE_DIRECTORY, 0},
                                    {L"pipe", FILE_ATTRIBUTE_NORMAL, 0},
                                    {L"tile.dat", FILE_ATTRIBUTE_NORMAL, 5}};
    EXPECT_EQ(List(L"SDHC\\*.*"), expected);
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\tile.dat: same name as Tile.dat but for case"));
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\maps: same name as Maps but for case"));
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\big: 4 GiB or more"));
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\pipe: not a file"));

    EXPECT_EQ(OpenError(L"SDHC\\Tile.dat"), ERROR_SUCCESS);
    EXPECT_EQ(OpenError(L"SDHC\\edge"), ERROR_SUCCESS);  // the largest file FAT holds
    EXPECT_EQ(OpenError(L"SDHC\\Maps\\x.map"), ERROR_SUCCESS);
    for (const wchar_t* path :
         {L"SDHC\\tile.dat", L"SDHC\\maps\\x.map", L"SDHC\\big", L"SDHC\\pipe"}) {
        SCOPED_TRACE(std::wstring(path).size());
        EXPECT_EQ(OpenError(path), ERROR_ACCESS_DENIED);
        EXPECT_EQ(OpenError(path, OPEN_ALWAYS, GENERIC_WRITE), ERROR_ACCESS_DENIED);
        SetLastError(kSentinel);
        EXPECT_FALSE(CopyFileW(path, L"ResidentFlash\\copy", FALSE));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(fs::exists(sim.HostPath(L"ResidentFlash\\copy")));
    EXPECT_EQ(sim.FileBytes(L"SDHC\\maps\\x.map"), "lower x");

    // They can be deleted; a twin that is gone leaves its twin the only one.
    EXPECT_TRUE(DeleteFileW(L"SDHC\\pipe"));
    EXPECT_TRUE(DeleteFileW(L"SDHC\\big"));
    EXPECT_TRUE(DeleteFileW(L"SDHC\\Tile.dat"));
    EXPECT_EQ(Names(L"SDHC\\*.dat"), std::vector<std::wstring>{L"tile.dat"});
    EXPECT_EQ(OpenError(L"SDHC\\tile.dat"), ERROR_SUCCESS);
}

TEST_F(DeviceTreeRulesTest, NamesTheDeviceCannotSpellAreLeftOutAndNamed) {
    sim.PutFile(L"SDHC\\good.dat", "good");
    std::string folder = sim.HostPath(L"SDHC");
    for (const char* name : {"x\xff.dat", "a:b.dat", "back\\slash", "ask?"})
        std::ofstream(folder + "/" + name) << "odd";
    fs::create_directories(folder + "/sub:dir");
    std::ofstream(folder + "/sub:dir/inner.dat") << "inner";

    EXPECT_EQ(Names(L"SDHC\\*.*"), std::vector<std::wstring>{L"good.dat"});
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\x<ff>.dat: name is not UTF-8"));
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\back\\slash: name holds '\\'"));
    EXPECT_TRUE(Logged(L"Device cannot hold SDHC\\sub:dir: name holds one of : < > \" | * ?"));
    // No name of the device leads to them, not even one whose UTF-8 bytes differ.
    EXPECT_EQ(GetFileAttributesW(L"SDHC\\X\uFFFD.DAT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// TRUE or FALSE as IsPathWithinFolderW answers, or minus the last error of its failure.
long Within(const wchar_t* path, const wchar_t* folder) {
    BOOL within = 7;
    SetLastError(kSentinel);
    if (!IsPathWithinFolderW(path, folder, &within))
        return -static_cast<long>(GetLastError());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    return within;
}

// Two volume links to one card, or one into a folder of the other, give two names to one
// folder: only the identity of what lies behind them tells.
TEST_F(DeviceTreeRulesTest, ContainmentIsJudgedByIdentityNotByName) {
    fs::path card = Outside("card");
    fs::create_directories(card / "update" / "navi_update");
    Link(L"Storage Card", card);
    Link(L"SDHC", card / "update");
    sim.PutDirectory(L"硬盘\\navi_update");
    sim.PutFile(L"硬盘\\file", "x");

    EXPECT_EQ(Within(L"SDHC\\navi_update", L"Storage Card"), TRUE);
    EXPECT_EQ(Within(L"SDHC", L"storage card\\UPDATE"), TRUE) << "the same folder";
    EXPECT_EQ(Within(L"Storage Card", L"SDHC"), FALSE);
    EXPECT_EQ(Within(L"硬盘\\navi_update", L"硬盘"), TRUE);
    EXPECT_EQ(Within(L"硬盘\\navi_update", L"Storage Card"), FALSE);
    EXPECT_EQ(Within(L"Storage Card", L"硬盘\\navi_update"), FALSE);
    EXPECT_EQ(Within(L"硬盘\\missing", L"硬盘"), -static_cast<long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Within(L"硬盘\\navi_update", L"硬盘\\file"), -static_cast<long>(ERROR_DIRECTORY));
    EXPECT_EQ(Within(L"硬盘\\file", nullptr), -static_cast<long>(ERROR_INVALID_PARAMETER));
}

// A path past the host's length limit used to look missing (2 or 3), which a deletion takes
// for already gone.
TEST_F(DeviceTreeRulesTest, AnEntryBeyondTheHostsPathLimitCannotBeReached) {
    sim.PutDirectory(L"硬盘\\deep");
    deeptree::DeepFolder deep(sim.HostPath(L"硬盘\\deep"), 80);
    std::wstring path = L"硬盘\\deep";
    for (int level = 1; level <= 80; ++level)
        path += L"\\" + std::wstring(50, L'd') + std::to_wstring(level);
    SetLastError(kSentinel);
    EXPECT_EQ(GetFileAttributesW((path + L"\\leaf.dat").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(DeleteFileW((path + L"\\leaf.dat").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    WIN32_FIND_DATAW data{};
    EXPECT_EQ(FindFirstFileW((path + L"\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
