#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

namespace {

TEST(WsprintfTest, FormatsWithTheDevicesMeaningOfPercentS) {
    wchar_t buffer[128];
    EXPECT_EQ(wsprintfW(buffer, L"OpenStore %s Failed!Error Code:%d\r\n", L"DSK1:", 2), 37);
    EXPECT_STREQ(buffer, L"OpenStore DSK1: Failed!Error Code:2\r\n");
    wsprintfW(buffer, L"%02x %02x %s", 0x5A, 0x0F, L"正在检测");
    EXPECT_STREQ(buffer, L"5a 0f 正在检测");
    wsprintfW(buffer, L"%d%s", 57, L"%");
    EXPECT_STREQ(buffer, L"57%");
    wsprintfW(buffer, L"%hs|%S|%c|%%", "narrow", "also", L'w');
    EXPECT_STREQ(buffer, L"narrow|also|w|%");
    wsprintfW(buffer, L"CP Failed!Error Code:%d\r\n", -5);
    EXPECT_STREQ(buffer, L"CP Failed!Error Code:-5\r\n");
}

TEST(WsprintfTest, NeverWritesPastACharacterArray) {
    wchar_t small[8];
    std::wstring longText(300, L'x');
    EXPECT_EQ(wsprintfW(small, L"%s", longText.c_str()), 7);
    EXPECT_EQ(std::wstring(small), std::wstring(7, L'x'));
}

TEST(MultiByteToWideCharTest, ConvertsTheSystemCodePage) {
    // "版本" in CP936, then NUL filling as in a firmware image's version field.
    const char field[8] = {'\xb0', '\xe6', '\xb1', '\xbe', 'V', '1', 0, 0};
    wchar_t out[16] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, field, 8, out, 8), 6);  // two double-byte characters
    EXPECT_STREQ(out, L"版本V1");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, field, 8, out, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const char invalid[2] = {'\xff', 'A'};  // 0xFF leads no character
    wchar_t replaced[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, invalid, 2, replaced, 4), 2);
    EXPECT_STREQ(replaced, L"?A");
}

TEST(DebugPrintTest, LinesReachTheDebugOutputExactly) {
    quarrin::platform::SimPlatform sim;
    NKDbgPrintfW(L"Quarrin quit!\r\n");
    NKDbgPrintfW(L"%s", L"100% done\r\n");
    std::vector<std::wstring> expected{L"Quarrin quit!\r\n", L"100% done\r\n"};
    EXPECT_EQ(sim.DebugLines(), expected);
}

}  // namespace
