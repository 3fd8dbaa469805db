// The registry: the Win32 calls' results, and the .reg file that keeps it on the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Win32.h"
#include "platform/common/TextCodec.h"
#include "platform/registry/RegFileEncoding.h"
#include "platform/registry/RegistryFile.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/E2eSupport.h"

using quarrin::platform::DecodeRegFile;
using quarrin::platform::FileOp;
using quarrin::platform::ParseRegFile;
using quarrin::platform::Registry;
using quarrin::platform::RegistryFile;
using quarrin::platform::SimPlatform;

namespace {

const wchar_t kTouch[] = L"HARDWARE\\DEVICEMAP\\TOUCH";
const wchar_t kTouchFull[] = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class RegistryApiTest : public ::testing::Test {
protected:
    SimPlatform sim;
};

TEST_F(RegistryApiTest, KeysAreOpenedNeverCreated) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"hardware\\devicemap\\touch", 0, KEY_QUERY_VALUE, &key),
        ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nowhere", 0, KEY_SET_VALUE, &key),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(sim.DeviceRegistry().KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nowhere"));
}

TEST_F(RegistryApiTest, ValuesRoundTripWithSizesAndErrorsAsOnTheDevice) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTouch, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    DWORD minX = 123;
    EXPECT_EQ(RegSetValueExW(key, L"MIN_X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&minX), 4),
              ERROR_SUCCESS);
    BYTE blob[40];
    for (int i = 0; i < 40; ++i)
        blob[i] = static_cast<BYTE>(i);
    EXPECT_EQ(RegSetValueExW(key, L"CalibrationData", 0, REG_BINARY, blob, 40), ERROR_SUCCESS);

    DWORD value = 0, type = 0, size = 4;
    EXPECT_EQ(
        RegQueryValueExW(key, L"min_x", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 123u);
    EXPECT_EQ(type, REG_DWORD);

    BYTE small[16] = {};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, L"CalibrationData", nullptr, nullptr, small, &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(small[5], 0) << "a too small buffer stays untouched";

    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"MAX_Y", nullptr, nullptr, nullptr, &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, AccessRightsOfTheOpenKeyAreEnforced) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTouch, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, L"MIN_X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
    EXPECT_FALSE(sim.DeviceRegistry().Dword(kTouchFull, L"MIN_X"));
}

class RegistryFileTest : public ::testing::Test {
protected:
    std::string Path() const { return sim.Root() + "/registry.reg"; }
    SimPlatform sim;
};

TEST_F(RegistryFileTest, ChangesSurviveARestartInTheRegFileFormat) {
    {
        RegistryFile file(Path(), &sim.Files());
        Registry registry(file.Load(), &file);
        registry.SetDword(kTouchFull, L"MAX3_X", 0xabcd);
        ASSERT_EQ(registry.Set(kTouchFull, L"CalibrationData", REG_BINARY, {1, 2, 0xfe}),
                  ERROR_SUCCESS);
        registry.CreateKey(L"HKEY_CURRENT_USER\\Software\\Local AppWizard-Generated Applications");
        ASSERT_EQ(registry.Set(L"HKEY_CURRENT_USER\\Software\\Local AppWizard-Generated "
                               L"Applications",
                               L"名字 \"quoted\"", REG_SZ, {'x', 0, 0, 0, 0, 0, 0, 0}),
                  ERROR_SUCCESS);
    }
    std::string text = e2e::ReadFile(Path());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n"), std::string::npos);
    EXPECT_NE(text.find("\"MAX3_X\"=dword:0000abcd\n"), std::string::npos);
    EXPECT_NE(text.find("\"CalibrationData\"=hex:01,02,fe\n"), std::string::npos);

    RegistryFile again(Path(), &sim.Files());
    Registry reloaded(again.Load(), &again);
    EXPECT_EQ(reloaded.Dword(kTouchFull, L"max3_x"), 0xabcdu);
    quarrin::platform::RegistryValue value;
    ASSERT_EQ(reloaded.Query(L"HKEY_CURRENT_USER\\Software\\Local AppWizard-Generated "
                             L"Applications",
                             L"名字 \"quoted\"", value),
              ERROR_SUCCESS);
    EXPECT_EQ(value.type, REG_SZ);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(value.data.data())), L"x");
    EXPECT_FALSE(std::filesystem::exists(Path() + ".tmp"));
}

TEST_F(RegistryFileTest, AMissingFileStartsWithTheDevicesTouchKey) {
    RegistryFile file(Path(), &sim.Files());
    Registry registry(file.Load(), &file);
    EXPECT_TRUE(registry.KeyExists(kTouchFull));
    EXPECT_FALSE(std::filesystem::exists(Path())) << "nothing is written before a change";
}

TEST_F(RegistryFileTest, AMalformedFileIsReportedByLineAndLeftAlone) {
    const std::string broken =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:12\n"
        "\"y\"=hex:1,zz\n";
    WriteText(Path(), broken);
    testing::internal::CaptureStderr();
    RegistryFile file(Path(), &sim.Files());
    Registry registry(file.Load(), &file);
    std::string complaint = testing::internal::GetCapturedStderr();
    EXPECT_NE(complaint.find("line 5"), std::string::npos) << complaint;
    EXPECT_FALSE(registry.KeyExists(L"HKEY_LOCAL_MACHINE\\A"));
    registry.CreateKey(kTouchFull);
    EXPECT_EQ(registry.Set(kTouchFull, L"MIN_X", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(e2e::ReadFile(Path()), broken);
}

// Text the quoted form cannot carry (a line break, a lone surrogate half, a value past
// U+10FFFF) once broke the whole file at the next load, or came back changed.
TEST_F(RegistryFileTest, EveryValueThatIsSetSurvivesARestartAndKeepsTheFileReadable) {
    auto sz = [](const std::wstring& text) {
        std::wstring terminated = text + L'\0';
        const auto* bytes = reinterpret_cast<const BYTE*>(terminated.data());
        return std::vector<BYTE>(bytes, bytes + terminated.size() * sizeof(wchar_t));
    };
    const std::vector<std::wstring> texts = {L"two\nlines", L"half \xD800 surrogate",
                                             std::wstring(1, static_cast<wchar_t>(0x110000)),
                                             L"plain 文字"};
    {
        RegistryFile file(Path(), &sim.Files());
        Registry registry(file.Load(), &file);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            ASSERT_EQ(registry.Set(kTouchFull, L"Text" + std::to_wstring(i), REG_SZ, sz(texts[i])),
                      ERROR_SUCCESS);
        }
        for (const wchar_t* name : {L"line\nbreak", L"\xDC00"}) {
            EXPECT_EQ(registry.Set(kTouchFull, name, REG_DWORD, {1, 0, 0, 0}),
                      ERROR_INVALID_PARAMETER);
            EXPECT_FALSE(registry.Dword(kTouchFull, name));
        }
        registry.SetDword(kTouchFull, L"MIN_X", 7);
    }
    EXPECT_NE(e2e::ReadFile(Path()).find("\"Text3\"=\"plain 文字\""), std::string::npos);
    RegistryFile again(Path(), &sim.Files());
    Registry reloaded(again.Load(), &again);
    EXPECT_EQ(reloaded.Dword(kTouchFull, L"MIN_X"), 7u);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        quarrin::platform::RegistryValue value;
        ASSERT_EQ(reloaded.Query(kTouchFull, L"Text" + std::to_wstring(i), value), ERROR_SUCCESS);
        EXPECT_EQ(value.type, REG_SZ);
        EXPECT_EQ(value.data, sz(texts[i])) << i;
    }
}

TEST(RegFileParserTest, RejectsWhatItCannotRepresent) {
    const char* header = "Windows Registry Editor Version 5.00\n";
    for (const std::string& body :
         {std::string("\"v\"=dword:1\n"), std::string("[HKEY_NOWHERE\\A]\n"),
          std::string("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n"),
          std::string("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"open\n"),
          std::string("[HKEY_LOCAL_MACHINE\\A]\nstray\n"),
          std::string("[-HKEY_LOCAL_MACHINE\\A]\n")}) {
        auto parsed = ParseRegFile(header + body);
        EXPECT_FALSE(parsed.tree) << body;
        EXPECT_GE(parsed.errorLine, 2) << body;
    }
    EXPECT_FALSE(ParseRegFile("[HKEY_LOCAL_MACHINE\\A]\n").tree) << "header required";
    EXPECT_TRUE(ParseRegFile("").tree) << "an empty file is an empty registry";
    auto continued =
        ParseRegFile(std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:01,02,\\\n  03\n");
    ASSERT_TRUE(continued.tree);
    EXPECT_EQ(continued.tree->Find(L"HKEY_LOCAL_MACHINE\\A")->Find(L"b")->data.size(), 3u);
}

// A file laid out as a registry editor exports it: header, CR LF, hex values continued over
// lines with a trailing backslash, hex(7), dword and the default value.
const std::string kEditorExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\r\n"
    "@=\"触摸屏 \U0001F600\"\r\n"
    "\"CalibrationData\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n"
    "  15,16,17,18,19\r\n"
    "\"Names\"=hex(7):41,00,00,00,42,00,00,00,00,00,00,00\r\n"
    "\"MAX1_X\"=dword:00000320\r\n"
    "\r\n";

// UTF-16LE with a byte-order mark, independent of the code under test.
std::string Utf16LeWithMark(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (wchar_t c : quarrin::platform::Utf8ToWide(utf8)) {
        auto code = static_cast<char32_t>(c);
        auto unit = [&out](char32_t u) {
            out.push_back(static_cast<char>(u & 0xFF));
            out.push_back(static_cast<char>(u >> 8));
        };
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

struct RegForm {
    const char* name;
    std::string bytes;
    std::string mark;  // what the file written back begins with
    bool crlf;
};

void PrintTo(const RegForm& form, std::ostream* os) {
    *os << form.name;
}

class RegistryFileFormTest : public RegistryFileTest,
                             public ::testing::WithParamInterface<RegForm> {};

// An editor's UTF-16 export was once refused ("line 1: missing header"): the registry started
// empty and the touch keys of an install were never written.
TEST_P(RegistryFileFormTest, IsReadAndWrittenBackInTheFormItCameIn) {
    const RegForm& form = GetParam();
    WriteText(Path(), form.bytes);
    {
        RegistryFile file(Path(), &sim.Files());
        Registry registry(file.Load(), &file);
        EXPECT_EQ(registry.Dword(kTouchFull, L"MAX1_X"), 800u);
        quarrin::platform::RegistryValue value;
        ASSERT_EQ(registry.Query(kTouchFull, L"CalibrationData", value), ERROR_SUCCESS);
        EXPECT_EQ(value.data.size(), 26u);
        EXPECT_EQ(value.data.back(), 0x19);
        ASSERT_EQ(registry.Query(kTouchFull, L"Names", value), ERROR_SUCCESS);
        EXPECT_EQ(value.type, 7u) << "REG_MULTI_SZ";
        ASSERT_EQ(registry.Query(kTouchFull, L"", value), ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(value.data.data())),
                  L"触摸屏 \U0001F600");
        registry.SetDword(kTouchFull, L"MAX3_X", 0x320);
    }
    std::string written = e2e::ReadFile(Path());
    EXPECT_EQ(written.substr(0, form.mark.size()), form.mark);
    auto decoded = DecodeRegFile(written);
    ASSERT_TRUE(decoded.utf8);
    EXPECT_EQ(decoded.layout.crlf, form.crlf);
    EXPECT_NE(decoded.utf8->find(form.crlf ? "\"MAX3_X\"=dword:00000320\r\n"
                                           : "\"MAX3_X\"=dword:00000320\n"),
              std::string::npos);
    if (form.mark == "\xFF\xFE") {
        EXPECT_EQ(written, Utf16LeWithMark(*decoded.utf8)) << "UTF-16LE throughout";
    }
    RegistryFile again(Path(), &sim.Files());
    Registry reloaded(again.Load(), &again);
    EXPECT_EQ(reloaded.Dword(kTouchFull, L"MAX3_X"), 0x320u);
    EXPECT_EQ(reloaded.Dword(kTouchFull, L"MAX1_X"), 800u);
}

std::string WithLf(std::string text) {
    std::erase(text, '\r');
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RegistryFileFormTest,
    ::testing::Values(
        RegForm{"Utf16EditorExport", Utf16LeWithMark(kEditorExport), "\xFF\xFE", true},
        RegForm{"Utf8WithMark", "\xEF\xBB\xBF" + kEditorExport, "\xEF\xBB\xBFWindows", true},
        RegForm{"Utf8", WithLf(kEditorExport), "Windows", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegFileEncodingTest, UndecodableFilesAreReportedByLine) {
    std::string text =
        Utf16LeWithMark("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\A]\r\n");
    std::string loneHalf = text + std::string("\x00\xD8\x0A\x00", 4);
    auto decoded = DecodeRegFile(loneHalf);
    EXPECT_FALSE(decoded.utf8);
    EXPECT_EQ(decoded.errorLine, 4);
    EXPECT_FALSE(DecodeRegFile(text + "\x41").utf8) << "half a character at the end";
    auto bigEndian = DecodeRegFile("\xFE\xFF\x00W");
    EXPECT_FALSE(bigEndian.utf8);
    EXPECT_NE(bigEndian.error.find("big-endian"), std::string::npos);
}

TEST_F(RegistryFileTest, AnUndecodableFileIsReportedAndLeftAlone) {
    const std::string broken = "\xFF\xFE" + std::string("W\x00\x00\xDC", 4);
    WriteText(Path(), broken);
    testing::internal::CaptureStderr();
    RegistryFile file(Path(), &sim.Files());
    Registry registry(file.Load(), &file);
    std::string complaint = testing::internal::GetCapturedStderr();
    EXPECT_NE(complaint.find("line 1: unpaired UTF-16 surrogate"), std::string::npos) << complaint;
    registry.CreateKey(kTouchFull);
    EXPECT_EQ(registry.Set(kTouchFull, L"MIN_X", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(e2e::ReadFile(Path()), broken);
}

TEST_F(RegistryFileTest, AFailedSaveKeepsTheOldFileAndTheOldValue) {
    RegistryFile file(Path(), &sim.Files());
    Registry registry(file.Load(), &file);
    registry.SetDword(kTouchFull, L"MIN_X", 1);
    std::string good = e2e::ReadFile(Path());
    int before = sim.MutationCount();

    sim.FailOperation(FileOp::Move, L"registry.reg", ERROR_DISK_FULL);
    EXPECT_EQ(registry.Set(kTouchFull, L"MIN_X", REG_DWORD, {2, 0, 0, 0}), ERROR_DISK_FULL);
    EXPECT_EQ(registry.Dword(kTouchFull, L"MIN_X"), 1u);
    EXPECT_EQ(e2e::ReadFile(Path()), good);
    EXPECT_FALSE(std::filesystem::exists(Path() + ".tmp"));
    EXPECT_GE(sim.MutationCount() - before, 3) << "create, write and rename pass the hook";
}

}  // namespace
