#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ContactSheet.h"
#include "SheetPicture.h"
#include "platform/host/PngFile.h"

namespace fs = std::filesystem;
using contact_sheet::BuildContactSheet;
using contact_sheet::Picture;
using contact_sheet::SheetOptions;
using contact_sheet::SheetRun;

namespace {

constexpr std::uint32_t RED = 0xC00000;
constexpr std::uint32_t GREEN = 0x00C000;
constexpr std::uint32_t BLUE = 0x0000C0;
constexpr std::uint32_t YELLOW = 0xC0C000;

// A run's folder with a trace and one single-coloured 100 x 60 screenshot per present.
class RunFolder {
public:
    explicit RunFolder(const std::string& name) {
        m_path = fs::temp_directory_path() /
                 ("contact-sheet-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "-" + name);
        fs::remove_all(m_path);
        fs::create_directories(m_path / "shots");
    }
    ~RunFolder() { fs::remove_all(m_path); }

    void Present(const std::string& lines, std::uint32_t colour, bool withShot = true) {
        ++m_presents;
        m_trace += lines + "PRESENT " + std::to_string(m_presents) + "\n";
        if (withShot) {
            char name[16];
            std::snprintf(name, sizeof name, "%05d.png", m_presents);
            std::vector<std::uint32_t> pixels(100 * 60, colour);
            EXPECT_TRUE(quarrin::platform::WritePngFile((m_path / "shots" / name).string(), 100, 60,
                                                        pixels));
        }
        std::ofstream(m_path / "trace.txt", std::ios::binary) << m_trace;
    }

    SheetRun Run(const std::string& title = "") const {
        return {title, (m_path / "trace.txt").string(), (m_path / "shots").string()};
    }

private:
    fs::path m_path;
    std::string m_trace;
    int m_presents = 0;
};

struct Bounds {
    int left = 1 << 30;
    int top = 1 << 30;
    int right = -1;
    int bottom = -1;
    bool Found() const { return right >= 0; }
};

Bounds FindColour(const Picture& picture, std::uint32_t colour) {
    Bounds bounds;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if (picture.At(x, y) != colour)
                continue;
            bounds = {std::min(bounds.left, x), std::min(bounds.top, y),
                      std::max(bounds.right, x + 1), std::max(bounds.bottom, y + 1)};
        }
    }
    return bounds;
}

int CountBright(const Picture& picture, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < std::min(bottom, picture.height); ++y) {
        for (int x = left; x < std::min(right, picture.width); ++x)
            count += (picture.At(x, y) & 0xFF) > 0x90 ? 1 : 0;
    }
    return count;
}

}  // namespace

TEST(ContactSheetTest, ShowsEachDistinctScreenOnceScaledAndCaptioned) {
    RunFolder run("a");
    run.Present("TEXT 0,0,100,60 正在检测升级文件(3)\n", RED);
    run.Present("TEXT 0,0,100,60 正在检测升级文件(3)\n", YELLOW);  // a repaint: folded away
    run.Present("TEXT 0,0,100,60 准备升级MCU\n", GREEN);
    run.Present("TEXT 0,0,100,60 MCU升级成功！\n", BLUE);
    SheetOptions options;
    options.columns = 2;
    options.scale = 0.5;
    auto result = BuildContactSheet({run.Run()}, options);
    ASSERT_EQ(result.error, "");
    EXPECT_TRUE(result.warnings.empty());
    const Picture& sheet = result.sheet;
    Bounds first = FindColour(sheet, RED);
    Bounds second = FindColour(sheet, GREEN);
    Bounds third = FindColour(sheet, BLUE);
    EXPECT_FALSE(FindColour(sheet, YELLOW).Found());
    ASSERT_TRUE(first.Found() && second.Found() && third.Found());
    EXPECT_EQ(first.right - first.left, 50);
    EXPECT_EQ(first.bottom - first.top, 30);
    EXPECT_EQ(second.top, first.top);  // side by side
    EXPECT_GT(second.left, first.right);
    EXPECT_EQ(third.left, first.left);  // two columns: the third starts a new row
    EXPECT_GT(third.top, first.bottom);
    // The caption (white text) sits under each picture, between it and the next row.
    EXPECT_GT(CountBright(sheet, first.left, first.bottom + 1, first.right, third.top - 1), 10);
    EXPECT_GT(CountBright(sheet, third.left, third.bottom + 1, third.right, sheet.height), 10);
}

TEST(ContactSheetTest, EachRunStartsItsOwnRowUnderItsTitle) {
    RunFolder one("one");
    RunFolder two("two");
    one.Present("TEXT 0,0,100,60 a\n", RED);
    two.Present("TEXT 0,0,100,60 b\n", GREEN);
    auto result = BuildContactSheet({one.Run("宽屏 1024"), two.Run("narrow")}, SheetOptions{});
    ASSERT_EQ(result.error, "");
    Bounds red = FindColour(result.sheet, RED);
    Bounds green = FindColour(result.sheet, GREEN);
    ASSERT_TRUE(red.Found() && green.Found());
    EXPECT_EQ(green.left, red.left);
    EXPECT_GT(green.top, red.bottom);
    EXPECT_GT(CountBright(result.sheet, 0, 0, result.sheet.width, red.top), 20) << "first title";
}

TEST(ContactSheetTest, AMissingScreenshotIsAPlaceholderAndAWarning) {
    RunFolder run("gap");
    run.Present("TEXT 0,0,100,60 a\n", RED);
    run.Present("TEXT 0,0,100,60 b\n", GREEN, false);
    SheetOptions options;
    options.scale = 0.5;
    auto result = BuildContactSheet({run.Run()}, options);
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find("00002.png"), std::string::npos);
    Bounds red = FindColour(result.sheet, RED);
    Bounds placeholder = FindColour(result.sheet, 0x5A2020);
    ASSERT_TRUE(placeholder.Found());
    EXPECT_EQ(placeholder.right - placeholder.left, red.right - red.left);  // same size as the run
}

TEST(ContactSheetTest, AnUnreadableTraceIsAnError) {
    auto result =
        BuildContactSheet({{"", "/nonexistent/trace.txt", "/nonexistent"}}, SheetOptions{});
    EXPECT_NE(result.error.find("cannot read screen trace"), std::string::npos);
}

TEST(SheetPictureTest, ScalingAveragesInsteadOfDroppingThinLines) {
    Picture picture(10, 10, 0);
    for (int x = 0; x < 10; ++x)
        picture.pixels[5 * 10 + x] = 0xFFFFFF;  // one white row
    Picture small = contact_sheet::ScaleDown(picture, 0.5);
    ASSERT_EQ(small.width, 5);
    ASSERT_EQ(small.height, 5);
    EXPECT_EQ(small.At(2, 2), 0x808080u);  // rows 4 and 5: half white
    EXPECT_EQ(small.At(2, 0), 0u);
}

TEST(SheetPictureTest, FitShortensInTheMiddleAndKeepsBothEnds) {
    contact_sheet::TextPainter painter(13, 400);
    ASSERT_TRUE(painter.Ready());
    std::wstring caption = L"21 · 正在检测升级文件......(1)";
    EXPECT_EQ(painter.Fit(caption, 10000), caption);
    int width = painter.Width(caption) / 2;
    std::wstring fitted = painter.Fit(caption, width);
    EXPECT_LE(painter.Width(fitted), width);
    EXPECT_NE(fitted.find(L"…"), std::wstring::npos);
    EXPECT_EQ(fitted.substr(0, 2), L"21");
    EXPECT_EQ(fitted.substr(fitted.size() - 3), L"(1)");
    EXPECT_LE(painter.Width(painter.Fit(caption, 3)), 3);
}
