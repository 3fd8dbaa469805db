// Folder handles for tree walks: a listing of an open folder holds what the path-based search
// holds, and deletions and copies relative to it keep the device's rules, both where the hook
// is asked (each call then takes the path-based way) and where no hook is installed (the
// direct host calls).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/Win32.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/sim/SimPlatform.h"

namespace fs = std::filesystem;
using quarrin::platform::SimPlatform;

namespace {

struct Entry {
    std::wstring name;
    bool folder;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> Entries(HANDLE search, WIN32_FIND_DATAW& data) {
    std::vector<Entry> entries;
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        entries.push_back(
            {data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

// A folder handle closed at the end of the test.
struct Folder {
    explicit Folder(const wchar_t* path) : handle(OpenFolderW(path)) {}
    ~Folder() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    std::vector<Entry> List() {
        WIN32_FIND_DATAW data{};
        return Entries(FindFirstFileInFolderW(handle, &data), data);
    }
    HANDLE handle;
};

class FolderWalkTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam())
            sim.Files().SetHook(nullptr);  // no hook: the direct host calls
    }
    bool ReadOnlyOnHost(const std::wstring& path) {
        struct stat info {};
        return stat(sim.HostPath(path).c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
    }

    SimPlatform sim;
};

TEST_P(FolderWalkTest, AnOpenFolderListsWhatTheSearchOfItsPathLists) {
    sim.PutFile(L"SDHC\\d\\b.dat", "b");
    sim.PutFile(L"SDHC\\d\\Sub\\x", "x");
    sim.PutFile(L"SDHC\\d\\Tile1.dat", "1");
    sim.PutFile(L"SDHC\\d\\tile1.dat", "2");
    sim.PutFile(L"SDHC\\elsewhere\\secret", "s");
    fs::create_symlink("../elsewhere", sim.HostPath(L"SDHC\\d\\link"));
    std::ofstream(sim.HostPath(L"SDHC\\d") + "/bad:name") << "n";
    ASSERT_EQ(mkfifo(sim.HostPath(L"SDHC\\d\\pipe").c_str(), 0644), 0);

    WIN32_FIND_DATAW data{};
    std::vector<Entry> bySearch = Entries(FindFirstFileW(L"SDHC\\d\\*", &data), data);
    Folder folder(L"SDHC\\d");
    ASSERT_NE(folder.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(folder.List(), bySearch);
    EXPECT_EQ(bySearch.size(), 5u) << "b.dat, pipe, Sub and both twins";

    sim.PutDirectory(L"SDHC\\empty");
    Folder empty(L"SDHC\\empty");
    WIN32_FIND_DATAW none{};
    EXPECT_EQ(FindFirstFileInFolderW(empty.handle, &none), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    for (const wchar_t* noFolder : {L"SDHC\\missing", L"SDHC\\d\\b.dat", L"SDHC\\d\\link"}) {
        Folder refused(noFolder);
        EXPECT_EQ(refused.handle, INVALID_HANDLE_VALUE) << noFolder;
    }
}

TEST_P(FolderWalkTest, DeletionInAFolderKeepsReadOnlySharingLinksAndFolders) {
    for (const wchar_t* name : {L"ro", L"open", L"plain", L"gone"})
        sim.PutFile(std::wstring(L"SDHC\\d\\") + name, "x");
    sim.PutFile(L"SDHC\\d\\Sub\\f", "f");
    sim.PutFile(L"SDHC\\target\\kept", "k");
    fs::create_symlink("../target", sim.HostPath(L"SDHC\\d\\link"));
    ASSERT_TRUE(SetFileAttributesW(L"SDHC\\d\\ro", FILE_ATTRIBUTE_READONLY));
    HANDLE open = CreateFileW(L"SDHC\\d\\open", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    Folder folder(L"SDHC\\d");
    ASSERT_EQ(folder.List().size(), 5u);
    fs::remove(sim.HostPath(L"SDHC\\d\\gone"));

    EXPECT_FALSE(DeleteFileInFolderW(folder.handle, L"ro", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(sim.Exists(L"SDHC\\d\\ro"));
    EXPECT_TRUE(DeleteFileInFolderW(folder.handle, L"ro", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_FALSE(DeleteFileInFolderW(folder.handle, L"open", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(open);
    EXPECT_TRUE(DeleteFileInFolderW(folder.handle, L"open", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_TRUE(DeleteFileInFolderW(folder.handle, L"PLAIN", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_FALSE(DeleteFileInFolderW(folder.handle, L"gone", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    for (const wchar_t* refused : {L"Sub", L"link"}) {
        EXPECT_FALSE(DeleteFileInFolderW(folder.handle, refused, DELETE_IN_FOLDER_READ_ONLY));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << refused;
    }
    EXPECT_TRUE(fs::is_symlink(sim.HostPath(L"SDHC\\d\\link")));
    EXPECT_EQ(sim.FileBytes(L"SDHC\\target\\kept"), "k");
    EXPECT_EQ(folder.List(), (std::vector<Entry>{{L"Sub", true}}));
}

TEST_P(FolderWalkTest, CopyIntoAFolderMeetsNamesInAnyCaseAndKeepsTheRules) {
    sim.PutFile(L"SDHC\\src\\a.txt", "new a");
    sim.PutFile(L"SDHC\\src\\ro.txt", "ro");
    sim.PutFile(L"SDHC\\src\\locked", "l");
    sim.PutFile(L"SDHC\\dst\\A.TXT", "old a");
    ASSERT_TRUE(SetFileAttributesW(L"SDHC\\src\\ro.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(mkfifo(sim.HostPath(L"SDHC\\src\\pipe").c_str(), 0644), 0);
    HANDLE locked =
        CreateFileW(L"SDHC\\src\\locked", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    Folder from(L"SDHC\\src");
    Folder to(L"SDHC\\dst");
    ASSERT_EQ(from.List().size(), 4u);

    // The name in another case is the same file: overwritten, no second name beside it.
    EXPECT_TRUE(CopyFileInFolderW(from.handle, L"a.txt", to.handle, FALSE));
    EXPECT_EQ(sim.FileBytes(L"SDHC\\dst\\A.TXT"), "new a");
    EXPECT_FALSE(fs::exists(sim.HostPath(L"SDHC\\dst") + "/a.txt"));
    EXPECT_FALSE(CopyFileInFolderW(from.handle, L"a.txt", to.handle, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

    // A new name, then the same name again: the copy keeps the read-only attribute, and a
    // read-only target refuses the second copy.
    EXPECT_TRUE(CopyFileInFolderW(from.handle, L"ro.txt", to.handle, FALSE));
    EXPECT_TRUE(ReadOnlyOnHost(L"SDHC\\dst\\ro.txt"));
    EXPECT_FALSE(CopyFileInFolderW(from.handle, L"RO.TXT", to.handle, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    EXPECT_FALSE(CopyFileInFolderW(from.handle, L"pipe", to.handle, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CopyFileInFolderW(from.handle, L"locked", to.handle, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(locked);
    EXPECT_TRUE(CopyFileInFolderW(from.handle, L"locked", to.handle, FALSE));
    EXPECT_EQ(sim.FileBytes(L"SDHC\\dst\\locked"), "l");
    EXPECT_FALSE(fs::exists(sim.HostPath(L"SDHC\\dst") + "/pipe"));

    // A volume dismounted while its folders are open is gone for them too.
    sim.Files().SetVolumeMounted(L"SDHC", false);
    EXPECT_FALSE(CopyFileInFolderW(from.handle, L"a.txt", to.handle, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(DeleteFileInFolderW(from.handle, L"a.txt", DELETE_IN_FOLDER_READ_ONLY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(from.List().empty());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    sim.Files().SetVolumeMounted(L"SDHC", true);
    EXPECT_EQ(sim.FileBytes(L"SDHC\\src\\a.txt"), "new a");
}

INSTANTIATE_TEST_SUITE_P(Hook, FolderWalkTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Asked" : "Absent";
                         });

}  // namespace
