// The progress screen: every text of every state in the wide (1024) and narrow layouts,
// the progress bar, and the start of a stage on the first paint in STATE_PREPARING.
#include "dialog/ScreenTexts.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"

namespace {

struct Box {
    RECT wide;
    RECT narrow;
};

const Box kFolderLine1{{0, 80, 1024, 120}, {0, 20, 800, 60}};
const Box kFolderLine2{{0, 120, 1024, 170}, {0, 60, 800, 110}};
const Box kStatusBox{{0, 260, 1024, 460}, {0, 200, 800, 400}};
const Box kRunningLine3{{0, 220, 1024, 330}, {0, 160, 800, 270}};
const Box kRunningLine4{{0, 340, 1024, 460}, {0, 280, 800, 400}};
const Box kResultBox{{0, 260, 1024, 380}, {0, 200, 800, 320}};
const Box kBackupBox{{0, 260, 1024, 340}, {0, 200, 800, 280}};
const Box kResetBox{{0, 220, 1024, 350}, {0, 160, 800, 290}};

}  // namespace

void CUpdateDialog::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (m_memDC == nullptr) {
        m_memBitmap = CreateCompatibleBitmap(dc, g_screenWidth, g_screenHeight);
        m_memDC = CreateCompatibleDC(dc);
        SetBkMode(m_memDC, TRANSPARENT);
        HGDIOBJ initial = SelectObject(m_memDC, m_memBitmap);
        if (initial != nullptr)
            DeleteObject(initial);
    }
    HGDIOBJ oldBrush = SelectObject(m_memDC, m_trackBrush);
    HGDIOBJ oldPen = SelectObject(m_memDC, m_trackPen);
    HGDIOBJ oldFont = SelectObject(m_memDC, m_font);
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    FillRect(m_memDC, &client, black);
    DeleteObject(black);
    SetTextColor(m_memDC, RGB(0, 128, 0));

    bool drew = m_screenState != 0 && !(m_screenState == STATE_BACKUP && m_updateKind != KIND_APP);
    if (drew) {
        DrawScreen();
        ReportProgress();
    }
    if (m_screenState == STATE_PREPARING) {
        LoadFirmwareImages();
        StartStage();
    }
    SelectObject(m_memDC, oldFont);
    SelectObject(m_memDC, oldBrush);
    SelectObject(m_memDC, oldPen);
    if (drew)
        BitBlt(dc, 0, 0, g_screenWidth, g_screenHeight, m_memDC, 0, 0, SRCCOPY);
    EndPaint(m_hWnd, &paint);
}

void CUpdateDialog::DrawScreen() {
    bool wide = g_screenWidth == 1024;
    wchar_t text[200] = {};
    auto draw = [&](const Box& box) {
        RECT rect = wide ? box.wide : box.narrow;
        DrawTextW(m_memDC, text, -1, &rect, DT_CENTER | DT_WORDBREAK);
    };
    bool folderLines = m_screenState > 0 || m_screenState == STATE_PREPARING ||
                       m_screenState == STATE_RUNNING || m_screenState == STATE_RESULT;
    if (folderLines) {
        wsprintfW(text, L"please copy update files to folder %s\r\n", g_updateFolderName);
        draw(kFolderLine1);
        wsprintfW(text, L"请将升级文件拷贝到SD卡的%s目录下\r\n", g_updateFolderName);
        draw(kFolderLine2);
    }
    auto drawLine = [&](const std::wstring& line, const Box& box) {
        wsprintfW(text, L"%s", line.c_str());
        draw(box);
    };
    bool restore = g_systemFilesDamaged;
    if (m_screenState > 0) {
        drawLine(DetectionText(m_screenState), kStatusBox);
    } else if (m_screenState == STATE_PREPARING) {
        drawLine(PreparingText(m_updateKind, restore), kStatusBox);
    } else if (m_screenState == STATE_RUNNING) {
        const std::wstring& version = m_updateKind == KIND_MCU    ? m_mcuVersion
                                      : m_updateKind == KIND_MPEG ? m_mpegVersion
                                                                  : m_appVersion;
        wsprintfW(text, L"%s", RunningText(m_updateKind, restore, version).c_str());
        draw(kRunningLine3);
        if (m_outcome == OUTCOME_WRITING_FLASH) {
            wsprintfW(text, L"正在将数据写入Flash...%s", L"");
        } else {
            wsprintfW(text, L"%d%s", m_percent, L"%");
        }
        draw(kRunningLine4);
        DrawProgressBar(wide);
    } else if (m_screenState == STATE_RESULT) {
        bool success = m_outcome == OUTCOME_SUCCESS;
        drawLine(ResultText(m_updateKind, success, restore, g_updateErrorCode), kResultBox);
        if (m_outcome != OUTCOME_WRITING_FLASH)
            StartTimer(TIMER_NEXT_STAGE, 2000);
    } else if (m_screenState == STATE_BACKUP) {
        drawLine(BackupText(), kBackupBox);
    } else if (m_screenState == STATE_RESET_COUNTDOWN) {
        drawLine(ResetCountdownText(m_resetCountdown), kResetBox);
    }
}

void CUpdateDialog::DrawProgressBar(bool wide) {
    int left = wide ? 262 : 150;
    int top = wide ? 380 : 320;
    int right = wide ? 758 : 646;
    int bottom = wide ? 400 : 340;
    RoundRect(m_memDC, left, top, right, bottom, 8, 8);
    SelectObject(m_memDC, m_barBrush);
    SelectObject(m_memDC, m_barPen);
    int fillRight = static_cast<int>(m_percent * 496 * 0.01 + left);
    RoundRect(m_memDC, left, top, fillRight, bottom, 8, 8);
}

void CUpdateDialog::StartWorker(LPTHREAD_START_ROUTINE routine) {
    m_screenState = STATE_RUNNING;
    m_outcome = OUTCOME_RUNNING;
    m_workerThread = CreateThread(nullptr, 0, routine, static_cast<CWnd*>(this), 0, nullptr);
}

void CUpdateDialog::StartStage() {
    const StageStarters& stages = m_stages;
    switch (m_updateKind) {
        case KIND_APP:
            if (stages.appWorker != nullptr && TakeLatch(g_latches.onceStartApp)) {
                StartWorker(stages.appWorker);
            }
            break;
        case KIND_NAVI:
            if (stages.naviWorker != nullptr && TakeLatch(g_latches.onceStartNavi)) {
                StartWorker(stages.naviWorker);
            }
            break;
        case KIND_MCU:
            if (stages.startMcu != nullptr && TakeLatch(g_latches.onceStartMcu)) {
                stages.startMcu(*this);
            }
            break;
        case KIND_MPEG:
            if (stages.startMpeg != nullptr && TakeLatch(g_latches.onceStartMpeg)) {
                stages.startMpeg(*this);
            }
            break;
        default:
            break;
    }
}
