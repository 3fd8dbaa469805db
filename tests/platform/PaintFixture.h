// A picture drawn the way the update dialog draws: a memory DC with a screen-sized bitmap,
// copied to the screen DC when finished.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

class PaintFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_screenDc = GetDC(nullptr);
        m_memDc = CreateCompatibleDC(m_screenDc);
        m_bitmap = CreateCompatibleBitmap(m_screenDc, Width(), Height());
        m_oldBitmap = SelectObject(m_memDc, m_bitmap);
        SetBkMode(m_memDc, TRANSPARENT);
    }
    void TearDown() override {
        SelectObject(m_memDc, m_oldBitmap);
        DeleteObject(m_bitmap);
        DeleteDC(m_memDc);
        ReleaseDC(nullptr, m_screenDc);
    }

    int Width() { return m_sim.Screen().Width(); }
    int Height() { return m_sim.Screen().Height(); }
    void Present() { BitBlt(m_screenDc, 0, 0, Width(), Height(), m_memDc, 0, 0, SRCCOPY); }
    COLORREF Pixel(int x, int y) { return m_sim.Screen().PresentedPixel(x, y); }

    // Pixels of the presented frame inside [left, right) x [top, bottom) that are not black.
    int CountLit(int left, int top, int right, int bottom) {
        int lit = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x)
                lit += Pixel(x, y) != 0 ? 1 : 0;
        }
        return lit;
    }

    quarrin::platform::SimPlatform m_sim;
    HDC m_screenDc = nullptr;
    HDC m_memDc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
};

inline HFONT CreateDialogFont(LONG height = 32) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = FW_NORMAL;
    font.lfQuality = ANTIALIASED_QUALITY;
    font.lfPitchAndFamily = FF_SWISS;
    wcscpy(font.lfFaceName, L"Arial");
    return CreateFontIndirectW(&font);
}
