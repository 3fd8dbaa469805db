// Interprets the frames the MCU sends: traces each one ("R:"), takes the values its message
// carries and posts them to the dialog as WM_MCU_MESSAGE (wParam the value, lParam the
// code). Runs on the MCU link's receive thread.
#pragma once

#include "link/MessageCodes.h"
#include "platform/Win32.h"

class CoprocessorLink;

// The MCU's identification record from its last version report (73 bytes, zero-filled to
// 80); written before the report is posted.
extern BYTE g_mcuVersionRecord[MCU_VERSION_RECORD_SIZE];

// `frame` is a whole checked frame of `length` bytes, valid during the call; the link is
// not used. A frame too short for the fields of its message is traced but not acted on.
// Returns 1.
int ParseMcuFrame(CoprocessorLink* link, const BYTE* frame, int length);
