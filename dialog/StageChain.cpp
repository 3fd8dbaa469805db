#include "dialog/StageChain.h"

#include "dialog/UpdateDialog.h"

StageChainStep NextStage(DWORD kind, DWORD flags, int outcome) {
    switch (kind) {
        case KIND_APP:
            if (flags & UPDATE_MPEG)
                return {StageChainStep::NEXT_KIND, KIND_MPEG};
            if (flags & UPDATE_MCU)
                return {StageChainStep::NEXT_KIND, KIND_MCU};
            break;
        case KIND_MCU:
            if (outcome != OUTCOME_FAILED)
                return {StageChainStep::RESET_COUNTDOWN, kind};
            break;
        case KIND_MPEG:
            if (flags & UPDATE_MCU)
                return {StageChainStep::NEXT_KIND, KIND_MCU};
            break;
        default:
            break;
    }
    return {StageChainStep::CLOSE, kind};
}
