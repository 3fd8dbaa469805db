#include <string>
#include <vector>

#include "tests/platform/PaintFixture.h"

using ::testing::ElementsAre;

namespace {

constexpr COLORREF TRACK = RGB(120, 120, 120);
constexpr COLORREF BAR = RGB(0, 64, 0);
constexpr COLORREF TEXT_GREEN = RGB(0, 128, 0);
constexpr UINT CENTER_WRAP = DT_CENTER | DT_WORDBREAK;

void DrawBar(HDC dc, int left, int top, int right, int bottom, int percent) {
    HBRUSH trackBrush = CreateSolidBrush(TRACK);
    HPEN trackPen = CreatePen(PS_SOLID, 1, TRACK);
    HBRUSH barBrush = CreateSolidBrush(BAR);
    HPEN barPen = CreatePen(PS_SOLID, 1, BAR);
    HGDIOBJ oldBrush = SelectObject(dc, trackBrush);
    HGDIOBJ oldPen = SelectObject(dc, trackPen);
    RoundRect(dc, left, top, right, bottom, 8, 8);
    SelectObject(dc, barBrush);
    SelectObject(dc, barPen);
    RoundRect(dc, left, top, left + percent * (right - left) / 100, bottom, 8, 8);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    for (HGDIOBJ object : {trackBrush, trackPen, barBrush, barPen})
        DeleteObject(object);
}

}  // namespace

TEST(ScreenMetricsTest, ReportTheInstalledScreenSize) {
    quarrin::platform::SimPlatform sim;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
    sim.Screen().Resize(1024, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
}

using GdiObjectTest = PaintFixture;

TEST_F(GdiObjectTest, SelectionHandsBackThePreviousObjectAndSurvivesDeletion) {
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    HGDIOBJ original = SelectObject(m_memDc, red);
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(SelectObject(m_memDc, blue), red);
    // Deleting the brush that is still selected leaves the DC drawing with it.
    EXPECT_TRUE(DeleteObject(blue));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
    SelectObject(m_memDc, pen);
    EXPECT_TRUE(RoundRect(m_memDc, 10, 10, 30, 30, 0, 0));
    Present();
    EXPECT_EQ(Pixel(20, 20), RGB(0, 0, 255));
    EXPECT_EQ(SelectObject(m_memDc, original), blue);
    EXPECT_TRUE(DeleteObject(red));
    EXPECT_TRUE(DeleteObject(pen));
    // The memory DC's default picture may be deleted as the dialog does; it stays usable.
    EXPECT_TRUE(DeleteObject(m_oldBitmap));
}

TEST_F(GdiObjectTest, RefusesWhatGdiRefuses) {
    HDC other = CreateCompatibleDC(m_screenDc);
    SetLastError(0);
    EXPECT_EQ(SelectObject(other, m_bitmap), nullptr) << "a bitmap lives in one DC at a time";
    EXPECT_EQ(SelectObject(m_screenDc, m_bitmap), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(m_screenDc, 0, 10), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateCompatibleBitmap(m_screenDc, 100000, 100000), nullptr);
    EXPECT_TRUE(DeleteDC(other));
    SetLastError(0);
    EXPECT_FALSE(DeleteDC(other));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(BitBlt(m_screenDc, 0, 0, 10, 10, m_memDc, 0, 0, 0x00EE0086));
    EXPECT_EQ(m_sim.Screen().PresentCount(), 0);
}

using ShapeTest = PaintFixture;

TEST_F(ShapeTest, ProgressBarAtHalfOnTheNarrowLayout) {
    DrawBar(m_memDc, 150, 320, 646, 340, 50);
    Present();
    EXPECT_EQ(Pixel(150, 330), BAR);
    EXPECT_EQ(Pixel(397, 330), BAR);
    EXPECT_EQ(Pixel(398, 330), TRACK);
    EXPECT_EQ(Pixel(645, 330), TRACK);
    EXPECT_EQ(Pixel(646, 330), 0u);
    EXPECT_EQ(Pixel(400, 320), TRACK) << "top edge inside the span";
    EXPECT_EQ(Pixel(400, 340), 0u) << "the bottom edge is excluded";
    // The 8 x 8 corners are round: the very corner pixels stay black.
    EXPECT_EQ(Pixel(150, 320), 0u);
    EXPECT_EQ(Pixel(645, 339), 0u);
    EXPECT_EQ(Pixel(643, 320), TRACK);
    EXPECT_EQ(Pixel(645, 320), 0u);
    EXPECT_EQ(Pixel(152, 320), BAR);
}

TEST_F(ShapeTest, ZeroWidthFillDrawsNothingAndFullFillEndsAtTheTrack) {
    DrawBar(m_memDc, 150, 320, 646, 340, 0);
    Present();
    EXPECT_EQ(Pixel(150, 330), TRACK);
    EXPECT_EQ(CountLit(0, 0, Width(), 320), 0);

    DrawBar(m_memDc, 150, 320, 646, 340, 100);
    Present();
    EXPECT_EQ(Pixel(645, 330), BAR);
    EXPECT_EQ(Pixel(646, 330), 0u);
}

TEST_F(ShapeTest, FillRectAndCopiesClipToThePicture) {
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    RECT beyond{-50, -50, 10, 10};
    EXPECT_EQ(FillRect(m_memDc, &beyond, white), 1);
    RECT bottomRight{Width() - 5, Height() - 5, Width() + 100, Height() + 100};
    FillRect(m_memDc, &bottomRight, white);
    Present();
    EXPECT_EQ(Pixel(9, 9), RGB(255, 255, 255));
    EXPECT_EQ(Pixel(10, 10), 0u);
    EXPECT_EQ(Pixel(Width() - 1, Height() - 1), RGB(255, 255, 255));
    // A copy that reaches past both pictures copies only the overlap.
    EXPECT_TRUE(
        BitBlt(m_screenDc, -20, -20, Width() + 40, Height() + 40, m_memDc, -20, -20, SRCCOPY));
    EXPECT_EQ(Pixel(0, 0), RGB(255, 255, 255));
    DeleteObject(white);
}

using TextTest = PaintFixture;

TEST_F(TextTest, CentredGreenTextStaysInsideItsRectangle) {
    HGDIOBJ oldFont = SelectObject(m_memDc, CreateDialogFont());
    SetTextColor(m_memDc, TEXT_GREEN);
    RECT rect{0, 20, 800, 60};
    int height = DrawTextW(m_memDc, L"please copy update files to folder ZEL_Update\r\n", -1, &rect,
                           CENTER_WRAP);
    Present();
    EXPECT_EQ(height, 32);
    int inside = CountLit(0, 20, 800, 60);
    EXPECT_GT(inside, 500);
    EXPECT_EQ(CountLit(0, 0, 800, 20) + CountLit(0, 60, 800, 480), 0);
    // Centred: the left and right margins are about equal and neither is empty.
    EXPECT_EQ(CountLit(0, 20, 100, 60), 0);
    EXPECT_EQ(CountLit(700, 20, 800, 60), 0);
    bool fullGreen = false;
    for (int y = 20; y < 60 && !fullGreen; ++y) {
        for (int x = 0; x < 800 && !fullGreen; ++x)
            fullGreen = Pixel(x, y) == TEXT_GREEN;
    }
    EXPECT_TRUE(fullGreen);
    DeleteObject(SelectObject(m_memDc, oldFont));
}

TEST_F(TextTest, ChineseTextRendersThroughTheFallbackFace) {
    HGDIOBJ oldFont = SelectObject(m_memDc, CreateDialogFont());
    SetTextColor(m_memDc, TEXT_GREEN);
    RECT rect{0, 200, 800, 400};
    DrawTextW(m_memDc, L"正在检测升级文件", -1, &rect, CENTER_WRAP);
    Present();
    // Eight ideographs of about 28 pixels each, centred: a solid block of strokes.
    EXPECT_GT(CountLit(0, 200, 800, 232), 1500);
    EXPECT_EQ(CountLit(0, 232, 800, 400), 0);
    DeleteObject(SelectObject(m_memDc, oldFont));
}

TEST_F(TextTest, LongTextWrapsAndIsClippedAtTheBottom) {
    HGDIOBJ oldFont = SelectObject(m_memDc, CreateDialogFont());
    SetTextColor(m_memDc, TEXT_GREEN);
    RECT rect{100, 100, 400, 150};
    std::wstring text = L"应用程序升级失败！错误码:1000\r\n\r\n请再试一次 and a long English tail";
    int height = DrawTextW(m_memDc, text.c_str(), -1, &rect, CENTER_WRAP);
    Present();
    EXPECT_GE(height, 4 * 32);
    EXPECT_GT(CountLit(100, 100, 400, 150), 0);
    EXPECT_EQ(CountLit(0, 150, 800, 480), 0);
    EXPECT_EQ(CountLit(0, 0, 100, 480) + CountLit(400, 0, 800, 480), 0);
    DeleteObject(SelectObject(m_memDc, oldFont));
}

TEST_F(TextTest, OpaqueModeFillsTheTextBackground) {
    HGDIOBJ oldFont = SelectObject(m_memDc, CreateDialogFont());
    SetBkMode(m_memDc, OPAQUE);
    SetBkColor(m_memDc, RGB(0, 0, 255));
    SetTextColor(m_memDc, RGB(255, 255, 255));
    RECT rect{0, 0, 800, 100};
    DrawTextW(m_memDc, L"Hi", -1, &rect, DT_CENTER);
    Present();
    EXPECT_EQ(Pixel(400, 1), RGB(0, 0, 255)) << "the cell above the glyphs";
    EXPECT_EQ(Pixel(400, 40), 0u) << "below the single line";
    DeleteObject(SelectObject(m_memDc, oldFont));
}

using TraceTest = PaintFixture;

TEST_F(TraceTest, RecordsDrawingsOfEachPresentedPictureWithEscapes) {
    RECT rect{0, 260, 1024, 460};
    DrawTextW(m_memDc, L"路径 C:\\x\r\n准备", -1, &rect, CENTER_WRAP);
    RoundRect(m_memDc, 150, 320, 150, 340, 8, 8);
    Present();
    DrawTextW(m_memDc, L"57%abc", 3, &rect, CENTER_WRAP);
    Present();
    Present();
    EXPECT_THAT(
        m_sim.Screen().TraceLines(),
        ElementsAre("TEXT 0,260,1024,460 路径 C:\\\\x\\r\\n准备", "ROUNDRECT 150,320,150,340",
                    "PRESENT 1", "TEXT 0,260,1024,460 57%", "PRESENT 2", "PRESENT 3"));
}

TEST_F(TraceTest, DropsDrawingsThatNeverReachTheScreen) {
    RECT rect{0, 0, 100, 100};
    HDC scratch = CreateCompatibleDC(m_screenDc);
    HBITMAP picture = CreateCompatibleBitmap(m_screenDc, 100, 100);
    HGDIOBJ old = SelectObject(scratch, picture);
    DrawTextW(scratch, L"never shown", -1, &rect, CENTER_WRAP);
    SelectObject(scratch, old);
    DeleteObject(picture);
    DeleteDC(scratch);
    // A picture painted over in full forgets what was drawn before.
    DrawTextW(m_memDc, L"erased", -1, &rect, CENTER_WRAP);
    HBRUSH black = CreateSolidBrush(0);
    RECT whole{0, 0, Width(), Height()};
    FillRect(m_memDc, &whole, black);
    DrawTextW(m_memDc, L"shown", -1, &rect, CENTER_WRAP);
    Present();
    EXPECT_THAT(m_sim.Screen().TraceLines(), ElementsAre("TEXT 0,0,100,100 shown", "PRESENT 1"));
    DeleteObject(black);
}
