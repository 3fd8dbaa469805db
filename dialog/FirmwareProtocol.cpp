// What the two firmware stages share: the reaction dispatch by step, the retry timers'
// dispatch, links and the screen changes of a stage.
#include "dialog/FirmwareProtocol.h"

#include <iterator>
#include <set>
#include <utility>

#include "contract/UpdateContract.h"
#include "dialog/FirmwareStageSupport.h"
#include "dialog/FirmwareSteps.h"
#include "link/CoprocessorLink.h"
#include "link/PassThrough.h"
#include "link/PostBudget.h"

namespace {

// The (code, step) pairs already logged as ignored, per co-processor.
std::set<std::pair<BYTE, int>> g_ignored[2];

const wchar_t* StepName(Coprocessor source, int step) {
    static const wchar_t* const kMcu[] = {L"none",          L"update request", L"enter loader",
                                          L"start program", L"blocks",         L"end frame",
                                          L"accepted",      L"succeeded",      L"done"};
    static const wchar_t* const kMpeg[] = {L"none",          L"update request", L"enter loader",
                                           L"start program", L"blocks",         L"end frame",
                                           L"alive wait",    L"writing flash",  L"done"};
    std::size_t index = static_cast<std::size_t>(step + 1);
    if (source == Coprocessor::Mcu)
        return index < std::size(kMcu) ? kMcu[index] : L"?";
    return index < std::size(kMpeg) ? kMpeg[index] : L"?";
}

}  // namespace

void LogIgnoredMessage(Coprocessor source, BYTE code, int step) {
    if (!g_ignored[source == Coprocessor::Mcu ? 0 : 1].insert({code, step}).second)
        return;
    NKDbgPrintfW(L"%s message %02x ignored in step %s\r\n",
                 source == Coprocessor::Mcu ? L"MCU" : L"MPEG", code, StepName(source, step));
}

void React(std::span<const Reaction> reactions, Coprocessor source, int step, CUpdateDialog& dialog,
           WPARAM value, LPARAM code) {
    for (const Reaction& reaction : reactions) {
        if (reaction.code != code)
            continue;
        if ((reaction.steps & StepBit(step)) == 0) {
            LogIgnoredMessage(source, reaction.code, step);
            return;
        }
        reaction.react(dialog, value);
        return;
    }
}

CoprocessorLinkPtr OpenCoprocessorLink(bool mcu) {
    CoprocessorLinkPtr link(new CoprocessorLink());
    if (mcu) {
        link->OpenMcuLink();
    } else {
        link->OpenMpegLink();
    }
    return link;
}

LinkWatch StartLinkWatch(CUpdateDialog& dialog, const CoprocessorLink* link) {
    dialog.SetTimer(TIMER_LINK_WATCH, 1000, nullptr);
    return {GetTickCount(), link != nullptr ? link->FramesReceived() : 0};
}

// A co-processor that has sent one frame in this stage is alive: from then on only its line
// can fail the stage here, never its silence, so a transfer in progress is never cut short.
LinkTrouble CheckLink(LinkWatch& watch, const CoprocessorLink* link, DWORD silenceLimitMs) {
    if (link != nullptr) {
        switch (link->State()) {
            case CoprocessorLink::LineState::NotOpen:
                return LinkTrouble::NotOpen;
            case CoprocessorLink::LineState::HungUp:
                return LinkTrouble::HungUp;
            case CoprocessorLink::LineState::Up:
                break;
        }
        if (link->FramesReceived() != watch.framesSeen) {
            watch = {GetTickCount(), link->FramesReceived()};
            return LinkTrouble::None;
        }
    }
    bool expired = GetTickCount() - watch.lastFrameTick >= silenceLimitMs;
    return expired ? LinkTrouble::Silent : LinkTrouble::None;
}

void LogLinkTrouble(bool mcu, LinkTrouble trouble, DWORD silenceLimitMs) {
    const wchar_t* name = mcu ? L"MCU" : L"MPEG";
    int port = mcu ? g_mcuComPort : g_mpegComPort;
    wchar_t line[80];
    if (trouble == LinkTrouble::NotOpen) {
        wsprintfW(line, L"%s update failed: COM%d not open\r\n", name, port);
    } else if (trouble == LinkTrouble::HungUp) {
        wsprintfW(line, L"%s update failed: COM%d hung up\r\n", name, port);
    } else {
        wsprintfW(line, L"%s update failed: no frame from it in %d s\r\n", name,
                  static_cast<int>(silenceLimitMs / 1000));
    }
    NKDbgPrintfW(L"%s", line);
}

void OnFirmwareTimer(CUpdateDialog& dialog, UINT_PTR id) {
    if (id == TIMER_LINK_WATCH) {
        if (dialog.m_updateKind == KIND_MCU) {
            OnMcuWatchTimer(dialog);
        } else if (dialog.m_updateKind == KIND_MPEG) {
            OnMpegWatchTimer(dialog);
        } else {
            dialog.KillTimer(TIMER_LINK_WATCH);
        }
        return;
    }
    if (id == TIMER_MCU_RETRY && dialog.m_mcuLink != nullptr) {
        OnMcuRetryTimer(dialog);
    } else if (id == TIMER_MCU_BLOCK && dialog.m_mcuLink != nullptr && dialog.m_mcuImage) {
        OnMcuBlockTimer(dialog);
    } else if (id == TIMER_MPEG_RETRY && dialog.m_mpegLink != nullptr) {
        OnMpegRetryTimer(dialog);
    }
}

void ResetFirmwareProtocolState() {
    ResetMcuStageState();
    ResetMpegStageState();
    g_ignored[0].clear();
    g_ignored[1].clear();
    // Frames a parser stored and no dialog took must not reach the next run's links.
    TakePassThroughFrames(PASS_THROUGH_MCU_TO_MPEG);
    TakePassThroughFrames(PASS_THROUGH_MPEG_TO_MCU);
    ResetPostBudgets();
}
