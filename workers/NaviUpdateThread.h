// The worker thread of a navigation data update: replaces the whole content of "Storage
// Card" with the navigation folder g_naviSourceDir, after emptying and formatting the card
// and laying down the placeholder files that the unit expects on it.
#pragma once

#include <string>

#include "platform/Win32.h"

inline constexpr int NAVI_ERROR_COUNT_MISMATCH = 20;
inline constexpr int NAVI_ERROR_COPY_FAILED = 21;
inline constexpr int NAVI_ERROR_NO_FILES = 22;

// The volume that the navigation folder replaces.
inline constexpr wchar_t NAVI_DESTINATION[] = L"Storage Card";

// Thread procedure; `dialog` is the CUpdateDialog, of which only m_hWnd is read. Reports by
// posting WM_UPDATE_PROGRESS and by g_updateErrorCode (20, 21, 22); always returns 0.
// While the card is rewritten the update record holds UPDATE_NAVI, so a power cut repeats
// the update at the next start; it holds 0 again before the final post.
DWORD NaviUpdateThread(LPVOID dialog);

// The files of the navigation folder that the worker counts: those of the folder and of every
// folder below it whose name does not begin with a dot (CollectDirectoryTree, ScanFiles).
int CountNavigationFiles(const std::wstring& source);

// Bytes of the marker and placeholder files that the worker lays down on the empty card.
ULONGLONG PlaceholderBytes();

// Creates the empty marker "Storage Card\UPDOS" and the zero-filled placeholder files on the
// card, as the worker does after formatting it (also used to time that step on the host).
void LayDownPlaceholders();
