// The device file system as `quarrin check` uses it: a read-only mode that refuses every
// change, volumes whose folders lie elsewhere, what listings meet that a volume cannot hold,
// and the library search without a load.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

class ReadOnlyFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", std::string("\x02\0\0\0", 4));
        sim.PutFile(L"SDHC\\ZEL_Update\\ZEL.bin", "package");
        sim.PutDirectory(L"SDHC\\navi_update");
    }
    SimPlatform sim;
};

// Each call fails with ERROR_WRITE_PROTECT and leaves the tree as it was.
TEST_F(ReadOnlyFileSystemTest, EveryChangeIsRefused) {
    sim.Files().SetReadOnly(true);
    int before = sim.MutationCount();
    auto refused = [](BOOL ok) { return !ok && GetLastError() == ERROR_WRITE_PROTECT; };
    const wchar_t* record = L"ResidentFlash2\\UpdateInfo.dat";
    SetLastError(kSentinel);
    EXPECT_TRUE(refused(DeleteFileW(record)));
    EXPECT_TRUE(refused(MoveFileW(record, L"ResidentFlash2\\moved")));
    EXPECT_TRUE(refused(CopyFileW(record, L"ResidentFlash2\\copy", FALSE)));
    EXPECT_TRUE(refused(CreateDirectoryW(L"ResidentFlash2\\new", nullptr)));
    EXPECT_TRUE(refused(RemoveDirectoryW(L"SDHC\\navi_update")));
    EXPECT_TRUE(refused(SetFileAttributesW(record, FILE_ATTRIBUTE_READONLY)));
    for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        const wchar_t* path = disposition == CREATE_NEW ? L"ResidentFlash2\\new.dat" : record;
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << disposition;
        EXPECT_EQ(GetLastError(), ERROR_WRITE_PROTECT) << disposition;
    }
    EXPECT_EQ(sim.MutationCount(), before);
    EXPECT_EQ(sim.FileBytes(record), std::string("\x02\0\0\0", 4));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash2\\new.dat"));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash2\\new"));
    EXPECT_TRUE(sim.Exists(L"SDHC\\navi_update"));
}

// An open for writing passes every other rule first, so the refusal tells a caller that the
// open itself would have worked; one the device refuses keeps its own code.
TEST_F(ReadOnlyFileSystemTest, WriteOpensMeetTheDeviceRulesFirst) {
    sim.PutFile(L"ResidentFlash\\ZEL.bin", "backup");
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash\\ZEL.bin", FILE_ATTRIBUTE_READONLY));
    sim.Files().SetReadOnly(true);
    auto openForWriting = [](const wchar_t* path) {
        SetLastError(kSentinel);
        HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        return GetLastError();
    };
    EXPECT_EQ(openForWriting(L"ResidentFlash2\\UpdateInfo.dat"), ERROR_WRITE_PROTECT);
    EXPECT_EQ(openForWriting(L"ResidentFlash\\ZEL.bin"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openForWriting(L"ResidentFlash2\\missing.dat"), ERROR_FILE_NOT_FOUND);

    HANDLE reader = CreateFileW(L"SDHC\\ZEL_Update\\ZEL.bin", GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openForWriting(L"SDHC\\ZEL_Update\\ZEL.bin"), ERROR_SHARING_VIOLATION);
    char bytes[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(reader, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), "package");
    CloseHandle(reader);
}

// Reading a file or listing a folder in read-only mode leaves its access time alone.
TEST_F(ReadOnlyFileSystemTest, ReadsLeaveAccessTimesAlone) {
    std::string file = sim.HostPath(L"SDHC\\ZEL_Update\\ZEL.bin");
    std::string folder = sim.HostPath(L"SDHC\\ZEL_Update");
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), old, 0), 0);
    sim.Files().SetReadOnly(true);
    HANDLE reader = CreateFileW(L"SDHC\\ZEL_Update\\ZEL.bin", GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    char bytes[16];
    DWORD read = 0;
    ReadFile(reader, bytes, sizeof bytes, &read, nullptr);
    CloseHandle(reader);
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(L"SDHC\\ZEL_Update\\*.*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    for (const std::string& path : {file, folder}) {
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_atim.tv_sec, 1000000000) << path;
    }
}

TEST_F(ReadOnlyFileSystemTest, AVolumeFolderElsewhereResolvesWithTheSameRules) {
    std::filesystem::path medium =
        std::filesystem::path(sim.Root()).parent_path() /
        (std::filesystem::path(sim.Root()).filename().string() + "-card");
    std::filesystem::create_directories(medium / "ZEL_Update");
    std::ofstream(medium / "ZEL_Update" / "MCU") << "image";
    sim.Files().SetVolumeFolder(L"硬盘", medium.string());
    sim.Files().SetReadOnly(true);

    HANDLE file = CreateFileW(L"硬盘\\zel_update\\mcu", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesW(L"硬盘"), FILE_ATTRIBUTE_DIRECTORY);
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(L"硬盘\\ZEL_Update\\*.*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, L"MCU");
    FindClose(search);
    EXPECT_EQ(GetFileAttributesW(L"硬盘\\..\\x"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Below the placed volume the device's link rule holds, as below any volume.
    std::filesystem::create_directory_symlink(sim.Root(), medium / "ZEL_Update" / "unit");
    EXPECT_EQ(GetFileAttributesW(L"硬盘\\ZEL_Update\\unit\\SDHC"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(L"硬盘\\ZEL_Update\\MCU"));
    EXPECT_TRUE(std::filesystem::exists(medium / "ZEL_Update" / "MCU"));
    std::filesystem::remove_all(medium);
}

// What a volume cannot hold is reported to the listing observer as the listing meets it: links
// and names the device cannot spell are left out, pipes are listed but never open. Read-only
// listings read each folder once, so each entry is reported once.
TEST_F(ReadOnlyFileSystemTest, ListingsReportWhatTheDeviceCannotHold) {
    struct Observer : quarrin::platform::ListingObserver {
        void LeftOut(const std::wstring& folder, const std::string& name, DWORD reason) override {
            seen.push_back(folder + L"|" + std::wstring(name.begin(), name.end()) + L"|" +
                           std::to_wstring(reason));
        }
        void Unopenable(const std::wstring& folder, const std::wstring& name,
                        quarrin::platform::EntryKind kind) override {
            seen.push_back(folder + L"|" + name + L"|" +
                           (kind == quarrin::platform::EntryKind::NotAFile ? L"pipe" : L"?"));
        }
        std::vector<std::wstring> seen;
    } observer;
    sim.Files().SetListingObserver(&observer);
    sim.Files().SetReadOnly(true);
    sim.PutFile(L"SDHC\\navi_update\\a.dat", "a");
    sim.PutDirectory(L"SDHC\\navi_update\\maps");
    std::string folder = sim.HostPath(L"SDHC\\navi_update");
    ASSERT_EQ(symlink("maps", (folder + "/up").c_str()), 0);
    ASSERT_EQ(symlink("a.dat", (folder + "/b.dat").c_str()), 0);
    ASSERT_EQ(symlink("/etc", (folder + "/out").c_str()), 0);
    ASSERT_EQ(mkfifo((folder + "/pipe.dat").c_str(), 0644), 0);
    std::ofstream(folder + "/bad:name") << "x";

    for (int listing = 0; listing < 2; ++listing) {
        std::vector<std::wstring> entries;
        WIN32_FIND_DATAW data{};
        HANDLE search = FindFirstFileW(L"SDHC\\navi_update\\*.*", &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        do {
            entries.emplace_back(data.cFileName);
        } while (FindNextFileW(search, &data));
        FindClose(search);
        EXPECT_EQ(entries, (std::vector<std::wstring>{L"a.dat", L"maps", L"pipe.dat"}));
    }
    std::sort(observer.seen.begin(), observer.seen.end());
    std::vector<std::wstring> reported{
        L"SDHC\\navi_update|b.dat|5", L"SDHC\\navi_update|bad:name|123", L"SDHC\\navi_update|out|5",
        L"SDHC\\navi_update|pipe.dat|pipe", L"SDHC\\navi_update|up|5"};
    EXPECT_EQ(observer.seen, reported);
    HANDLE pipe = CreateFileW(L"SDHC\\navi_update\\pipe.dat", GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    sim.Files().SetListingObserver(nullptr);
}

TEST_F(ReadOnlyFileSystemTest, SearchPathFindsWhatLoadLibraryWouldLoad) {
    sim.PutFile(L"Windows\\zCompress.dll", "not loaded");
    sim.PutDirectory(L"SDHC\\fatutil.dll");
    wchar_t found[MAX_PATH] = {};
    EXPECT_EQ(SearchPathW(nullptr, L"zcompress.DLL", nullptr, MAX_PATH, found, nullptr), 21u);
    EXPECT_STREQ(found, L"Windows\\zcompress.DLL");
    EXPECT_EQ(SearchPathW(nullptr, L"SDHC\\zCompress.dll", nullptr, MAX_PATH, found, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SearchPathW(nullptr, L"SDHC\\fatutil.dll", nullptr, MAX_PATH, found, nullptr), 0u);
    EXPECT_EQ(SearchPathW(nullptr, L"zCompress.dll", nullptr, 4, found, nullptr), 22u);
}

// A library in the place of a pipe, or a case twin of one, is neither found nor loaded: the
// host's open of a pipe would wait for a writer for ever.
TEST_F(ReadOnlyFileSystemTest, LibrariesThatAreNoDeviceFilesAreNeitherFoundNorLoaded) {
    sim.PutDirectory(L"Windows");
    ASSERT_EQ(mkfifo(sim.HostPath(L"Windows\\fatutil.dll").c_str(), 0644), 0);
    sim.PutFile(L"Windows\\Lib.dll", "first");
    sim.PutFile(L"Windows\\lib.dll", "twin");
    WIN32_FIND_DATAW data{};
    FindClose(FindFirstFileW(L"Windows\\*.*", &data));  // the listing notes the twin
    wchar_t found[MAX_PATH] = {};
    for (const wchar_t* name : {L"fatutil.dll", L"lib.dll"}) {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        EXPECT_EQ(SearchPathW(nullptr, name, nullptr, MAX_PATH, found, nullptr), 0u);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryW(name), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
}

}  // namespace
