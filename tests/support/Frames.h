// Frames of the co-processor line as the far end sends or expects them.
#pragma once

#include <vector>

#include "platform/Win32Types.h"

namespace testsupport {

using Bytes = std::vector<BYTE>;

// A whole frame with its header, length and checksum; empty when the payload is too long.
Bytes Frame(BYTE command, const Bytes& payload = {});
// A block acknowledgement (MCU) or block request (MPEG) naming `block`, high byte first.
Bytes BlockAck(BYTE code, unsigned block);

}  // namespace testsupport
