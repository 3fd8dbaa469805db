// What follows a stage once its result has been shown: the next requested kind (application,
// then MPEG, then MCU), the reset countdown after an MCU stage that did not fail, or the end
// of the dialog. A navigation stage is never chained to or from.
#pragma once

#include "platform/Win32.h"

struct StageChainStep {
    enum Action { NEXT_KIND, RESET_COUNTDOWN, CLOSE };
    Action action;
    DWORD kind;  // with NEXT_KIND
};

// `kind` is the stage just shown, `flags` the kinds discovery found, `outcome` its OUTCOME_*.
StageChainStep NextStage(DWORD kind, DWORD flags, int outcome);
