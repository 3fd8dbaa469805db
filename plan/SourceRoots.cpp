#include "plan/SourceRoots.h"

std::wstring g_appSourceRoot = L"Storage Card\\";
std::wstring g_mcuSourceRoot = L"Storage Card\\";
std::wstring g_mpegSourceRoot = L"Storage Card\\";
std::wstring g_naviSourceDir = L"USB\\";
wchar_t g_updateFolderName[16] = L"";

void ResetSourceRoots() {
    g_appSourceRoot = L"Storage Card\\";
    g_mcuSourceRoot = L"Storage Card\\";
    g_mpegSourceRoot = L"Storage Card\\";
    g_naviSourceDir = L"USB\\";
    g_updateFolderName[0] = L'\0';
}
