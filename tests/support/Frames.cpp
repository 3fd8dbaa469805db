#include "tests/support/Frames.h"

#include <algorithm>

#include "link/FrameCodec.h"

namespace testsupport {

Bytes Frame(BYTE command, const Bytes& payload) {
    Bytes frame(payload.size() + FRAME_OVERHEAD);
    int length =
        BuildFrame(command, payload.data(), static_cast<int>(payload.size()), frame.data());
    frame.resize(static_cast<std::size_t>(std::max(length, 0)));
    return frame;
}

Bytes BlockAck(BYTE code, unsigned block) {
    return Frame(code, {static_cast<BYTE>(block >> 8), static_cast<BYTE>(block)});
}

}  // namespace testsupport
