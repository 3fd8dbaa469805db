// Where the update sources were found: volume roots with a trailing backslash, and the
// navigation folder without one. Set by discovery, read by the image loader and workers.
#pragma once

#include <string>

extern std::wstring g_appSourceRoot;  // "Storage Card\\", "SDHC\\" or "硬盘\\"
extern std::wstring g_mcuSourceRoot;
extern std::wstring g_mpegSourceRoot;
extern std::wstring g_naviSourceDir;    // "硬盘\\navi_update" or "SDHC\\navi_update"
extern wchar_t g_updateFolderName[16];  // "ZEL_Update" or "navi_update", shown while waiting

// Gives the roots the values they have when the process starts.
void ResetSourceRoots();
