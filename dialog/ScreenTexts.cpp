#include "dialog/ScreenTexts.h"

#include "plan/UpdatePlan.h"

namespace {

const wchar_t* PreparingFormat(DWORD kind, bool restore) {
    switch (kind) {
        case KIND_APP:
            return restore ? L"准备恢复应用程序，请稍候...%s" : L"准备升级应用程序，请稍候...%s";
        case KIND_MCU:
            return L"准备升级MCU，请稍候...%s";
        case KIND_MPEG:
            return L"准备升级MPEG，请稍候...%s";
        case KIND_NAVI:
            return L"准备升级导航，请稍候(删除旧文件)...%s";
        default:
            return L"准备升级，请稍候...%s";
    }
}

const wchar_t* RunningFormat(DWORD kind, bool restore) {
    switch (kind) {
        case KIND_APP:
            return restore ? L"正在恢复应用程序 %s，请不要断电！"
                           : L"正在升级应用程序 %s，请不要断电！";
        case KIND_MCU:
            return L"正在升级MCU %s，请不要断电！\r\n\r\n请拔出升级卡";
        case KIND_MPEG:
            return L"正在升级MPEG %s，请不要断电！\r\n\r\n请拔出升级卡";
        default:
            return L"正在升级导航，请不要断电！%s";
    }
}

const wchar_t* ResultFormat(DWORD kind, bool success, bool restore) {
    switch (kind) {
        case KIND_APP:
            if (restore)
                return success ? L"应用程序恢复成功！%s"
                               : L"应用程序恢复失败！错误码:%d\r\n\r\n请再试一次";
            return success ? L"应用程序升级成功！%s"
                           : L"应用程序升级失败！错误码:%d\r\n\r\n请再试一次";
        case KIND_MCU:
            return success ? L"MCU升级成功！%s" : L"MCU升级失败！错误码:%d\r\n\r\n请再试一次";
        case KIND_MPEG:
            return success ? L"MPEG升级成功！%s" : L"MPEG升级失败！错误码:%d\r\n\r\n请再试一次";
        default:
            return success ? L"导航升级成功！%s" : L"导航升级失败！错误码:%d\r\n\r\n请再试一次";
    }
}

}  // namespace

std::wstring PreparingText(DWORD kind, bool restore) {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    wsprintfW(text, PreparingFormat(kind, restore), L"");
    return text;
}

std::wstring RunningText(DWORD kind, bool restore, const std::wstring& version) {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    // Only the application, MCU and MPEG lines carry a version; the navigation line takes "".
    bool versioned = kind == KIND_APP || kind == KIND_MCU || kind == KIND_MPEG;
    const wchar_t* argument = versioned ? version.c_str() : L"";
    wsprintfW(text, RunningFormat(kind, restore), argument);
    return text;
}

std::wstring ResultText(DWORD kind, bool success, bool restore, int code) {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    if (success) {
        wsprintfW(text, ResultFormat(kind, true, restore), L"");
    } else {
        wsprintfW(text, ResultFormat(kind, false, restore), code);
    }
    return text;
}

std::wstring BackupText() {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    wsprintfW(text, L"正在备份应用程序，请稍候...%s\r\n", L"");
    return text;
}

std::wstring DetectionText(int secondsLeft) {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    wsprintfW(text, L"正在检测升级文件......(%d)\r\n", secondsLeft);
    return text;
}

std::wstring ResetCountdownText(int secondsLeft) {
    wchar_t text[SCREEN_TEXT_CHARS] = {};
    wsprintfW(text, L"系统即将复位，请拔出升级卡！(%d)", secondsLeft);
    return text;
}
