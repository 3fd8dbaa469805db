// The MPEG stage of the firmware protocol:
//
//   (alive messages, counted)  50th and later -> update request
//   update request  -> acknowledgement
//   enter loader    -> version report
//   start program   -> program ready         (at most 10 resends, then code 41)
//   data block n    -> the number of the block wanted next
//   end frame       -> programming result    (0: the module writes its flash)
//   (alive message)    the flash is written: success
//
// The module's link is watched once a second: a port that did not open, a line that hangs up
// before the stage ends, or a module that sends nothing at all for two minutes fails the
// stage. However the stage ends, the MCU is told afterwards that the MPEG update is over.
#include <algorithm>
#include <utility>

#include "dialog/FirmwareProtocol.h"
#include "dialog/FirmwareStageSupport.h"
#include "dialog/FirmwareSteps.h"
#include "link/CoprocessorLink.h"
#include "link/LinkKinds.h"
#include "link/MessageCodes.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"

int g_mpegStep = MPEG_STEP_NONE;
int g_mpegAliveCount = 0;
int g_mpegStartRetries = 0;

namespace {

constexpr int kAliveMessagesBeforeRequest = 50;
constexpr int kStartProgramResends = 10;
constexpr WPARAM kNoAck = ~WPARAM{0};

// The last block request acted on; a repeat is dropped (see the MCU stage).
WPARAM g_lastBlockAck = kNoAck;
// One past the highest block sent: the module may ask for any block up to this one, never
// beyond it (it cannot want a block after one it has not received).
DWORD g_nextUnsent = 0;
bool g_skipLogged = false;
LinkWatch g_watch;

bool ImageUsable(const CUpdateDialog& dialog) {
    return dialog.m_mpegImage && IsMpegImageSizeUsable(dialog.m_mpegImageSize);
}

void SendBlock(CUpdateDialog& dialog, DWORD block) {
    DWORD length = MPEG_BLOCK_SIZE;
    if (block + 1 == dialog.m_mpegBlockCount && dialog.m_mpegImageSize % MPEG_BLOCK_SIZE != 0) {
        length = dialog.m_mpegImageSize % MPEG_BLOCK_SIZE;
    }
    dialog.m_mpegLink->MPEG_CMD_DATA_BLOCK(static_cast<int>(block),
                                           dialog.m_mpegImage.get() + block * MPEG_BLOCK_SIZE,
                                           static_cast<int>(length));
    g_nextUnsent = std::max(g_nextUnsent, block + 1);
}

void SendEnd(CUpdateDialog& dialog) {
    dialog.m_mpegLink->MPEG_CMD_END_PROGRAM(dialog.m_mpegImage[MPEG_END_VALUE_OFFSET] << 8 |
                                            dialog.m_mpegImage[MPEG_END_VALUE_OFFSET + 1]);
}

int Percent(DWORD block, DWORD count) {
    return static_cast<int>(static_cast<double>(block) / static_cast<double>(count) * 100.0);
}

// The MCU was told that the MPEG module updates (mode 8); now it is told that this is over
// (mode 0), after a success and after a failure alike, so that neither the main application
// nor the MCU stage of this run meets an MCU still in the MPEG update mode.
void EndMcuUpdateMode(CUpdateDialog& dialog) {
    if (!g_mpegUpdateActive)
        return;
    g_mpegUpdateActive = 0;
    if (dialog.m_mcuLink != nullptr)
        dialog.m_mcuLink->MCU_CMD_MPEG_UPDATE_MODE();  // its mode byte is now 0
}

void Fail(CUpdateDialog& dialog, int code) {
    g_mpegStep = MPEG_STEP_DONE;
    dialog.KillTimer(TIMER_MPEG_RETRY);
    dialog.KillTimer(TIMER_LINK_WATCH);
    EndMcuUpdateMode(dialog);
    dialog.ShowResult(OUTCOME_FAILED, code, CUpdateDialog::Paint::Now);
}

// --- Reactions, one per message ---------------------------------------------------------------

void OnUpdateAck(CUpdateDialog& dialog, WPARAM) {
    if (!TakeLatch(g_latches.onceMpegUpdateAck))
        return;
    dialog.SetTimer(TIMER_MPEG_RETRY, 1000, nullptr);
    g_mpegStep = MPEG_STEP_ENTER_LOADER;
    dialog.m_mpegLink->MPEG_CMD_ENTER_LOADER();
}

void OnVersion(CUpdateDialog& dialog, WPARAM) {
    if (!TakeLatch(g_latches.onceMpegVersion))
        return;
    dialog.KillTimer(TIMER_MPEG_RETRY);
    Sleep(500);
    dialog.ShowRunning(CUpdateDialog::Paint::Later);
    dialog.SetTimer(TIMER_MPEG_RETRY, 2500, nullptr);
    g_mpegStep = MPEG_STEP_START_PROGRAM;
    dialog.m_mpegLink->MPEG_CMD_START_PROGRAM();
}

void OnProgramReady(CUpdateDialog& dialog, WPARAM) {
    if (!ImageUsable(dialog) || !TakeLatch(g_latches.onceMpegProgramReady))
        return;
    g_mpegStep = MPEG_STEP_BLOCKS;
    dialog.SetTimer(TIMER_MPEG_RETRY, 5000, nullptr);
    dialog.m_blockIndex = 0;
    g_lastBlockAck = kNoAck;
    g_nextUnsent = 0;
    SendBlock(dialog, 0);
    dialog.SetPercent(Percent(0, dialog.m_mpegBlockCount), CUpdateDialog::Paint::Now);
}

// A request for a block beyond the next one not yet sent is dropped: the module cannot have
// the blocks in between, and taking it would skip them (up to the end frame, and a success
// for an image the module never got). The resend timer keeps offering the current block.
bool SkipsAhead(WPARAM wanted) {
    if (wanted <= g_nextUnsent)
        return false;
    if (!std::exchange(g_skipLogged, true)) {
        wchar_t line[96];
        wsprintfW(line, L"MPEG request for block %d ignored: block %d not sent yet\r\n",
                  static_cast<int>(wanted), static_cast<int>(g_nextUnsent));
        NKDbgPrintfW(L"%s", line);
    }
    return true;
}

void OnBlockAck(CUpdateDialog& dialog, WPARAM wanted) {
    if (!ImageUsable(dialog) || wanted == g_lastBlockAck || SkipsAhead(wanted))
        return;
    g_lastBlockAck = wanted;
    dialog.m_blockIndex = static_cast<DWORD>(wanted);
    if (dialog.m_blockIndex < dialog.m_mpegBlockCount) {
        dialog.SetTimer(TIMER_MPEG_RETRY, 5000, nullptr);
        g_mpegStep = MPEG_STEP_BLOCKS;
        SendBlock(dialog, dialog.m_blockIndex);
        dialog.SetPercent(Percent(dialog.m_blockIndex, dialog.m_mpegBlockCount),
                          CUpdateDialog::Paint::IfChanged);
        return;
    }
    g_mpegStep = MPEG_STEP_END_FRAME;
    dialog.SetTimer(TIMER_MPEG_RETRY, 3000, nullptr);
    SendEnd(dialog);
    dialog.SetPercent(100, CUpdateDialog::Paint::Now);
}

// A failure is final, from the first block on and also while the module writes its flash
// after a good result. A success counts only as the answer to the end frame.
void OnProgramResult(CUpdateDialog& dialog, WPARAM result) {
    if (result != 0) {
        Fail(dialog, ERROR_MPEG_PROGRAMMING_FAILED);
        return;
    }
    if (g_mpegStep != MPEG_STEP_END_FRAME) {
        LogIgnoredMessage(Coprocessor::Mpeg, MPEG_MSG_PROGRAM_RESULT, g_mpegStep);
        return;
    }
    dialog.KillTimer(TIMER_MPEG_RETRY);
    g_mpegStep = MPEG_STEP_WRITING_FLASH;
    dialog.ShowWritingFlash();
}

void OnFlashWritten(CUpdateDialog& dialog) {
    g_mpegStep = MPEG_STEP_DONE;
    dialog.KillTimer(TIMER_LINK_WATCH);
    EndMcuUpdateMode(dialog);
    dialog.ShowResult(OUTCOME_SUCCESS, 0, CUpdateDialog::Paint::Now);
}

// Counted until the module has acknowledged the update request: from the 50th on, each one
// asks for the update again. (Later, asking again would achieve nothing and would stop the
// resends of the step the transfer is in.)
void OnAlive(CUpdateDialog& dialog, WPARAM) {
    if (g_mpegStep == MPEG_STEP_WRITING_FLASH) {
        OnFlashWritten(dialog);
        return;
    }
    g_mpegAliveCount += 1;
    if (g_mpegAliveCount >= kAliveMessagesBeforeRequest) {
        dialog.m_mpegLink->MPEG_CMD_UPDATE_REQUEST();
        g_mpegStep = MPEG_STEP_REQUEST;
        dialog.SetTimer(TIMER_MPEG_RETRY, 3000, nullptr);
    }
}

void OnToMcu(CUpdateDialog& dialog, WPARAM) {
    ForwardPassThroughFrames(PASS_THROUGH_MPEG_TO_MCU, dialog.m_mcuLink.get());
}

constexpr StepSet kTransfer = InSteps(MPEG_STEP_BLOCKS, MPEG_STEP_END_FRAME);

constexpr Reaction kReactions[] = {
    {MPEG_MSG_UPDATE_ACK, InSteps(MPEG_STEP_REQUEST), OnUpdateAck},
    {MPEG_MSG_VERSION, InSteps(MPEG_STEP_ENTER_LOADER), OnVersion},
    {MPEG_MSG_PROGRAM_READY, InSteps(MPEG_STEP_START_PROGRAM), OnProgramReady},
    {MPEG_MSG_BLOCK_ACK, kTransfer, OnBlockAck},
    {MPEG_MSG_PROGRAM_RESULT, kTransfer | InSteps(MPEG_STEP_WRITING_FLASH), OnProgramResult},
    {MPEG_MSG_ALIVE, InSteps(MPEG_STEP_ALIVE_WAIT, MPEG_STEP_REQUEST, MPEG_STEP_WRITING_FLASH),
     OnAlive},
    {MPEG_MSG_TO_MCU, ANY_STEP, OnToMcu},
};

// The code the stage fails with before anything is sent, 0 when the image is taken. An image
// too large to send was measured but not read: it has a size and no bytes.
int RefuseImage(CUpdateDialog& dialog) {
    bool opened = dialog.m_mpegImage || dialog.m_mpegImageSize != 0;
    if (opened && !IsMpegImageSizeUsable(dialog.m_mpegImageSize)) {
        wchar_t line[96];
        wsprintfW(line, L"MPEG update file unusable: %d bytes\r\n",
                  static_cast<int>(dialog.m_mpegImageSize));
        NKDbgPrintfW(L"%s", line);
        dialog.m_mpegImage.reset();
        return ERROR_MPEG_IMAGE_UNUSABLE;
    }
    // Not on the medium, or its read failed.
    return dialog.m_mpegImage ? 0 : ERROR_MPEG_IMAGE_MISSING;
}

}  // namespace

void ResetMpegStageState() {
    g_mpegStep = MPEG_STEP_NONE;
    g_mpegAliveCount = 0;
    g_mpegStartRetries = 0;
    g_lastBlockAck = kNoAck;
    g_nextUnsent = 0;
    g_skipLogged = false;
    g_watch = LinkWatch{};
}

void StartMpegStage(CUpdateDialog& dialog) {
    if (int code = RefuseImage(dialog); code != 0) {
        g_mpegStep = MPEG_STEP_DONE;
        dialog.ShowStartFailure(code);
        return;
    }
    if (dialog.m_mcuLink == nullptr) {
        dialog.m_mcuLink = OpenCoprocessorLink(true);
        dialog.m_mcuLink->MCU_CMD_UPDATE_REQUEST();
        g_mcuStep = MCU_STEP_REQUEST;
        dialog.SetTimer(TIMER_MCU_RETRY, 3000, nullptr);
        dialog.SetTimer(TIMER_OPEN_MPEG_LINK, 1000, nullptr);
    } else if (dialog.m_mpegLink == nullptr) {
        dialog.m_mpegLink = OpenCoprocessorLink(false);
    }
    dialog.BeginStage();
    g_mpegUpdateActive = 1;
    g_mpegStep = MPEG_STEP_ALIVE_WAIT;
    g_watch = StartLinkWatch(dialog, dialog.m_mpegLink.get());
}

void OpenMpegLinkOf(CUpdateDialog& dialog) {
    if (dialog.m_mpegLink == nullptr)
        dialog.m_mpegLink = OpenCoprocessorLink(false);
}

void OnMpegMessage(CUpdateDialog& dialog, WPARAM wParam, LPARAM lParam) {
    ReturnPostSlot(LINK_MPEG);
    if (dialog.m_mpegLink != nullptr)
        React(kReactions, Coprocessor::Mpeg, g_mpegStep, dialog, wParam, lParam);
}

void OnMpegRetryTimer(CUpdateDialog& dialog) {
    CoprocessorLink* mpeg = dialog.m_mpegLink.get();
    switch (g_mpegStep) {
        case MPEG_STEP_REQUEST:
            mpeg->MPEG_CMD_UPDATE_REQUEST();
            break;
        case MPEG_STEP_ENTER_LOADER:
            mpeg->MPEG_CMD_ENTER_LOADER();
            break;
        case MPEG_STEP_START_PROGRAM:
            if (++g_mpegStartRetries > kStartProgramResends) {
                Fail(dialog, ERROR_MPEG_START_UNANSWERED);
            } else {
                mpeg->MPEG_CMD_START_PROGRAM();
            }
            break;
        case MPEG_STEP_BLOCKS:
            if (ImageUsable(dialog) && dialog.m_blockIndex < dialog.m_mpegBlockCount)
                SendBlock(dialog, dialog.m_blockIndex);
            break;
        case MPEG_STEP_END_FRAME:
            if (ImageUsable(dialog))
                SendEnd(dialog);
            break;
        default:
            break;
    }
}

void OnMpegWatchTimer(CUpdateDialog& dialog) {
    if (g_mpegStep == MPEG_STEP_DONE || g_mpegStep == MPEG_STEP_NONE) {
        dialog.KillTimer(TIMER_LINK_WATCH);
        return;
    }
    // The module is silent while it writes its flash: that step has the longer bound.
    DWORD limit = g_mpegStep == MPEG_STEP_WRITING_FLASH ? FIRMWARE_FLASH_WRITE_LIMIT_MS
                                                        : FIRMWARE_SILENCE_LIMIT_MS;
    LinkTrouble trouble = CheckLink(g_watch, dialog.m_mpegLink.get(), limit);
    if (trouble == LinkTrouble::None)
        return;
    LogLinkTrouble(false, trouble, limit);
    Fail(dialog, trouble == LinkTrouble::Silent ? ERROR_MPEG_SILENT : ERROR_MPEG_LINE_DOWN);
}
