#include "link/McuParser.h"

#include <cstring>

#include "contract/UpdateContract.h"
#include "link/FrameTrace.h"
#include "link/LinkKinds.h"
#include "link/ParserSupport.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"

BYTE g_mcuVersionRecord[MCU_VERSION_RECORD_SIZE];

namespace {

constexpr int kVersionLastOffset = 4 + MCU_VERSION_PAYLOAD - 1;  // 76

constexpr TextField kVersionTexts[] = {
    {L"MCU Version:", 4, 17}, {L"MCU Date:", 21, 6}, {L"Can:", 28, 16},
    {L"Internal:", 44, 16},   {L"Custom:", 60, 16},
};

HANDLE g_mcuToMpegMapping = nullptr;

void Post(WPARAM value, BYTE code) {
    PostWithinBudget(LINK_MCU, value, code);
}

void StoreVersion(const BYTE* frame) {
    std::memset(g_mcuVersionRecord, 0, sizeof g_mcuVersionRecord);
    std::memcpy(g_mcuVersionRecord, frame + 4, MCU_VERSION_PAYLOAD);
    PrintTextFields(kVersionTexts, frame);
    Post(0, MCU_MSG_VERSION);
}

}  // namespace

int ParseMcuFrame(CoprocessorLink*, const BYTE* frame, int length) {
    if (frame == nullptr || !HasField(length, 3))
        return 1;
    BYTE code = frame[3];
    // The block acknowledgements come a thousand times per update: not traced.
    if (code != MCU_MSG_BLOCK_ACK)
        TraceFrame(L"R:", frame, length);
    switch (code) {
        case MCU_MSG_TO_MPEG:
            StorePassThroughFrame(g_mcuToMpegMapping, PASS_THROUGH_MCU_TO_MPEG, frame, length,
                                  LINK_MCU);
            break;
        case MCU_MSG_UPDATE_ACK:
            NKDbgPrintfW(L"hWnd=0x%x\r\n",
                         static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(g_notifyWindow)));
            Post(0, code);
            break;
        case MCU_MSG_STATUS:
        case MCU_MSG_PROGRAM_RESULT:
            if (HasField(length, 4))
                Post(frame[4], code);
            break;
        case MCU_MSG_NOTIFICATION_82:
        case MCU_MSG_PROGRAM_READY:
            Post(0, code);
            break;
        case MCU_MSG_BLOCK_ACK:
            if (HasField(length, 5))
                Post(Word16At(frame, 4), code);
            break;
        case MCU_MSG_VERSION:
            if (HasField(length, kVersionLastOffset))
                StoreVersion(frame);
            break;
        default:
            break;
    }
    return 1;
}
