// What the MCU and the MPEG stage share: opening a link, how a stage changes the screen, and
// the entry points the protocol's dispatch calls.
#pragma once

#include "dialog/UpdateDialog.h"

class CoprocessorLink;

// A new link to the MCU or the MPEG module, opened (the port may have failed to open).
CoprocessorLink* OpenCoprocessorLink(bool mcu);

// The running stage's percentage; repaints only when it changes.
void SetStagePercent(CUpdateDialog& dialog, int percent);
// Ends the stage as failed with `code` (0 keeps the code stored before): 100% and the
// failure screen at once.
void ShowStageFailure(CUpdateDialog& dialog, int code);
// Ends the stage as succeeded. With `pause` the result screen is painted a second later.
void ShowStageSuccess(CUpdateDialog& dialog, bool pause);

// The stages' own timers and state.
void OnMcuRetryTimer(CUpdateDialog& dialog);
void OnMcuBlockTimer(CUpdateDialog& dialog);
void OnMpegRetryTimer(CUpdateDialog& dialog);
void ResetMcuStageState();
void ResetMpegStageState();
