// Progress lines: a short English description of what the screen shows, reported whenever
// it changes ("MCU 57%", "MCU success", "reset countdown 12").
#include "dialog/UpdateDialog.h"

namespace {

const wchar_t* KindName(DWORD kind) {
    switch (kind) {
        case KIND_APP:
            return g_systemFilesDamaged ? L"application restore" : L"application";
        case KIND_MCU:
            return L"MCU";
        case KIND_MPEG:
            return L"MPEG";
        case KIND_NAVI:
            return L"navigation";
        default:
            return L"update";
    }
}

std::wstring Describe(const CUpdateDialog& dialog) {
    wchar_t line[96] = {};
    const wchar_t* kind = KindName(dialog.m_updateKind);
    switch (dialog.m_screenState) {
        case STATE_PREPARING:
            wsprintfW(line, L"%s preparing", kind);
            break;
        case STATE_RUNNING:
            if (dialog.m_outcome == OUTCOME_WRITING_FLASH) {
                wsprintfW(line, L"%s writing flash", kind);
            } else {
                wsprintfW(line, L"%s %d%%", kind, dialog.m_percent);
            }
            break;
        case STATE_RESULT:
            if (dialog.m_outcome == OUTCOME_SUCCESS) {
                wsprintfW(line, L"%s success", kind);
            } else {
                wsprintfW(line, L"%s failed, error code %d", kind, g_updateErrorCode);
            }
            break;
        case STATE_BACKUP:
            wsprintfW(line, L"%s backup", kind);
            break;
        case STATE_RESET_COUNTDOWN:
            wsprintfW(line, L"reset countdown %d", dialog.m_resetCountdown);
            break;
        default:
            if (dialog.m_screenState > 0)
                wsprintfW(line, L"detecting update files %d", dialog.m_screenState);
            break;
    }
    return line;
}

}  // namespace

void CUpdateDialog::ReportProgress() {
    std::wstring line = Describe(*this);
    if (line.empty() || line == m_lastProgress)
        return;
    m_lastProgress = line;
    ReportProgressLine(line.c_str());
}
