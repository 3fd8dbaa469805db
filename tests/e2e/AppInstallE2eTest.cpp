// The real binary installs an application package from a medium: the decompression library
// loaded at run time, the backup package, the touch keys and the update record.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::DeviceRoot;

namespace {

std::vector<std::string> TraceTexts(const fs::path& trace) {
    std::ifstream in(trace);
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) == 0)
            texts.push_back(line.substr(line.find(' ', 5) + 1));
    }
    return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& start) {
    for (const auto& text : texts) {
        if (text.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

class AppInstallE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* volume :
             {"Windows", "ResidentFlash", "ResidentFlash2", "ResidentFlash3"}) {
            fs::create_directories(root.Path() / volume);
        }
        fs::copy_file(QUARRIN_TOOLS "/zCompress.dll", root.Path() / "Windows" / "zCompress.dll",
                      fs::copy_options::overwrite_existing);
        root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
    }
    fs::path MakePackage(const std::string& version) {
        fs::path content = root.Path().parent_path() / (root.Path().filename().string() + "-pkg");
        fs::create_directories(content / "ZEL" / "res");
        std::ofstream(content / "ZEL" / "Velmoran.exe")
            << "#!/bin/sh\necho new > \"$(dirname \"$0\")/../../new-started\"\n";
        fs::permissions(content / "ZEL" / "Velmoran.exe", fs::perms::owner_exec,
                        fs::perm_options::add);
        std::ofstream(content / "ZEL" / "res" / "strings.dat") << std::string(100000, 's');
        fs::path package = root.Path() / "SDHC" / "ZEL_Update" / "ZEL.bin";
        fs::create_directories(package.parent_path());
        e2e::RunResult made =
            e2e::RunProgram(QUARRIN_TOOLS "/mkpackage",
                            {"--version", version, "-o", package.string(), content.string()});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        fs::remove_all(content);
        return package;
    }
    // A package made by hand, as a technician would: the 64-byte header, then what
    // `tar -C folder -c . | zstd` writes (names "./", "./ZEL/", ...).
    fs::path MakeTarPackage(const fs::path& folder) {
        std::string header(64, '\0');
        const std::string marker = "ZEL-OKUN-1", version = "V-tar";
        for (std::size_t i = 0; i < marker.size(); ++i)
            header[2 * i] = marker[i];
        for (std::size_t i = 0; i < version.size(); ++i)
            header[20 + 2 * i] = version[i];
        fs::path package = root.Put("SDHC/ZEL_Update/ZEL.bin", header);
        e2e::RunResult made =
            e2e::RunProgram("/bin/sh", {"-c", "tar -C \"$1\" -c . | zstd -q -c >> \"$2\"", "sh",
                                        folder.string(), package.string()});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return package;
    }
    e2e::RunResult Verify(const fs::path& package) {
        return e2e::RunProgram(QUARRIN_TOOLS "/mkpackage", {"--verify", package.string()});
    }
    e2e::RunResult Boot() {
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x02\0\0\0", 4));
        return e2e::RunQuarrin({"--root", root.Path().string(), "--screen-trace",
                                (root.Path() / "trace.txt").string(), "--clock-rate", "20"});
    }
    DeviceRoot root;
};

TEST_F(AppInstallE2eTest, APackageOnTheMediumReplacesTheApplication) {
    root.Put("ResidentFlash3/ZEL/old.dat", "old");
    root.Put("ResidentFlash2/UserConfig.dat", "settings");
    std::string keys(144, '\0');
    keys[32] = '\x20';
    keys[33] = '\x03';  // MAX3_X = 800
    root.Put("硬盘/ZEL_Update/Touchkey.bin", keys);
    fs::path package = MakePackage("V3.1.4");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
    EXPECT_FALSE(fs::exists(root.Path() / "ResidentFlash3/ZEL/old.dat"));
    EXPECT_TRUE(fs::exists(root.Path() / "ResidentFlash3/ZEL/res/strings.dat"));
    EXPECT_FALSE(fs::exists(root.Path() / "ResidentFlash2/UserConfig.dat"));
    EXPECT_EQ(root.Read("ResidentFlash/ZEL.bin"), root.Read("SDHC/ZEL_Update/ZEL.bin"));
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
    EXPECT_NE(root.Read("registry.reg").find("\"MAX3_X\"=dword:00000320"), std::string::npos);
    std::vector<std::string> texts = TraceTexts(root.Path() / "trace.txt");
    EXPECT_TRUE(Contains(texts, "准备升级应用程序，请稍候..."));
    EXPECT_TRUE(Contains(texts, "正在备份应用程序，请稍候...")) << ::testing::PrintToString(texts);
    EXPECT_TRUE(Contains(texts, "应用程序升级成功！"));
    EXPECT_NE(run.err.find("LoadLibrary zCompress.dll OK!\r\n"), std::string::npos);
    EXPECT_NE(run.err.find("CP OK!\r\n"), std::string::npos);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "new-started"));
}

// UTF-16LE of ASCII text, with the byte-order mark, as a registry editor exports a file.
std::string AsciiToUtf16LeWithMark(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Such a registry was once refused ("line 1: missing header"), started empty and was never
// written: the touch keys of the install went nowhere, and nothing said so.
TEST_F(AppInstallE2eTest, ARegistryExportedByAnEditorReceivesTheTouchKeysInItsOwnForm) {
    root.Put("registry.reg",
             AsciiToUtf16LeWithMark(
                 "Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\r\n"
                 "\"CalibrationData\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,\\\r\n"
                 "  0e,0f\r\n"
                 "\"MIN_X\"=dword:00000010\r\n\r\n"));
    std::string keys(144, '\0');
    keys[32] = '\x20';
    keys[33] = '\x03';  // MAX3_X = 800
    root.Put("硬盘/ZEL_Update/Touchkey.bin", keys);
    MakePackage("V1");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("registry file"), std::string::npos) << run.err;
    std::string registry = root.Read("registry.reg");
    EXPECT_EQ(registry.rfind("\xFF\xFEW\0i\0n\0", 0), 0u) << "still UTF-16LE with its mark";
    EXPECT_NE(registry.find(AsciiToUtf16LeWithMark("\"MAX3_X\"=dword:00000320\r\n").substr(2)),
              std::string::npos);
    EXPECT_NE(registry.find(AsciiToUtf16LeWithMark("\"MIN_X\"=dword:00000010\r\n").substr(2)),
              std::string::npos)
        << "the values that were there are kept";
}

// A touch-key file cut short by a failed copy once wrote zeros over the unit's calibration
// without a word, and the touch keys stopped working.
TEST_F(AppInstallE2eTest, AShortTouchKeyFileLeavesTheUnitsCalibrationAndSaysSo) {
    const std::string calibrated =
        "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n"
        "\"MAX1_X\"=dword:00000320\n"
        "\"MIN9_Y\"=dword:000002fd\n";
    root.Put("registry.reg", "REGEDIT4\n\n" + calibrated + "\n");
    root.Put("硬盘/ZEL_Update/Touchkey.bin", std::string(100, '\1'));
    MakePackage("V1");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级成功！"));
    EXPECT_NE(run.err.find("Touchkey.bin holds 100 of 144 bytes: touch keys not imported\r\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(root.Read("registry.reg").find(calibrated), std::string::npos)
        << root.Read("registry.reg");
}

TEST_F(AppInstallE2eTest, AMissingLibraryFailsWithTwelveAndAsksForARetry) {
    fs::remove(root.Path() / "Windows" / "zCompress.dll");
    MakePackage("V1");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级失败！错误码:12"));
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
    EXPECT_NE(run.err.find("LoadLibrary zCompress.dll Failed!\r\n"), std::string::npos);
    EXPECT_NE(run.err.find("CP Failed!Error Code:3\r\n"), std::string::npos);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
}

TEST_F(AppInstallE2eTest, ALibraryWithoutTheUnpackExportFailsWithFourteen) {
    fs::copy_file(QUARRIN_LIBRARY_WITHOUT_UNPACK, root.Path() / "Windows" / "zCompress.dll",
                  fs::copy_options::overwrite_existing);
    root.Put("ResidentFlash3/ZEL/old.dat", "old");
    MakePackage("V1");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级失败！错误码:14"));
    EXPECT_NE(run.err.find("LoadLibrary zCompress.dll OK!\r\nGetProcAddress Failed!\r\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
    EXPECT_EQ(root.Read("ResidentFlash3/ZEL/old.dat"), "old") << "the application folder stays";
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
}

TEST_F(AppInstallE2eTest, ALeftoverThatCannotBeDeletedFailsWithTenAndKeepsTheApplication) {
    root.Put("ResidentFlash3/ZEL/old.dat", "old");
    root.Put("ResidentFlash3/_Temp_$/locked/part.dat", "part");
    // A read-only folder: the device does not remove it, and without the host's administrator
    // rights the file in it cannot be deleted either.
    fs::path locked = root.Path() / "ResidentFlash3/_Temp_$/locked";
    fs::permissions(locked,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    MakePackage("V1");
    e2e::RunResult run = Boot();
    fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级失败！错误码:10"));
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
    EXPECT_EQ(root.Read("ResidentFlash3/ZEL/old.dat"), "old");
    EXPECT_TRUE(fs::exists(locked));
    EXPECT_EQ(run.err.find("LoadLibrary"), std::string::npos)
        << "nothing after the failed deletion";
}

TEST_F(AppInstallE2eTest, TheLibraryIsAlsoFoundAtTheRootOfTheMedium) {
    MakePackage("V2");
    fs::rename(root.Path() / "Windows" / "zCompress.dll", root.Path() / "SDHC" / "zCompress.dll");
    e2e::RunResult run = Boot();
    EXPECT_NE(run.err.find("LoadLibrary Windows zCompress.dll Failed! 126\r\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("LoadLibrary zCompress.dll OK!\r\n"), std::string::npos);
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级成功！"));
}

TEST_F(AppInstallE2eTest, ACorruptPackageFailsWithItsCodeAndWritesNothingOutside) {
    fs::path package = MakePackage("V1");
    {
        std::fstream file(package, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(200);
        file.write("garbage-garbage-garbage", 23);
    }
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> texts = TraceTexts(root.Path() / "trace.txt");
    bool failed = false;
    for (const auto& text : texts)
        failed |= text.rfind("应用程序升级失败！错误码:100", 0) == 0;
    EXPECT_TRUE(failed);
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
}

TEST_F(AppInstallE2eTest, APackageMadeWithTarFromInsideTheFolderChecksAndInstalls) {
    fs::path content = root.Path() / "content";
    root.Put("content/ZEL/res/strings.dat", "strings");
    root.PutProgram("content/ZEL/Velmoran.exe", root.Path() / "new-started");
    fs::path package = MakeTarPackage(content);
    e2e::RunResult verified = Verify(package);
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(TraceTexts(root.Path() / "trace.txt"), "应用程序升级成功！"));
    EXPECT_EQ(root.Read("ResidentFlash3/ZEL/res/strings.dat"), "strings");
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "new-started"));
}

// Such a package once showed success, wrote 0 to the record and replaced the backup, and
// every later boot found no application.
TEST_F(AppInstallE2eTest, APackageWithoutTheApplicationFailsAndKeepsTheBackup) {
    root.Put("content/ZEL/readme.txt", "no program here");
    root.Put("ResidentFlash/ZEL.bin", "the last good package");
    fs::path package = MakeTarPackage(root.Path() / "content");
    e2e::RunResult verified = Verify(package);
    EXPECT_EQ(verified.exitCode, 1);
    EXPECT_NE(verified.err.find("no ZEL/Velmoran.exe"), std::string::npos) << verified.err;
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> texts = TraceTexts(root.Path() / "trace.txt");
    EXPECT_TRUE(Contains(texts, "应用程序升级失败！错误码:1007"))
        << ::testing::PrintToString(texts);
    EXPECT_FALSE(Contains(texts, "应用程序升级成功！"));
    EXPECT_EQ(root.Read("ResidentFlash/ZEL.bin"), "the last good package");
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
}

}  // namespace
