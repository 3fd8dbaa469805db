// The dialog record, its messages, timers, buttons and shutdown.
#include "dialog/UpdateDialog.h"

#include "dialog/FirmwareProtocol.h"
#include "dialog/StageChain.h"
#include "plan/SourceRoots.h"
#include "resources/Resource.h"

DialogLatches g_latches;
int g_screenWidth = 800;
int g_screenHeight = 480;

const StageStarters& NoStages() {
    static const StageStarters none;
    return none;
}

CUpdateDialog::CUpdateDialog(const StageStarters& stages, CWnd* parent)
    : CDialog(IDD_UPDATE_DIALOG, parent), m_stages(stages) {
    m_hIcon = LoadIconW(nullptr, MAKEINTRESOURCE(IDI_MAINFRAME));
    m_ctlBrush = CreateSolidBrush(RGB(0, 0, 0));
}

CUpdateDialog::~CUpdateDialog() = default;

BOOL CUpdateDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    g_screenWidth = GetSystemMetrics(SM_CXSCREEN);
    g_screenHeight = GetSystemMetrics(SM_CYSCREEN);

    LOGFONTW font{};
    font.lfHeight = 32;
    font.lfWeight = FW_NORMAL;
    font.lfQuality = ANTIALIASED_QUALITY;
    font.lfPitchAndFamily = FF_SWISS;
    wsprintfW(font.lfFaceName, L"%s", L"Arial");
    m_font = CreateFontIndirectW(&font);
    m_trackBrush = CreateSolidBrush(RGB(120, 120, 120));
    m_trackPen = CreatePen(PS_SOLID, 1, RGB(120, 120, 120));
    m_barBrush = CreateSolidBrush(RGB(0, 64, 0));
    m_barPen = CreatePen(PS_SOLID, 1, RGB(0, 64, 0));
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);

    SetWindowText(L"Update_V1.0");
    SetWindowPos(&wndTop, 0, 0, g_screenWidth, g_screenHeight, SWP_SHOWWINDOW);
    CenterWindow();
    GetDlgItem(IDC_BUTTON_START)->MoveWindow(173, 280, 140, 70, FALSE);
    GetDlgItem(IDC_BUTTON_CLOSE)->MoveWindow(486, 280, 140, 70, FALSE);

    if (DiscoverUpdateSources(*this, m_updateFlags) == 1) {
        m_screenState = STATE_PREPARING;
        if (g_systemFilesDamaged)
            HideButtons();
    } else {
        m_screenState = DETECT_SECONDS;
        HideButtons();
        StartTimer(TIMER_DETECT, 1000);
    }
    g_notifyWindow = m_hWnd;
    return TRUE;
}

void CUpdateDialog::HideButtons() {
    for (int id : {IDC_BUTTON_START, IDC_BUTTON_CLOSE}) {
        CWnd* button = GetDlgItem(id);
        button->EnableWindow(FALSE);
        button->ShowWindow(SW_HIDE);
    }
}

BOOL CUpdateDialog::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
        return TRUE;  // neither key may end the update
    }
    if (msg->message == WM_UPDATE_PROGRESS) {
        OnProgress(msg->wParam, msg->lParam);
        return TRUE;
    }
    if (msg->message == WM_MCU_MESSAGE && m_stages.onMcuMessage != nullptr) {
        m_stages.onMcuMessage(*this, msg->wParam, msg->lParam);
    } else if (msg->message == WM_MPEG_MESSAGE && m_stages.onMpegMessage != nullptr) {
        m_stages.onMpegMessage(*this, msg->wParam, msg->lParam);
    }
    return CDialog::PreTranslateMessage(msg);
}

void CUpdateDialog::OnProgress(WPARAM wParam, LPARAM lParam) {
    if (wParam == 1 && lParam == PROGRESS_DONE) {
        m_screenState = STATE_RESULT;
        m_percent = 100;
        m_outcome = OUTCOME_SUCCESS;
        m_workerThread = nullptr;
        StartTimer(TIMER_SHOW_RESULT, 1000);  // the result shows after a pause
    } else if (wParam == 1 && lParam == PROGRESS_BACKUP) {
        m_screenState = STATE_BACKUP;
        Repaint();
    } else if (wParam == 1) {
        if (lParam == m_percent)
            return;
        m_percent = static_cast<int>(lParam);
        Repaint();
    } else {
        m_outcome = OUTCOME_FAILED;
        m_workerThread = nullptr;
        m_screenState = STATE_RESULT;
        Repaint();
    }
}

void CUpdateDialog::OnTimer(UINT_PTR id) {
    switch (id) {
        case TIMER_DETECT:
            m_screenState -= 1;
            if (m_screenState > 0) {
                if (DiscoverUpdateSources(*this, m_updateFlags) == 1) {
                    StopTimer(TIMER_DETECT);
                    m_screenState = STATE_PREPARING;
                }
                Repaint();
            } else {
                StopTimer(TIMER_DETECT);
                PostMessage(WM_CLOSE, 0, 0);
            }
            break;
        case TIMER_SHOW_RESULT:
            StopTimer(TIMER_SHOW_RESULT);
            Repaint();
            break;
        case TIMER_NEXT_STAGE:
            StopTimer(TIMER_NEXT_STAGE);
            ChainToNextStage();
            break;
        case TIMER_RESET_START:
            StopTimer(TIMER_RESET_START);
            m_resetCountdown = RESET_SECONDS;
            m_screenState = STATE_RESET_COUNTDOWN;
            Repaint();
            StartTimer(TIMER_RESET_TICK, 1000);
            break;
        case TIMER_RESET_TICK:
            // The countdown stays on 0: the unit's reset is announced, never done here.
            if (m_resetCountdown > 0) {
                m_resetCountdown -= 1;
                Repaint();
            } else {
                StopTimer(TIMER_RESET_TICK);
            }
            break;
        case TIMER_OPEN_MPEG_LINK:
            StopTimer(TIMER_OPEN_MPEG_LINK);
            if (m_mpegLink == nullptr && m_stages.openMpegLink != nullptr) {
                m_stages.openMpegLink(*this);
            }
            break;
        case TIMER_MCU_BLOCK:
        case TIMER_MPEG_RETRY:
        case TIMER_MCU_RETRY:
        case TIMER_LINK_WATCH:
            if (m_stages.onFirmwareTimer != nullptr)
                m_stages.onFirmwareTimer(*this, id);
            break;
        default:
            break;
    }
}

void CUpdateDialog::ChainToNextStage() {
    StageChainStep step = NextStage(m_updateKind, m_updateFlags, m_outcome);
    if (step.action == StageChainStep::RESET_COUNTDOWN) {
        StartTimer(TIMER_RESET_START, 50);
        return;
    }
    if (step.action == StageChainStep::CLOSE) {
        PostMessage(WM_CLOSE, 0, 0);
        return;
    }
    m_screenState = STATE_PREPARING;
    m_percent = 0;
    m_updateKind = step.kind;
    Repaint();
}

BOOL CUpdateDialog::OnCommand(WPARAM wParam, LPARAM) {
    switch (static_cast<int>(wParam & 0xFFFF)) {
        case IDC_BUTTON_START:
            OnStartButton();
            return TRUE;
        case IDC_BUTTON_CLOSE:
            OnCloseButton();
            return TRUE;
        default:
            return FALSE;
    }
}

void CUpdateDialog::OnStartButton() {
    m_screenState = STATE_PREPARING;
    HideButtons();
    Repaint();
}

void CUpdateDialog::OnCloseButton() {
    PostMessage(WM_CLOSE, 0, 0);
}

HBRUSH CUpdateDialog::OnCtlColor(HDC dc, CWnd* window, UINT colorKind) {
    HBRUSH brush = CDialog::OnCtlColor(dc, window, colorKind);
    int id = window->GetDlgCtrlID();
    if (id == IDC_BUTTON_START || id == IDC_BUTTON_CLOSE)
        return brush;
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    return m_ctlBrush;
}

void CUpdateDialog::OnClose() {
    NKDbgPrintfW(L"Quarrin Release Object...\r\n");
    const StageStarters& stages = m_stages;
    if (m_mpegLink != nullptr) {
        if (stages.stopLinkThreads != nullptr)
            stages.stopLinkThreads(m_mpegLink.get());
        NKDbgPrintfW(L"MPEG Thread Closed!\r\n");
    }
    if (m_mcuLink != nullptr) {
        if (stages.stopLinkThreads != nullptr)
            stages.stopLinkThreads(m_mcuLink.get());
        NKDbgPrintfW(L"MCU Thread Closed!\r\n");
    }
    // Fonts, brushes and pens are handles of different types under the real API.
    auto release = [](auto& object) {
        if (object != nullptr)
            DeleteObject(object);
        object = nullptr;
    };
    release(m_font);
    release(m_trackBrush);
    release(m_trackPen);
    release(m_barBrush);
    release(m_barPen);
    if (m_memDC != nullptr)
        DeleteDC(m_memDC);
    m_memDC = nullptr;
    if (m_memBitmap != nullptr)
        DeleteObject(m_memBitmap);
    m_memBitmap = nullptr;
    m_mcuLink.reset();  // the MCU link first
    m_mpegLink.reset();
    m_mcuImage.reset();
    m_mpegImage.reset();
    if (m_ctlBrush != nullptr)
        DeleteObject(m_ctlBrush);
    m_ctlBrush = nullptr;
    CDialog::OnClose();
}

void ResetDialogProcessState() {
    g_latches = DialogLatches{};
    g_notifyWindow = nullptr;
    g_updateErrorCode = 0;
    g_mpegUpdateActive = 0;
    g_screenWidth = 800;
    g_screenHeight = 480;
    ResetFirmwareImageLatch();
    ResetFirmwareProtocolState();
}
