#include "link/FrameCodec.h"

#include <algorithm>
#include <cstring>

BYTE FrameChecksum(const BYTE* bytes, int count) {
    unsigned sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<BYTE>((256 - sum % 256) % 256);
}

int BuildFrame(BYTE command, const BYTE* payload, int payloadCount, BYTE* out) {
    if (payloadCount < 0 || payloadCount > FRAME_MAX_PAYLOAD ||
        (payload == nullptr && payloadCount > 0)) {
        return -1;
    }
    int len = payloadCount + FRAME_MIN_LEN;
    out[0] = FRAME_SYNC1;
    out[1] = FRAME_SYNC2;
    out[2] = static_cast<BYTE>(len);
    out[3] = command;
    if (payloadCount > 0)
        std::memcpy(out + 4, payload, static_cast<std::size_t>(payloadCount));
    out[len + 2] = FrameChecksum(out + 2, len);
    return len + 3;
}

void TakeFrames(std::vector<BYTE>& buffer, BYTE* scratch, const FrameSink& sink) {
    auto dropFront = [&buffer](std::size_t count) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    };
    for (;;) {
        if (buffer.size() <= 4)
            return;
        auto sync = std::find(buffer.begin(), buffer.end(), FRAME_SYNC1);
        if (sync == buffer.end()) {
            buffer.clear();
            return;
        }
        std::size_t i = static_cast<std::size_t>(sync - buffer.begin());
        if (buffer.size() < i + 4) {
            dropFront(i);
            return;
        }
        if (buffer[i + 1] != FRAME_SYNC2) {
            dropFront(i + 1);
            continue;
        }
        int len = buffer[i + 2];
        std::size_t length = static_cast<std::size_t>(len) + 3;
        if (buffer.size() < i + length)
            return;  // the rest has not arrived yet
        std::memcpy(scratch, buffer.data() + i, length);
        if (len < FRAME_MIN_LEN || FrameChecksum(scratch + 2, len) != scratch[len + 2]) {
            dropFront(i + 1);
            continue;
        }
        sink(scratch, static_cast<int>(length));
        dropFront(i + length);
    }
}
