// The screen state of a stage, as the stages change it.
#include "dialog/UpdateDialog.h"

void CUpdateDialog::BeginStage() {
    m_outcome = OUTCOME_RUNNING;
}

void CUpdateDialog::ShowRunning(Paint paint) {
    m_screenState = STATE_RUNNING;
    if (paint == Paint::Now)
        Invalidate(FALSE);
}

void CUpdateDialog::ShowWritingFlash() {
    m_screenState = STATE_RUNNING;
    m_outcome = OUTCOME_WRITING_FLASH;
    m_percent = 100;
    Invalidate(FALSE);
}

void CUpdateDialog::SetPercent(int percent, Paint paint) {
    if (paint == Paint::IfChanged && percent == m_percent)
        return;
    m_percent = percent;
    Invalidate(FALSE);
}

void CUpdateDialog::ShowResult(int outcome, int code, Paint paint) {
    if (code != 0)
        g_updateErrorCode = code;
    m_percent = 100;
    m_screenState = STATE_RESULT;
    m_outcome = outcome;
    if (paint == Paint::AfterPause) {
        StartTimer(TIMER_SHOW_RESULT, 1000);
    } else {
        Invalidate(FALSE);
    }
}

void CUpdateDialog::ShowStartFailure(int code) {
    g_updateErrorCode = code;
    m_screenState = STATE_RESULT;
    m_outcome = OUTCOME_FAILED;
    StartTimer(TIMER_SHOW_RESULT, 1000);
}
