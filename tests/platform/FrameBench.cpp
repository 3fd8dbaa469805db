// How long one full frame of the progress screen takes: clear, four text lines, the bar,
// and the copy to the screen, on the wide 1024 x 600 layout.
#include <benchmark/benchmark.h>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

namespace {

HFONT CreateDialogFont() {
    LOGFONTW font{};
    font.lfHeight = 32;
    font.lfWeight = FW_NORMAL;
    font.lfQuality = ANTIALIASED_QUALITY;
    font.lfPitchAndFamily = FF_SWISS;
    wcscpy(font.lfFaceName, L"Arial");
    return CreateFontIndirectW(&font);
}

void DrawText(HDC dc, const wchar_t* text, RECT rect) {
    DrawTextW(dc, text, -1, &rect, DT_CENTER | DT_WORDBREAK);
}

void BM_WideProgressFrame(benchmark::State& state) {
    quarrin::platform::SimPlatform sim;
    sim.Screen().Resize(1024, 600);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1024, 600);
    DeleteObject(SelectObject(memory, bitmap));
    SetBkMode(memory, TRANSPARENT);
    HFONT font = CreateDialogFont();
    HBRUSH black = CreateSolidBrush(0);
    HBRUSH track = CreateSolidBrush(RGB(120, 120, 120));
    HPEN trackPen = CreatePen(PS_SOLID, 1, RGB(120, 120, 120));
    HBRUSH bar = CreateSolidBrush(RGB(0, 64, 0));
    HPEN barPen = CreatePen(PS_SOLID, 1, RGB(0, 64, 0));
    SelectObject(memory, font);
    RECT whole{0, 0, 1024, 600};
    int percent = 0;
    for (auto _ : state) {
        FillRect(memory, &whole, black);
        SetTextColor(memory, RGB(0, 128, 0));
        DrawText(memory, L"please copy update files to folder ZEL_Update\r\n", {0, 80, 1024, 120});
        DrawText(memory, L"请将升级文件拷贝到SD卡的ZEL_Update目录下\r\n", {0, 120, 1024, 170});
        DrawText(memory, L"正在升级应用程序 2.0.0.24，请不要断电！", {0, 220, 1024, 330});
        wchar_t line[16];
        wsprintfW(line, L"%d%s", percent, L"%");
        DrawText(memory, line, {0, 340, 1024, 460});
        SelectObject(memory, track);
        SelectObject(memory, trackPen);
        RoundRect(memory, 262, 380, 758, 400, 8, 8);
        SelectObject(memory, bar);
        SelectObject(memory, barPen);
        RoundRect(memory, 262, 380, 262 + percent * 496 / 100, 400, 8, 8);
        BitBlt(screen, 0, 0, 1024, 600, memory, 0, 0, SRCCOPY);
        percent = (percent + 1) % 101;
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}
BENCHMARK(BM_WideProgressFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
