// The worker thread of a navigation data update: replaces the whole content of "Storage
// Card" with the navigation folder g_naviSourceDir, after emptying and formatting the card
// and laying down the placeholder files that the unit expects on it.
#pragma once

#include "platform/Win32.h"

// Thread procedure; `dialog` is the CUpdateDialog, of which only m_hWnd is read. Reports by
// posting WM_UPDATE_PROGRESS and by g_updateErrorCode (20, 21, 22); always returns 0.
// While the card is rewritten the update record holds UPDATE_NAVI, so a power cut repeats
// the update at the next start; it holds 0 again before the final post.
DWORD NaviUpdateThread(LPVOID dialog);

// Creates the empty marker "Storage Card\UPDOS" and the zero-filled placeholder files on the
// card, as the worker does after formatting it (also used to time that step on the host).
void LayDownPlaceholders();
