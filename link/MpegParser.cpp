#include "link/MpegParser.h"

#include "contract/UpdateContract.h"
#include "link/FrameTrace.h"
#include "link/LinkKinds.h"
#include "link/ParserSupport.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"

namespace {

constexpr TextField kVersionTexts[] = {
    {L"MPEG Ver:", 4, 8},
    {L"MPEG Date:", 12, 18},
    {L"Servo:", 30, 16},
};
constexpr int kVersionLastOffset = 45;

HANDLE g_mpegToMcuMapping = nullptr;

void Post(WPARAM value, BYTE code) {
    PostWithinBudget(LINK_MPEG, value, code);
}

bool IsTraced(BYTE code) {
    return code != MPEG_MSG_STATUS_8B && code != MPEG_MSG_STATUS_8C && code != MPEG_MSG_BLOCK_ACK;
}

}  // namespace

int ParseMpegFrame(CoprocessorLink*, const BYTE* frame, int length) {
    if (frame == nullptr || !HasField(length, 3))
        return 1;
    BYTE code = frame[3];
    if (IsTraced(code))
        TraceFrame(L"MPEG R:", frame, length);
    switch (code) {
        case MPEG_MSG_UPDATE_ACK:
        case MPEG_MSG_PROGRAM_RESULT:
            if (HasField(length, 4))
                Post(frame[4], code);
            break;
        case MPEG_MSG_VERSION:
            if (!HasField(length, kVersionLastOffset))
                break;
            PrintTextFields(kVersionTexts, frame);
            Post(0, code);
            break;
        case MPEG_MSG_PROGRAM_READY:
        case MPEG_MSG_ALIVE:
            Post(0, code);
            break;
        case MPEG_MSG_BLOCK_ACK:
            if (HasField(length, 5))
                Post(Word16At(frame, 4), code);
            break;
        case MPEG_MSG_TO_MCU:
            StorePassThroughFrame(g_mpegToMcuMapping, PASS_THROUGH_MPEG_TO_MCU, frame, length,
                                  LINK_MPEG);
            break;
        default:
            break;
    }
    return 1;
}
