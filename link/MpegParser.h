// Interprets the frames the MPEG module sends: traces each one ("MPEG R:"), takes the values
// its message carries and posts them to the dialog as WM_MPEG_MESSAGE (wParam the value,
// lParam the code). Runs on the MPEG link's receive thread.
#pragma once

#include "link/MessageCodes.h"
#include "platform/Win32.h"

class CoprocessorLink;

// As ParseMcuFrame: traced, decoded, posted; short frames are traced but not acted on.
// The block acknowledgements and the status codes 0x8B and 0x8C are not traced. Returns 1.
int ParseMpegFrame(CoprocessorLink* link, const BYTE* frame, int length);
