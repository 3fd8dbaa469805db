// The MCU side of the firmware protocol: the MCU stage and the MCU's part in an MPEG stage.
//
//   update request  -> acknowledgement      (MPEG stage: accept and update mode, then idle)
//   enter loader    -> version report
//   start program   -> program ready
//   data block n    -> acknowledgement of n, 1024 times
//   end frame       -> programming result   (resent every second, at most 10 times)
//
// Besides, the link is watched once a second: a port that did not open, a line that hangs up
// before the end frame, or an MCU that sends nothing at all for two minutes fails the stage.
#include <algorithm>

#include "contract/DevicePaths.h"
#include "dialog/FirmwareProtocol.h"
#include "dialog/FirmwareStageSupport.h"
#include "dialog/FirmwareSteps.h"
#include "link/CoprocessorLink.h"
#include "link/LinkKinds.h"
#include "link/McuParser.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"

int g_mcuStep = MCU_STEP_NONE;
int g_mcuEndResends = 0;

namespace {

constexpr UINT kResendMs = 1000;
// MCU_RAW_DATA_PATH keeps the head of the MCU's identification record.
constexpr DWORD kRawDataBytes = 32;
constexpr WPARAM kNoAck = ~WPARAM{0};

// The last block acknowledgement acted on. A second acknowledgement with the same number is a
// repeat (a late answer to a resend, or a line that doubles a frame): acting on it would send
// the next block twice, each copy would be acknowledged, and from then on every block would
// travel twice. Repeats are dropped; the block timer still covers a block really lost.
WPARAM g_lastBlockAck = kNoAck;
LinkWatch g_watch;

void SendBlock(CUpdateDialog& dialog, DWORD block) {
    BYTE payload[2 + MCU_BLOCK_SIZE];
    payload[0] = static_cast<BYTE>(block >> 8);
    payload[1] = static_cast<BYTE>(block);
    std::copy_n(dialog.m_mcuImage.get() + block * MCU_BLOCK_SIZE, MCU_BLOCK_SIZE, payload + 2);
    dialog.m_mcuLink->MCU_CMD_DATA_BLOCK(payload, sizeof payload);
}

void SendEnd(CUpdateDialog& dialog) {
    unsigned sum = 0;
    for (DWORD i = 0; i < MCU_IMAGE_SIZE; ++i)
        sum += dialog.m_mcuImage[i];
    BYTE bytes[2] = {static_cast<BYTE>(sum >> 8), static_cast<BYTE>(sum)};
    dialog.m_mcuLink->MCU_CMD_END_PROGRAM(bytes, sizeof bytes);
}

int Percent(DWORD block) {
    return static_cast<int>(block * 0.0009765625 * 100.0);
}

void WriteRawDataFile() {
    HANDLE file = CreateFileW(MCU_RAW_DATA_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, g_mcuVersionRecord, kRawDataBytes, &written, nullptr);
    CloseHandle(file);
}

// After the last block: the end frame, resent by the block timer until the result comes.
void StartEndFrame(CUpdateDialog& dialog) {
    dialog.KillTimer(TIMER_MCU_BLOCK);
    g_mcuStep = MCU_STEP_END_FRAME;
    g_mcuEndResends = 0;
    SendEnd(dialog);
    // NOTE: the stage stays running at 100% until the MCU reports its programming result:
    // showing success here would announce a reset to a unit whose MCU may yet fail.
    dialog.SetTimer(TIMER_MCU_BLOCK, kResendMs, nullptr);
    dialog.SetPercent(100, CUpdateDialog::Paint::Now);
}

void StopTimers(CUpdateDialog& dialog) {
    dialog.KillTimer(TIMER_MCU_BLOCK);
    dialog.KillTimer(TIMER_MCU_RETRY);
    dialog.KillTimer(TIMER_LINK_WATCH);
}

void Succeed(CUpdateDialog& dialog) {
    g_mcuStep = MCU_STEP_SUCCEEDED;
    StopTimers(dialog);
    dialog.ShowResult(OUTCOME_SUCCESS, 0, CUpdateDialog::Paint::AfterPause);
}

void Fail(CUpdateDialog& dialog, int code) {
    g_mcuStep = MCU_STEP_DONE;
    StopTimers(dialog);
    dialog.KillTimer(TIMER_RESET_START);  // a success shown a moment ago is not counted down
    dialog.ShowResult(OUTCOME_FAILED, code, CUpdateDialog::Paint::Now);
}

// The code the stage fails with before anything is sent, 0 when the image is taken. A file
// that opened has a size or a buffer; one too large to take was measured and not read.
int RefuseImage(CUpdateDialog& dialog) {
    bool opened = dialog.m_mcuImage || dialog.m_mcuImageSize != 0;
    int code = McuImageSizeFailure(dialog.m_mcuImageSize);
    if (opened && code == ERROR_MCU_IMAGE_MISSING) {
        NKDbgPrintfW(L"MCU update file is empty\r\n");
    } else if (opened && code != 0) {
        wchar_t line[64];
        wsprintfW(line, L"MCU update file unusable: %d bytes\r\n",
                  static_cast<int>(dialog.m_mcuImageSize));
        NKDbgPrintfW(L"%s", line);
    }
    if (code == 0 && !dialog.m_mcuImage)
        code = ERROR_MCU_IMAGE_MISSING;  // not on the medium, or its read failed
    if (code != 0)
        dialog.m_mcuImage.reset();
    return code;
}

// --- Reactions, one per message ---------------------------------------------------------------

void OnToMpeg(CUpdateDialog& dialog, WPARAM) {
    ForwardPassThroughFrames(PASS_THROUGH_MCU_TO_MPEG, dialog.m_mpegLink.get());
}

void OnUpdateAck(CUpdateDialog& dialog, WPARAM) {
    CoprocessorLink* mcu = dialog.m_mcuLink.get();
    dialog.KillTimer(TIMER_MCU_RETRY);
    mcu->MCU_CMD_UPDATE_ACCEPT();
    if (dialog.m_updateKind == KIND_MCU) {
        g_mcuStep = MCU_STEP_ENTER_LOADER;
        mcu->MCU_CMD_ENTER_LOADER();
        dialog.SetTimer(TIMER_MCU_RETRY, kResendMs, nullptr);
    } else {
        g_mcuStep = MCU_STEP_ACCEPTED;
        if (dialog.m_updateKind == KIND_MPEG)
            mcu->MCU_CMD_MPEG_UPDATE_MODE();
    }
}

void OnStatus(CUpdateDialog& dialog, WPARAM) {
    dialog.m_mcuLink->MCU_CMD_STATUS_ACK();
}

void OnVersion(CUpdateDialog& dialog, WPARAM) {
    if (!TakeLatch(g_latches.onceMcuVersion))
        return;
    dialog.KillTimer(TIMER_MCU_RETRY);
    Sleep(1000);
    dialog.m_blockIndex = 0;
    dialog.ShowRunning(CUpdateDialog::Paint::Now);
    g_mcuStep = MCU_STEP_START_PROGRAM;
    dialog.m_mcuLink->MCU_CMD_START_PROGRAM();
    dialog.SetTimer(TIMER_MCU_RETRY, kResendMs, nullptr);
}

void OnProgramReady(CUpdateDialog& dialog, WPARAM) {
    if (!dialog.m_mcuImage || !TakeLatch(g_latches.onceMcuProgramReady))
        return;
    dialog.KillTimer(TIMER_MCU_RETRY);
    WriteRawDataFile();
    g_mcuStep = MCU_STEP_BLOCKS;
    dialog.m_blockIndex = 0;
    g_lastBlockAck = kNoAck;
    SendBlock(dialog, 0);
    dialog.SetTimer(TIMER_MCU_BLOCK, kResendMs, nullptr);
    dialog.SetPercent(0, CUpdateDialog::Paint::Now);
}

// An acknowledgement of another block than the current one resends the current block at
// once; once every block is in, any acknowledgement resends the end frame (without putting
// off the end frame's own resends, which bound the wait for the result).
void OnBlockAck(CUpdateDialog& dialog, WPARAM block) {
    if (block == g_lastBlockAck)
        return;
    g_lastBlockAck = block;
    if (g_mcuStep == MCU_STEP_END_FRAME) {
        SendEnd(dialog);
        return;
    }
    if (block == dialog.m_blockIndex)
        dialog.m_blockIndex += 1;
    if (dialog.m_blockIndex >= MCU_BLOCK_COUNT) {
        StartEndFrame(dialog);
        return;
    }
    SendBlock(dialog, dialog.m_blockIndex);
    dialog.SetTimer(TIMER_MCU_BLOCK, kResendMs, nullptr);
    dialog.SetPercent(Percent(dialog.m_blockIndex), CUpdateDialog::Paint::IfChanged);
}

// A failure counts from the first block on; a success only once the end frame has gone, when
// the MCU can have the whole image. A failure is final. A success stands unless the MCU
// reports a failure while it is still on the screen, before the reset countdown: the loader
// does not announce a reset over the MCU's own word that its programming failed.
void OnProgramResult(CUpdateDialog& dialog, WPARAM result) {
    bool good = (result & 0xFF) == 0;
    bool succeeded = g_mcuStep == MCU_STEP_SUCCEEDED;
    if ((good && g_mcuStep != MCU_STEP_END_FRAME) ||
        (succeeded && dialog.m_screenState != STATE_RESULT)) {
        LogIgnoredMessage(Coprocessor::Mcu, MCU_MSG_PROGRAM_RESULT, g_mcuStep);
        return;
    }
    if (good) {
        Succeed(dialog);
    } else {
        Fail(dialog, ERROR_MCU_PROGRAMMING_FAILED);
    }
}

constexpr StepSet kWaitingForResult = InSteps(MCU_STEP_BLOCKS, MCU_STEP_END_FRAME);

constexpr Reaction kReactions[] = {
    {MCU_MSG_TO_MPEG, ANY_STEP, OnToMpeg},
    {MCU_MSG_UPDATE_ACK, InSteps(MCU_STEP_REQUEST), OnUpdateAck},
    {MCU_MSG_STATUS, ANY_STEP, OnStatus},
    {MCU_MSG_PROGRAM_READY, InSteps(MCU_STEP_START_PROGRAM), OnProgramReady},
    {MCU_MSG_BLOCK_ACK, kWaitingForResult, OnBlockAck},
    {MCU_MSG_PROGRAM_RESULT, kWaitingForResult | InSteps(MCU_STEP_SUCCEEDED), OnProgramResult},
    {MCU_MSG_VERSION, InSteps(MCU_STEP_ENTER_LOADER), OnVersion},
};

}  // namespace

void ResetMcuStageState() {
    g_mcuStep = MCU_STEP_NONE;
    g_mcuEndResends = 0;
    g_lastBlockAck = kNoAck;
    g_watch = LinkWatch{};
}

// The link to the MCU is opened here, or taken over from the MPEG stage of this run. A port
// that does not open fails the stage at the watch's first look, a second later.
void StartMcuStage(CUpdateDialog& dialog) {
    if (int code = RefuseImage(dialog); code != 0) {
        g_mcuStep = MCU_STEP_DONE;
        dialog.ShowStartFailure(code);
        return;
    }
    dialog.BeginStage();
    if (dialog.m_mcuLink == nullptr) {
        dialog.m_mcuLink = OpenCoprocessorLink(true);
        g_mcuStep = MCU_STEP_REQUEST;
        dialog.SetTimer(TIMER_MCU_RETRY, 3000, nullptr);
        dialog.m_mcuLink->MCU_CMD_UPDATE_REQUEST();
    } else {
        g_mcuStep = MCU_STEP_ENTER_LOADER;
        dialog.m_mcuLink->MCU_CMD_ENTER_LOADER();
        dialog.SetTimer(TIMER_MCU_RETRY, kResendMs, nullptr);
    }
    g_watch = StartLinkWatch(dialog, dialog.m_mcuLink.get());
}

void OnMcuMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam) {
    ReturnPostSlot(LINK_MCU);
    if (dialog.m_mcuLink != nullptr)
        React(kReactions, Coprocessor::Mcu, g_mcuStep, dialog, wParam, lParam);
}

void OnMcuRetryTimer(CUpdateDialog& dialog) {
    CoprocessorLink* mcu = dialog.m_mcuLink.get();
    switch (g_mcuStep) {
        case MCU_STEP_REQUEST:
            mcu->MCU_CMD_UPDATE_REQUEST();
            break;
        case MCU_STEP_ENTER_LOADER:
            mcu->MCU_CMD_ENTER_LOADER();
            break;
        case MCU_STEP_START_PROGRAM:
            mcu->MCU_CMD_START_PROGRAM();
            break;
        default:
            break;
    }
}

// Resends the current block, or the end frame. The MCU's programming result is waited for
// through MCU_END_PROGRAM_RESENDS resends: an MCU that never answers (it reset itself, or its
// answer was lost) must not hold the unit on "do not switch off" for ever. The stage then
// ends as the MCU stage always has, with the success text and the reset countdown.
void OnMcuBlockTimer(CUpdateDialog& dialog) {
    if (g_mcuStep == MCU_STEP_BLOCKS && dialog.m_blockIndex < MCU_BLOCK_COUNT) {
        SendBlock(dialog, dialog.m_blockIndex);
    } else if (g_mcuStep == MCU_STEP_END_FRAME && g_mcuEndResends < MCU_END_PROGRAM_RESENDS) {
        g_mcuEndResends += 1;
        SendEnd(dialog);
    } else if (g_mcuStep == MCU_STEP_END_FRAME) {
        NKDbgPrintfW(L"MCU program result missing after %d end frames\r\n",
                     MCU_END_PROGRAM_RESENDS + 1);
        Succeed(dialog);
    } else {
        dialog.KillTimer(TIMER_MCU_BLOCK);
    }
}

// A line that goes down before the end frame, or an MCU that has not sent one frame in the
// stage's first two minutes, ends the stage: nothing could end it otherwise. Once every block
// is in, the end frame's own bound decides (an MCU that resets itself after taking its image
// may well drop its line).
void OnMcuWatchTimer(CUpdateDialog& dialog) {
    bool running = g_mcuStep >= MCU_STEP_REQUEST && g_mcuStep <= MCU_STEP_END_FRAME;
    if (!running) {
        dialog.KillTimer(TIMER_LINK_WATCH);
        return;
    }
    LinkTrouble trouble = CheckLink(g_watch, dialog.m_mcuLink.get(), FIRMWARE_SILENCE_LIMIT_MS);
    if (trouble == LinkTrouble::None ||
        (trouble == LinkTrouble::HungUp && g_mcuStep == MCU_STEP_END_FRAME)) {
        return;
    }
    LogLinkTrouble(true, trouble, FIRMWARE_SILENCE_LIMIT_MS);
    Fail(dialog, trouble == LinkTrouble::Silent ? ERROR_MCU_SILENT : ERROR_MCU_LINE_DOWN);
}
