// The worker thread of a navigation data update: replaces the whole content of "Storage
// Card" with the navigation folder g_naviSourceDir, after emptying and formatting the card
// and laying down the placeholder files that the unit expects on it.
#pragma once

#include <string>

#include "contract/DevicePaths.h"
#include "platform/Win32.h"

inline constexpr int NAVI_ERROR_COUNT_MISMATCH = 20;
inline constexpr int NAVI_ERROR_COPY_FAILED = 21;
inline constexpr int NAVI_ERROR_NO_FILES = 22;
inline constexpr int NAVI_ERROR_NO_CARD = 23;
inline constexpr int NAVI_ERROR_SOURCE_ON_CARD = 24;

// The volume that the navigation folder replaces.
inline constexpr const wchar_t* NAVI_DESTINATION = CARD_VOLUME;

// Thread procedure; `dialog` is the update dialog, of which only its window is read
// (DialogWindowOf). Reports by posting WM_UPDATE_PROGRESS and by g_updateErrorCode (20 to
// 24); always returns 0.
// 20 also when a folder of the source could not be listed, or the card kept entries that
// neither the deletion nor the format removed: the card then does not hold just the folder.
// While the card is rewritten the update record holds UPDATE_NAVI, so a power cut repeats
// the update at the next start; it holds 0 again before the final post.
DWORD NaviUpdateThread(LPVOID dialog);

// Whether the card can take the navigation folder at `source`, decided before anything on
// the card is touched, and without changing anything: 0 when it can; NAVI_ERROR_NO_CARD when
// "Storage Card" is not there as a folder (no card: no folder, a volume link that leads
// nowhere, a file in its place), since a copy would then make a folder of that name in the
// unit's memory; NAVI_ERROR_SOURCE_ON_CARD when the source lies on the card or the card in
// the source (two volumes that reach one card), or when that cannot be told, since emptying
// the card would delete the source. Logs the reason.
int CheckNavigationDestination(const std::wstring& source);

// Whether a navigation update that failed with `code` left the card as it was: 22, 23 and 24
// end before anything on the card is touched.
bool NavigationFailureSparesCard(int code);

// The files of the navigation folder that the worker counts: those of the folder and of every
// folder below it whose name does not begin with a dot (CollectDirectoryTree, ScanFiles).
int CountNavigationFiles(const std::wstring& source);

// Bytes of the marker and placeholder files that the worker lays down on the empty card.
ULONGLONG PlaceholderBytes();

// Creates the empty marker "Storage Card\UPDOS" and the zero-filled placeholder files on the
// card, as the worker does after formatting it (also used to time that step on the host).
void LayDownPlaceholders();
