// The update record "ResidentFlash2\UpdateInfo.dat": one 32-bit little-endian request word
// that carries an update request from one start of the unit to the next.
#pragma once

#include "platform/Win32.h"

struct UpdateRequest {
    bool opened;  // false: the record could not be opened
    DWORD word;   // the request word, 1 already turned into 0
};

// Reads the request word and, when it is not 0, resets the file's first four bytes to 0.
UpdateRequest ReadAndClearUpdateRequest();

// Reads the request word as ReadAndClearUpdateRequest would, without clearing it. On a file
// system that refuses every change, a record that passes the rules of that open for writing
// counts as opened.
UpdateRequest PeekUpdateRequest();

// Writes the request word 2 (UPDATE_APP) so that the next start retries the application
// update, and hands the operating-system image over when one waits on the internal disk.
void WriteUpdateRecord();

// Writes the request word 2 before the application folder is touched: a power failure
// during the update then makes the next start repeat it, instead of launching a missing or
// half-unpacked application. A completed update resets the word, a failed one keeps it.
void ArmApplicationRetry();

// Writes the request word 0 after a good application update, with the same hand-over.
void ResetUpdateRecord();

// The hand-over of an operating-system image (OS_IMAGE_PATH, contract/DevicePaths.h).
bool OperatingSystemImageWaits();

// Writes the request word 0x40 (UPDATE_NAVI) before the card is emptied: a power failure
// before the copy has finished then makes the next start with the medium repeat the
// navigation update, instead of starting with a card that lost its data.
void ArmNavigationRetry();

// Writes the request word 0 once the navigation copy has returned, whatever its outcome: a
// finished update is done, and a failed one is not repeated.
void DisarmNavigationRetry();
