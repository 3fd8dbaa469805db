// The modal, full-screen update dialog: one run of it is one update run. It performs one
// stage per requested kind (application, then MPEG, then MCU; or navigation data), shows
// progress and results, and closes, or ends on the reset countdown after a good MCU stage.
#pragma once

#include <memory>
#include <vector>

#include "contract/UpdateContract.h"
#include "link/CoprocessorLinkPtr.h"
#include "plan/UpdatePlan.h"
#include "platform/Win32.h"
#include "platform/framework/Dialog.h"

class CoprocessorLink;

// Screen states (m_screenState); a positive value is the detection countdown.
inline constexpr int STATE_PREPARING = -1;
inline constexpr int STATE_RUNNING = -2;
inline constexpr int STATE_RESULT = -3;
inline constexpr int STATE_BACKUP = -4;
inline constexpr int STATE_RESET_COUNTDOWN = -5;

inline constexpr int OUTCOME_NONE = 0;
inline constexpr int OUTCOME_RUNNING = 1;
inline constexpr int OUTCOME_SUCCESS = 2;
inline constexpr int OUTCOME_FAILED = 3;
inline constexpr int OUTCOME_WRITING_FLASH = 4;

inline constexpr UINT_PTR TIMER_DETECT = 10;
inline constexpr UINT_PTR TIMER_SHOW_RESULT = 11;
inline constexpr UINT_PTR TIMER_NEXT_STAGE = 12;
inline constexpr UINT_PTR TIMER_RESET_START = 13;
inline constexpr UINT_PTR TIMER_RESET_TICK = 14;
inline constexpr UINT_PTR TIMER_OPEN_MPEG_LINK = 90;
inline constexpr UINT_PTR TIMER_MCU_BLOCK = 100;
inline constexpr UINT_PTR TIMER_MPEG_RETRY = 101;
inline constexpr UINT_PTR TIMER_MCU_RETRY = 102;
inline constexpr UINT_PTR TIMER_LINK_WATCH = 103;  // a firmware stage's link, once a second

inline constexpr int DETECT_SECONDS = 20;
inline constexpr int RESET_SECONDS = 30;

class CUpdateDialog;

// What the dialog calls to run its stages; the program's wiring (app/StageTable.h) hands the
// dialog its table, tests put fakes in it. A null entry starts nothing.
struct StageStarters {
    LPTHREAD_START_ROUTINE appWorker = nullptr;
    LPTHREAD_START_ROUTINE naviWorker = nullptr;
    void (*startMcu)(CUpdateDialog&) = nullptr;
    void (*startMpeg)(CUpdateDialog&) = nullptr;
    void (*onMcuMessage)(CUpdateDialog&, WPARAM, LPARAM) = nullptr;
    void (*onMpegMessage)(CUpdateDialog&, WPARAM, LPARAM) = nullptr;
    void (*onFirmwareTimer)(CUpdateDialog&, UINT_PTR) = nullptr;
    void (*openMpegLink)(CUpdateDialog&) = nullptr;
    void (*stopLinkThreads)(CoprocessorLink*) = nullptr;
};
// The table without any stage: a dialog given no table shows its screens and starts nothing.
const StageStarters& NoStages();

class CUpdateDialog : public CDialog, public UpdatePlanFields {
public:
    // The dialog keeps a reference to `stages` and reads it at each use.
    explicit CUpdateDialog(const StageStarters& stages = NoStages(), CWnd* parent = nullptr);
    ~CUpdateDialog() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;

    HICON m_hIcon = nullptr;
    HFONT m_font = nullptr;
    HBRUSH m_trackBrush = nullptr;
    HPEN m_trackPen = nullptr;
    HBRUSH m_barBrush = nullptr;
    HPEN m_barPen = nullptr;
    HBITMAP m_memBitmap = nullptr;
    HDC m_memDC = nullptr;
    CoprocessorLinkPtr m_mcuLink;
    CoprocessorLinkPtr m_mpegLink;
    int m_screenState = 0;
    int m_percent = 0;
    int m_outcome = OUTCOME_NONE;
    int m_resetCountdown = 0;
    HANDLE m_workerThread = nullptr;
    DWORD m_blockIndex = 0;
    std::unique_ptr<BYTE[]> m_mcuImage;
    std::unique_ptr<BYTE[]> m_mpegImage;
    DWORD m_mpegBlockCount = 0;
    DWORD m_mpegImageSize = 0;
    DWORD m_mcuImageSize = 0;  // the MCU file's size, also of one too large to be read
    HBRUSH m_ctlBrush = nullptr;

    // The firmware images, read once per process on the first preparing paint.
    void LoadFirmwareImages();

    // --- How a stage changes the screen: the stages call these, never write the fields.
    enum class Paint {
        Later,       // with the next paint that comes anyway
        Now,         // a repaint now
        IfChanged,   // a repaint now when the value changed
        AfterPause,  // a repaint a second later (TIMER_SHOW_RESULT)
    };
    // A stage is under way (OUTCOME_RUNNING); the screen keeps what it shows.
    void BeginStage();
    // The running screen; `paint` is Later or Now.
    void ShowRunning(Paint paint);
    // The co-processor writes its flash: the running screen at 100%, painted now.
    void ShowWritingFlash();
    // The running stage's percentage; `paint` is Now or IfChanged.
    void SetPercent(int percent, Paint paint);
    // Ends the stage with `outcome` (OUTCOME_SUCCESS or OUTCOME_FAILED) at 100%; a non-zero
    // `code` becomes the error code shown. `paint` is Now or AfterPause.
    void ShowResult(int outcome, int code, Paint paint);
    // Ends a stage that cannot start (no usable image) as failed with `code`: the result screen
    // is painted a second later, as the stage start runs inside a paint.
    void ShowStartFailure(int code);

protected:
    void OnPaint() override;
    void OnClose() override;
    void OnTimer(UINT_PTR id) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    HBRUSH OnCtlColor(HDC dc, CWnd* window, UINT colorKind) override;

    void OnStartButton();
    void OnCloseButton();

private:
    void OnProgress(WPARAM wParam, LPARAM lParam);
    void StartStage();
    void StartWorker(LPTHREAD_START_ROUTINE routine);
    void DrawScreen();
    void DrawProgressBar(bool wide);
    void Repaint() { InvalidateRect(m_hWnd, nullptr, FALSE); }
    void StartTimer(UINT_PTR id, UINT period) { SetTimer(id, period, nullptr); }
    void StopTimer(UINT_PTR id) { KillTimer(id); }
    void HideButtons();
    void ChainToNextStage();
    void ReportProgress();

    std::wstring m_lastProgress;  // the last progress line reported
    const StageStarters& m_stages;
};

// One-shot latches: each reaction or stage start they guard runs once per process.
struct DialogLatches {
    BYTE onceMpegUpdateAck = 1;
    BYTE onceMpegVersion = 1;
    BYTE onceMpegProgramReady = 1;
    BYTE onceMcuProgramReady = 1;
    BYTE onceMcuVersion = 1;
    BYTE onceStartApp = 1;
    BYTE onceStartMcu = 1;
    BYTE onceStartMpeg = 1;
    BYTE onceStartNavi = 1;
};
extern DialogLatches g_latches;
extern int g_screenWidth;
extern int g_screenHeight;

// Tests the latch; clears it and returns true the first time only.
inline bool TakeLatch(BYTE& latch) {
    if (latch == 0)
        return false;
    latch = 0;
    return true;
}

// Resets the process-wide dialog state, as at the start of a new process (tests only).
void ResetDialogProcessState();
void ResetFirmwareImageLatch();
