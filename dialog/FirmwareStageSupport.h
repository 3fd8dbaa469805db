// What the MCU and the MPEG stage share: opening a link, watching it, and the entry points the
// protocol's dispatch calls. A stage changes the screen through CUpdateDialog's stage calls.
#pragma once

#include "dialog/UpdateDialog.h"

class CoprocessorLink;

// A new link to the MCU or the MPEG module, opened (the port may have failed to open).
CoprocessorLinkPtr OpenCoprocessorLink(bool mcu);

// The watch over a running stage's link (TIMER_LINK_WATCH): how many frames the stage's
// co-processor had sent at the last look that found a new one (or at the stage's start), and
// when that was.
struct LinkWatch {
    DWORD lastFrameTick = 0;
    unsigned framesSeen = 0;
};
enum class LinkTrouble {
    None,
    NotOpen,  // the port did not open: nothing can reach the co-processor
    HungUp,   // the far end has hung up
    Silent,   // no frame from the co-processor for the stage step's silence limit
};
// Starts the watch for a stage that begins now; `link` may be opened later.
LinkWatch StartLinkWatch(CUpdateDialog& dialog, const CoprocessorLink* link);
// Looks at the link: a new frame moves the watch on; `silenceLimitMs` without one is Silent.
LinkTrouble CheckLink(LinkWatch& watch, const CoprocessorLink* link, DWORD silenceLimitMs);
// "MCU update failed: COM2 hung up" and the like.
void LogLinkTrouble(bool mcu, LinkTrouble trouble, DWORD silenceLimitMs);

// The stages' own timers and state.
void OnMcuRetryTimer(CUpdateDialog& dialog);
void OnMcuBlockTimer(CUpdateDialog& dialog);
void OnMpegRetryTimer(CUpdateDialog& dialog);
void OnMcuWatchTimer(CUpdateDialog& dialog);
void OnMpegWatchTimer(CUpdateDialog& dialog);
void ResetMcuStageState();
void ResetMpegStageState();
