// Pass-through frames: whole frames that one co-processor sends for the other. The parser
// of the receiving link copies such a frame into a named 256-byte mapping and then posts its
// length; the dialog reads the mapping and sends the bytes unchanged on the other link.
#pragma once

#include "platform/Win32.h"

class CoprocessorLink;

inline constexpr DWORD PASS_THROUGH_SIZE = 256;
inline constexpr const wchar_t* PASS_THROUGH_MCU_TO_MPEG = L"_UPD_Mcu_To_Mpeg_";
inline constexpr const wchar_t* PASS_THROUGH_MPEG_TO_MCU = L"_UPD_Mpeg_To_Mcu_";

// Copies the frame to the start of mapping `name` (created on first use and held in
// `mapping` for the rest of the run) and posts (message, length, code) while the view is
// still mapped. A frame longer than the mapping is not stored and not posted: cut short it
// would reach the other co-processor as a corrupt frame. Returns whether it was posted.
bool StorePassThroughFrame(HANDLE& mapping, LPCWSTR name, const BYTE* frame, int length,
                           UINT message, BYTE code);

// The dialog's side: sends the first `length` bytes of mapping `name` on `destination`
// with SendRaw. Does nothing for a length beyond the mapping.
void ForwardPassThroughFrame(LPCWSTR name, WPARAM length, CoprocessorLink& destination);
