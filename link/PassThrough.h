// Pass-through frames: whole frames that one co-processor sends for the other. The parser
// of the receiving link stores each such frame in a named mapping and then posts its length;
// the dialog takes the stored frames from the mapping and sends them unchanged on the other
// link.
//
// Each mapping holds a small ring of frames, so that frames arriving while the dialog is
// busy (it sleeps inside two of its reactions) wait their turn instead of overwriting one
// another: every frame is forwarded once, whole, in the order it came, and frames of every
// length a link frame can have (up to 258 bytes) fit. The receive thread alone advances
// `stored`, the dialog alone advances `forwarded`; a frame is written into its slot before
// `stored` counts it. A frame that finds the ring full is dropped and logged.
#pragma once

#include <vector>

#include "link/FrameCodec.h"
#include "platform/Win32.h"

class CoprocessorLink;

inline constexpr DWORD PASS_THROUGH_SLOTS = 16;

struct PassThroughRing {
    DWORD stored;     // frames stored since the mapping was created
    DWORD forwarded;  // frames taken by the dialog
    struct Slot {
        WORD length;
        BYTE bytes[FRAME_MAX_LENGTH];
    } slots[PASS_THROUGH_SLOTS];
};

inline constexpr DWORD PASS_THROUGH_SIZE = sizeof(PassThroughRing);
inline constexpr const wchar_t* PASS_THROUGH_MCU_TO_MPEG = L"_UPD_Mcu_To_Mpeg_";
inline constexpr const wchar_t* PASS_THROUGH_MPEG_TO_MCU = L"_UPD_Mpeg_To_Mcu_";

// Stores the frame in mapping `name` (created on first use and held in `mapping` for the rest
// of the run) and, once it is there, posts the frame's length and code as the message of
// `link`. Returns whether the frame was stored: false for a frame of no or too many bytes,
// when the ring is full, or when the link may post no more (see PostBudget.h).
bool StorePassThroughFrame(HANDLE& mapping, LPCWSTR name, const BYTE* frame, int length, int link);

// The dialog's side: takes every frame stored in mapping `name` and not yet taken, oldest
// first.
std::vector<std::vector<BYTE>> TakePassThroughFrames(LPCWSTR name);

// Takes the waiting frames and sends each with SendRaw on `destination`; without a
// destination they are dropped, so that they do not reach a link opened later.
void ForwardPassThroughFrames(LPCWSTR name, CoprocessorLink* destination);
