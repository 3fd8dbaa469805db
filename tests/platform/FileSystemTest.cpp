// The device file system: Win32 results and last errors, case-insensitive names, sharing,
// attributes and confinement to the device root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::FileOp;
using quarrin::platform::SimPlatform;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    SetLastError(kSentinel);
    return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(HANDLE file) {
    std::string out;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        out.append(buffer, read);
    return out;
}

class FileSystemTest : public ::testing::Test {
protected:
    SimPlatform sim;
};

TEST_F(FileSystemTest, NamesMatchWithoutRegardToCase) {
    sim.PutFile(L"Storage Card\\ZEL_Update\\ZEL.bin", "package");
    HANDLE file = Open(L"storage card\\zel_update\\zel.BIN", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAll(file), "package");
    CloseHandle(file);
    EXPECT_NE(GetFileAttributesW(L"\\STORAGE CARD\\Zel_Update"), INVALID_FILE_ATTRIBUTES);

    // Writing through a differently cased path replaces the existing file, not a twin.
    file = Open(L"STORAGE CARD\\ZEL_UPDATE\\zel.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(file);
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\ZEL_Update\\ZEL.bin"), "");
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(sim.HostPath(L"Storage Card\\ZEL_Update")),
                  std::filesystem::directory_iterator{}),
              1);
}

TEST_F(FileSystemTest, MissingFilesAndFoldersGiveTheirCodes) {
    sim.PutDirectory(L"ResidentFlash2");
    EXPECT_EQ(Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ, 0, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(L"ResidentFlash9\\UpdateInfo.dat", GENERIC_READ, 0, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(L"ResidentFlash2\\none"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(kSentinel);
    EXPECT_FALSE(CreateDirectoryW(L"ResidentFlash9\\sub", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(kSentinel);
    EXPECT_EQ(GetFileAttributesW(L"ResidentFlash2\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileSystemTest, DispositionsFollowTheDevice) {
    sim.PutFile(L"A\\f", "x");
    EXPECT_EQ(Open(L"A\\f", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    HANDLE file = Open(L"A\\g", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(file);
    file = Open(L"A\\g", GENERIC_WRITE, 0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(file);
    EXPECT_EQ(Open(L"A\\missing", GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(L"A", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FileSystemTest, AFileOpenedWithoutSharingCannotBeOpenedAgain) {
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", "\x04");
    HANDLE first =
        Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(L"ResidentFlash2\\UpdateInfo.dat"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(first);

    // Shared for reading: a second reader is welcome, a writer is not.
    HANDLE reader =
        Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second =
        Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(
        Open(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(second);
    CloseHandle(reader);
}

TEST_F(FileSystemTest, ReadOnlyFilesResistUntilTheAttributeIsReset) {
    sim.PutFile(L"ResidentFlash\\ZEL.bin", "backup");
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash\\ZEL.bin", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(L"ResidentFlash\\ZEL.bin"), FILE_ATTRIBUTE_READONLY);
    SetLastError(kSentinel);
    EXPECT_FALSE(DeleteFileW(L"ResidentFlash\\ZEL.bin"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(L"ResidentFlash\\ZEL.bin", GENERIC_WRITE, 0, CREATE_ALWAYS),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SetLastError(kSentinel);
    EXPECT_FALSE(CopyFileW(L"ResidentFlash\\ZEL.bin", L"ResidentFlash\\ZEL.bin", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash\\ZEL.bin", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(L"ResidentFlash\\ZEL.bin"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileW(L"ResidentFlash\\ZEL.bin"));
}

TEST_F(FileSystemTest, NoPathReachesOutsideTheDeviceRoot) {
    std::filesystem::path outside =
        std::filesystem::path(sim.Root()).parent_path() / ("outside-" + std::to_string(getpid()));
    std::filesystem::create_directories(outside);
    sim.PutDirectory(L"Storage Card");
    std::filesystem::create_directory_symlink(outside, sim.HostPath(L"Storage Card\\escape"));
    std::filesystem::create_directory_symlink(sim.HostPath(L"Storage Card"),
                                              sim.HostPath(L"inside"));

    EXPECT_EQ(Open(L"Storage Card\\..\\..\\x", GENERIC_WRITE, 0, CREATE_ALWAYS),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(L"Storage Card\\escape\\x", GENERIC_WRITE, 0, CREATE_ALWAYS),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SetLastError(kSentinel);
    EXPECT_FALSE(CreateDirectoryW(L"Storage Card\\escape\\d", nullptr));
    EXPECT_FALSE(CopyFileW(L"Storage Card\\escape\\x", L"Storage Card\\y", FALSE));
    EXPECT_FALSE(MoveFileW(L"Storage Card", L"Storage Card\\escape\\moved"));
    EXPECT_FALSE(DeleteFileW(L"/etc/passwd"));  // a device path, below the root
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_empty(outside));

    // A link that stays inside the root works like the folder it names.
    HANDLE file = Open(L"inside\\through-link", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(sim.Exists(L"Storage Card\\through-link"));

    // The search does not list the escaping link.
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(L"Storage Card\\*.*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names{data.cFileName};
    while (FindNextFileW(search, &data))
        names.push_back(data.cFileName);
    FindClose(search);
    EXPECT_EQ(names, std::vector<std::wstring>{L"through-link"});
    std::filesystem::remove_all(outside);
}

// Names that differ in case are found through a remembered listing of the folder; changes
// made beside the file system (on the host, or by a second file system over the same root)
// and its own changes must both show in it.
TEST_F(FileSystemTest, CaseFoldedLookupsSeeRenamesFromEveryWay) {
    sim.PutFile(L"SDHC\\navi_update\\a.dat", "a");
    EXPECT_NE(GetFileAttributesW(L"SDHC\\navi_update\\A.DAT"), INVALID_FILE_ATTRIBUTES);

    std::filesystem::rename(sim.HostPath(L"SDHC\\navi_update\\a.dat"),
                            sim.HostPath(L"SDHC\\navi_update\\Host.dat"));
    EXPECT_NE(GetFileAttributesW(L"SDHC\\navi_update\\HOST.DAT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(L"SDHC\\navi_update\\A.DAT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    quarrin::platform::DeviceFileSystem other(sim.Root());
    ASSERT_TRUE(other.MoveFile(L"SDHC\\navi_update\\Host.dat", L"SDHC\\navi_update\\Other.dat"));
    EXPECT_NE(GetFileAttributesW(L"SDHC\\navi_update\\other.DAT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(L"SDHC\\navi_update\\host.dat"), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(MoveFileW(L"SDHC\\NAVI_UPDATE\\OTHER.DAT", L"SDHC\\navi_update\\Own.dat"));
    EXPECT_NE(GetFileAttributesW(L"sdhc\\navi_update\\OWN.DAT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(L"sdhc\\navi_update\\OTHER.DAT"), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(DeleteFileW(L"SDHC\\navi_update\\own.DAT"));
    EXPECT_EQ(GetFileAttributesW(L"sdhc\\navi_update\\Own.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(std::filesystem::is_empty(sim.HostPath(L"SDHC\\navi_update")));

    // A folder removed and made anew on the host is another folder: its listing is read again.
    std::filesystem::remove_all(sim.HostPath(L"SDHC\\navi_update"));
    sim.PutFile(L"SDHC\\navi_update\\New.map", "n");
    EXPECT_NE(GetFileAttributesW(L"SDHC\\navi_update\\new.MAP"), INVALID_FILE_ATTRIBUTES);
}

// A host pipe would block an open for reading forever: the device holds no such thing.
TEST_F(FileSystemTest, PipesOnTheHostAreNeitherOpenedNorCopied) {
    sim.PutDirectory(L"SDHC\\navi_update");
    ASSERT_EQ(mkfifo(sim.HostPath(L"SDHC\\navi_update\\pipe").c_str(), 0666), 0);
    EXPECT_EQ(Open(L"SDHC\\navi_update\\pipe", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SetLastError(kSentinel);
    EXPECT_FALSE(CopyFileW(L"SDHC\\navi_update\\pipe", L"SDHC\\copy", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(sim.Exists(L"SDHC\\copy"));
}

TEST_F(FileSystemTest, SearchesListEntriesWithoutDotsAndMatchWildcards) {
    sim.PutFile(L"SDHC\\navi_update\\b.dat", "bb");
    sim.PutFile(L"SDHC\\navi_update\\A.map", "a");
    sim.PutDirectory(L"SDHC\\navi_update\\sub");
    sim.PutDirectory(L"SDHC\\empty");

    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(L"SDHC\\navi_update\\*.*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::pair<std::wstring, DWORD>> entries{{data.cFileName, data.dwFileAttributes}};
    while (FindNextFileW(search, &data))
        entries.emplace_back(data.cFileName, data.dwFileAttributes);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    FindClose(search);
    std::vector<std::pair<std::wstring, DWORD>> expected{{L"A.map", FILE_ATTRIBUTE_NORMAL},
                                                         {L"b.dat", FILE_ATTRIBUTE_NORMAL},
                                                         {L"sub", FILE_ATTRIBUTE_DIRECTORY}};
    EXPECT_EQ(entries, expected);

    search = FindFirstFileW(L"sdhc\\NAVI_UPDATE\\*.MAP", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, L"A.map");
    EXPECT_EQ(data.nFileSizeLow, 1u);
    FindClose(search);

    EXPECT_EQ(FindFirstFileW(L"SDHC\\empty\\*.*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(L"SDHC\\none\\*.*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileSystemTest, FoldersMoveCopyAndRemoveWithDeviceRules) {
    sim.PutFile(L"Storage Card\\UPD\\inner", "1");
    ASSERT_TRUE(MoveFileW(L"Storage Card\\UPD", L"Storage Card\\UPDOS"));
    EXPECT_TRUE(sim.Exists(L"Storage Card\\UPDOS\\inner"));
    SetLastError(kSentinel);
    EXPECT_FALSE(MoveFileW(L"Storage Card\\UPD", L"Storage Card\\UPDOS"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    sim.PutDirectory(L"Storage Card\\UPD");
    EXPECT_FALSE(MoveFileW(L"Storage Card\\UPD", L"Storage Card\\UPDOS"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    EXPECT_FALSE(RemoveDirectoryW(L"Storage Card\\UPDOS"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(RemoveDirectoryW(L"Storage Card"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryW(L"Storage Card\\UPD", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    EXPECT_FALSE(CopyFileW(L"Storage Card\\UPDOS\\inner", L"Storage Card\\x\\y", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CopyFileW(L"Storage Card\\UPDOS\\inner", L"Storage Card\\copy", TRUE));
    EXPECT_FALSE(CopyFileW(L"Storage Card\\UPDOS\\inner", L"Storage Card\\copy", TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\copy"), "1");
}

TEST_F(FileSystemTest, FilePointerAndSizeFollowWin32) {
    sim.PutFile(L"SDHC\\ZEL_Update\\MCU", std::string(100, 'm'));
    HANDLE file = Open(L"SDHC\\ZEL_Update\\MCU", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 100u);
    EXPECT_EQ(high, 0u);
    // Beyond the end is a valid position; reading there gives no bytes.
    EXPECT_EQ(SetFilePointer(file, 131047, nullptr, FILE_BEGIN), 131047u);
    char buffer[24];
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(file);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(file, buffer, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileSystemTest, InjectedFaultsFailTheNamedOperationOnly) {
    sim.PutFile(L"ResidentFlash2\\UserConfig.dat", "u");
    sim.PutFile(L"ResidentFlash2\\UiData.xml", "x");
    sim.FailOperation(FileOp::Delete, L"\\residentflash2\\userconfig.dat", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(L"ResidentFlash2\\UserConfig.dat"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileW(L"ResidentFlash2\\UiData.xml"));
    EXPECT_TRUE(DeleteFileW(L"ResidentFlash2\\UserConfig.dat"));  // only the next one failed
    EXPECT_EQ(sim.MutationCount(), 3);
}

}  // namespace
