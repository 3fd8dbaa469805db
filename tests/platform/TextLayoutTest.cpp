#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gdi/TextLayout.h"

using quarrin::gdi::BreakTextLines;
using ::testing::ElementsAre;

namespace {

// Every character is 10 pixels wide, so widths read as character counts.
std::vector<std::wstring> Lines(std::wstring_view text, int maxWidth, bool wordBreak = true) {
    std::vector<std::wstring> out;
    for (const auto& line :
         BreakTextLines(text, maxWidth, wordBreak, false, [](wchar_t) { return 10; })) {
        out.emplace_back(text.substr(line.begin, line.end - line.begin));
        EXPECT_EQ(line.width, 10 * static_cast<int>(line.end - line.begin));
    }
    return out;
}

}  // namespace

TEST(TextLayoutTest, LineEndsBreakLinesButATrailingOneAddsNone) {
    EXPECT_THAT(Lines(L"one\r\ntwo", 1000), ElementsAre(L"one", L"two"));
    EXPECT_THAT(Lines(L"one\r\n", 1000), ElementsAre(L"one"));
    EXPECT_THAT(Lines(L"a\r\n\r\nb", 1000), ElementsAre(L"a", L"", L"b"));
    EXPECT_THAT(Lines(L"a\nb\rc", 1000), ElementsAre(L"a", L"b", L"c"));
    EXPECT_THAT(Lines(L"long text\r\nx", 30, false), ElementsAre(L"long text", L"x"));
}

TEST(TextLayoutTest, WrapsAtSpacesAndDropsTheSpacesAtTheBreak) {
    EXPECT_THAT(Lines(L"abc def ghi", 70), ElementsAre(L"abc def", L"ghi"));
    EXPECT_THAT(Lines(L"abc   def", 40), ElementsAre(L"abc", L"def"));
    EXPECT_THAT(Lines(L"abc def", 70), ElementsAre(L"abc def"));
}

TEST(TextLayoutTest, BreaksWordsTooLongForALine) {
    EXPECT_THAT(Lines(L"abcdefgh", 30), ElementsAre(L"abc", L"def", L"gh"));
    EXPECT_THAT(Lines(L"ab abcdefgh", 30), ElementsAre(L"ab", L"abc", L"def", L"gh"));
    // A rectangle narrower than one character still makes progress.
    EXPECT_THAT(Lines(L"abc", 0), ElementsAre(L"a", L"b", L"c"));
}

TEST(TextLayoutTest, BreaksBetweenChineseCharactersButNotBeforeClosingPunctuation) {
    EXPECT_THAT(Lines(L"正在升级导航", 40), ElementsAre(L"正在升级", L"导航"));
    EXPECT_THAT(Lines(L"MCU升级", 30), ElementsAre(L"MCU", L"升级"));
    // The full stop does not fit; it takes the character before it to the next line.
    EXPECT_THAT(Lines(L"请不要断电！", 50), ElementsAre(L"请不要断", L"电！"));
}
