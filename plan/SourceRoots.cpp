#include "plan/SourceRoots.h"

#include "contract/DevicePaths.h"

std::wstring g_appSourceRoot = CARD_ROOT;
std::wstring g_mcuSourceRoot = CARD_ROOT;
std::wstring g_mpegSourceRoot = CARD_ROOT;
std::wstring g_naviSourceDir = L"USB\\";
wchar_t g_updateFolderName[16] = L"";

void ResetSourceRoots() {
    g_appSourceRoot = CARD_ROOT;
    g_mcuSourceRoot = CARD_ROOT;
    g_mpegSourceRoot = CARD_ROOT;
    g_naviSourceDir = L"USB\\";
    g_updateFolderName[0] = L'\0';
}
