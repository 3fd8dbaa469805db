#include <gtest/gtest.h>

#include <sstream>

#include "ScreenTrace.h"
#include "SheetCommandLine.h"

using contact_sheet::CaptionOf;
using contact_sheet::PickDistinctScreens;
using contact_sheet::ReadScreenTrace;
using contact_sheet::TracedPresent;

namespace {

std::vector<TracedPresent> Read(const std::string& text) {
    std::istringstream in(text);
    return ReadScreenTrace(in);
}

std::string Countdown(int n) {
    return "TEXT 0,20,800,60 please copy\\r\\n\nTEXT 0,200,800,400 正在检测升级文件......(" +
           std::to_string(n) + ")\\r\\n\n";
}

std::string Progress(int percent) {
    return "TEXT 0,160,800,270 正在升级MCU V2.1，请不要断电！\\r\\n\\r\\n请拔出升级卡\n"
           "TEXT 0,280,800,400 " +
           std::to_string(percent) + "%\nROUNDRECT 150,320,646,340\nROUNDRECT 150,320," +
           std::to_string(150 + percent * 496 / 100) + ",340\n";
}

std::vector<int> NumbersOf(const std::vector<TracedPresent>& presents) {
    std::vector<int> numbers;
    for (const TracedPresent& present : presents)
        numbers.push_back(present.number);
    return numbers;
}

}  // namespace

TEST(ScreenTraceTest, ReadsPresentsAndDropsWhatFollowsTheLast) {
    auto presents = Read(
        "TEXT 0,0,10,10 a\r\nROUNDRECT 1,2,3,4\nPRESENT 1\n\nPRESENT 2\n"
        "TEXT 0,0,10,10 never shown\n");
    ASSERT_EQ(presents.size(), 2u);
    EXPECT_EQ(presents[0].number, 1);
    EXPECT_EQ(presents[0].lines,
              (std::vector<std::string>{"TEXT 0,0,10,10 a", "ROUNDRECT 1,2,3,4"}));
    EXPECT_EQ(presents[1].number, 2);
    EXPECT_TRUE(presents[1].lines.empty());
}

TEST(ScreenTraceTest, FoldsRepeatsAndKeepsTheEndsOfACountOrProgress) {
    std::string trace;
    int number = 0;
    auto present = [&](const std::string& lines) {
        trace += lines + "PRESENT " + std::to_string(++number) + "\n";
    };
    present(Countdown(20));  // 1
    present(Countdown(20));  // 2: a repaint of the same screen
    for (int n = 19; n >= 1; --n)
        present(Countdown(n));                               // 3..21
    present("TEXT 0,200,800,400 准备升级MCU，请稍候...\n");  // 22
    for (int percent : {0, 1, 57, 100})
        present(Progress(percent));  // 23..26
    present(Countdown(5));           // 27: a countdown again, after other screens
    present(Countdown(4));           // 28: two of a shape are both kept
    EXPECT_EQ(NumbersOf(PickDistinctScreens(Read(trace))),
              (std::vector<int>{1, 21, 22, 23, 26, 27, 28}));
}

TEST(ScreenTraceTest, ScreensOfTheSameShapeButOtherTextStayApart) {
    std::string trace =
        "TEXT 0,200,800,320 MCU升级失败！错误码:31\nPRESENT 1\n"
        "TEXT 0,200,800,320 MPEG升级失败！错误码:31\nPRESENT 2\n"
        "PRESENT 3\n";
    EXPECT_EQ(NumbersOf(PickDistinctScreens(Read(trace))), (std::vector<int>{1, 2, 3}));
}

TEST(ScreenTraceTest, CaptionIsTheLastTextWithANumberJoinedToWhatItCounts) {
    auto presents =
        Read(Countdown(7) + "PRESENT 1\n" + Progress(57) + "PRESENT 2\n" +
             "ROUNDRECT 1,1,5,5\nPRESENT 3\n" + "TEXT 0,0,9,9 a\\\\b \\r\\n  c\\r\\n\nPRESENT 4\n" +
             "TEXT 0,0,9,9 42%\nPRESENT 5\n");
    ASSERT_EQ(presents.size(), 5u);
    EXPECT_EQ(CaptionOf(presents[0]), "正在检测升级文件......(7)");
    EXPECT_EQ(CaptionOf(presents[1]), "正在升级MCU V2.1，请不要断电！ 请拔出升级卡 57%");
    EXPECT_EQ(CaptionOf(presents[2]), "");
    EXPECT_EQ(CaptionOf(presents[3]), "a\\b c");
    EXPECT_EQ(CaptionOf(presents[4]), "42%");
}

TEST(SheetCommandLineTest, AssemblesRunsWithTheirTitles) {
    auto parsed = contact_sheet::ParseSheetCommandLine(
        {"--run", "b.txt:shots/b", "--title", "first", "--trace", "a.txt", "--shots", "a",
         "--title", "second", "--out", "s.png", "--columns", "3", "--scale", "0.5"});
    ASSERT_TRUE(parsed.command) << parsed.error;
    const auto& runs = parsed.command->runs;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].traceFile, "a.txt");  // --trace/--shots is the first run
    EXPECT_EQ(runs[0].title, "first");
    EXPECT_EQ(runs[1].traceFile, "b.txt");
    EXPECT_EQ(runs[1].shotsDir, "shots/b");
    EXPECT_EQ(runs[1].title, "second");
    EXPECT_EQ(parsed.command->options.columns, 3);
    EXPECT_DOUBLE_EQ(parsed.command->options.scale, 0.5);
}

TEST(SheetCommandLineTest, RefusesIncompleteOrOutOfRangeInput) {
    using contact_sheet::ParseSheetCommandLine;
    EXPECT_FALSE(ParseSheetCommandLine({"--trace", "a.txt", "--out", "s.png"}).command);
    EXPECT_FALSE(ParseSheetCommandLine({"--run", "a.txt", "--out", "s.png"}).command);
    EXPECT_FALSE(ParseSheetCommandLine({"--run", "a.txt:d"}).command);  // no --out
    EXPECT_FALSE(ParseSheetCommandLine({"--out", "s.png"}).command);    // no run
    EXPECT_FALSE(
        ParseSheetCommandLine({"--run", "a:d", "--title", "x", "--title", "y", "--out", "s"})
            .command);
    for (const char* scale : {"0", "1.5", "-1", "nan", "x"}) {
        EXPECT_FALSE(
            ParseSheetCommandLine({"--run", "a:d", "--out", "s", "--scale", scale}).command)
            << scale;
    }
    EXPECT_FALSE(ParseSheetCommandLine({"--run", "a:d", "--out", "s", "--columns", "0"}).command);
    EXPECT_FALSE(ParseSheetCommandLine({"--run", "a:d", "--out"}).command);
}
