// The frame checksum and the deframer's resynchronisation rules, on byte streams cut at
// every position.
#include <gtest/gtest.h>

#include <random>

#include "link/FrameCodec.h"
#include "tests/support/Frames.h"

namespace {

using testsupport::Bytes;
using testsupport::Frame;

// Feeds the pieces one after the other, as reads would bring them, and collects the frames.
struct Deframer {
    Bytes buffer;
    BYTE scratch[1024] = {};
    std::vector<Bytes> frames;
    void Feed(const Bytes& piece) {
        buffer.insert(buffer.end(), piece.begin(), piece.end());
        TakeFrames(buffer, scratch, [this](const BYTE* frame, int length) {
            frames.emplace_back(frame, frame + length);
        });
    }
};

std::vector<Bytes> FramesOf(const Bytes& stream) {
    Deframer deframer;
    deframer.Feed(stream);
    return deframer.frames;
}

TEST(FrameCodecTest, ChecksumAndBuilderMatchTheKnownFrames) {
    const BYTE counted[] = {0x03, 0x00, 0x01};
    EXPECT_EQ(FrameChecksum(counted, 3), 0xFC);
    EXPECT_EQ(FrameChecksum(nullptr, 0), 0x00);
    EXPECT_EQ(Frame(0x00, {0x01}), (Bytes{0x5A, 0xA5, 0x03, 0x00, 0x01, 0xFC}));
    EXPECT_EQ(Frame(0x02, {}), (Bytes{0x5A, 0xA5, 0x02, 0x02, 0xFC}));
    Bytes tooBig(FRAME_MAX_PAYLOAD + 1);
    BYTE out[FRAME_MAX_LENGTH + 8];
    EXPECT_EQ(BuildFrame(0x25, tooBig.data(), static_cast<int>(tooBig.size()), out), -1);
    EXPECT_EQ(BuildFrame(0x25, tooBig.data(), FRAME_MAX_PAYLOAD, out), FRAME_MAX_LENGTH);
}

TEST(FrameCodecTest, ResynchronisesAsDescribed) {
    const Bytes good{0x5A, 0xA5, 0x02, 0x02, 0xFC};
    // Four bytes or fewer wait, even a complete four-byte frame.
    Deframer short4;
    short4.Feed({0x5A, 0xA5, 0x02, 0x02});
    EXPECT_TRUE(short4.frames.empty());
    EXPECT_EQ(short4.buffer.size(), 4u);
    short4.Feed({0xFC});
    EXPECT_EQ(short4.frames, std::vector<Bytes>{good});
    EXPECT_TRUE(short4.buffer.empty());

    Deframer leading;
    leading.Feed({0x00, 0x5A, 0xA5, 0x02, 0x02, 0xFC});
    EXPECT_EQ(leading.frames, std::vector<Bytes>{good});
    EXPECT_TRUE(leading.buffer.empty());

    EXPECT_EQ(FramesOf({0x5A, 0x5A, 0xA5, 0x02, 0x02, 0xFC}), std::vector<Bytes>{good});
    EXPECT_EQ(FramesOf({0x5A, 0xA5, 0x02, 0x02, 0xFD, 0x5A, 0xA5, 0x02, 0x02, 0xFC}),
              std::vector<Bytes>{good});

    Deframer noSync;
    noSync.Feed({1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(noSync.buffer.empty());

    // A sync too near the end keeps only itself and what follows.
    Deframer tail;
    tail.Feed({1, 2, 3, 0x5A, 0xA5});
    EXPECT_EQ(tail.buffer, (Bytes{0x5A, 0xA5}));
}

TEST(FrameCodecTest, FramesWithoutACommandByteAreNotHandedOver) {
    const Bytes good{0x5A, 0xA5, 0x03, 0x81, 0x05, 0x77};
    // LEN 0 and LEN 1 pass the checksum but have no command byte of their own; a real frame
    // right behind them is still found.
    Bytes len0{0x5A, 0xA5, 0x00};
    len0.insert(len0.end(), good.begin(), good.end());
    EXPECT_EQ(FramesOf(len0), std::vector<Bytes>{good});
    Bytes len1{0x5A, 0xA5, 0x01, 0xFF};
    len1.insert(len1.end(), good.begin(), good.end());
    EXPECT_EQ(FramesOf(len1), std::vector<Bytes>{good});
}

TEST(FrameCodecTest, AFrameSplitOverSeveralReadsComesOnceWhenComplete) {
    Deframer deframer;
    deframer.Feed({0x5A, 0xA5});
    deframer.Feed({0x05, 0x03, 0x01});
    EXPECT_TRUE(deframer.frames.empty());
    deframer.Feed({0x00, 0x08});
    EXPECT_TRUE(deframer.frames.empty());
    deframer.Feed({0xEF});
    EXPECT_EQ(deframer.frames,
              std::vector<Bytes>{Bytes({0x5A, 0xA5, 0x05, 0x03, 0x01, 0x00, 0x08, 0xEF})});
}

// Good frames with garbage, false syncs, frames with bad checksums and syncs inside
// payloads between them.
struct Stream {
    Bytes bytes;
    std::vector<Bytes> good;
    void Good(const Bytes& frame) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        good.push_back(frame);
    }
    void Junk(const Bytes& junk) { bytes.insert(bytes.end(), junk.begin(), junk.end()); }
};

Stream MixedStream() {
    Stream s;
    Bytes block(130);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<BYTE>(i * 7 + 0x5A);
    s.Junk({0x00, 0x13, 0xA5});
    s.Good(Frame(0x80, {0x02}));
    s.Junk({0x5A, 0x00, 0x5A});  // false syncs
    s.Good(Frame(0x95, {0x00, 0x07}));
    Bytes bad = Frame(0x96, {0x00});
    bad.back() ^= 0x01;
    s.Junk(bad);                              // bad checksum
    s.Good(Frame(0x15, block));               // syncs inside the payload
    s.Junk({0x5A, 0xA5, 0x09, 0x01, 0x02});   // a header whose body never comes...
    s.Good(Frame(0x5A, {0xA5, 0x5A, 0xA5}));  // ...and a frame inside its length
    s.Good(Frame(0xF2, {}));
    s.Junk(Bytes(12, 0x00));
    s.Good(Frame(0x97, Bytes(73, 0x31)));
    s.Junk(Bytes(260, 0x00));  // flushes every pending candidate
    return s;
}

TEST(FrameCodecTest, EverySplitOfAMixedStreamYieldsTheGoodFramesInOrder) {
    Stream stream = MixedStream();
    ASSERT_EQ(FramesOf(stream.bytes), stream.good);
    for (std::size_t cut = 0; cut <= stream.bytes.size(); ++cut) {
        Deframer deframer;
        deframer.Feed(Bytes(stream.bytes.begin(), stream.bytes.begin() + cut));
        deframer.Feed(Bytes(stream.bytes.begin() + cut, stream.bytes.end()));
        ASSERT_EQ(deframer.frames, stream.good) << "cut at " << cut;
    }
    Deframer byteByByte;
    for (BYTE b : stream.bytes)
        byteByByte.Feed({b});
    EXPECT_EQ(byteByByte.frames, stream.good);
    EXPECT_LE(byteByByte.buffer.size(), 4u);  // only trailing zeros can remain
}

TEST(FrameCodecTest, RandomChunkingsYieldTheSameFrames) {
    Stream stream = MixedStream();
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        Deframer deframer;
        for (std::size_t at = 0; at < stream.bytes.size();) {
            std::size_t size = std::min<std::size_t>(random() % 40 + 1, stream.bytes.size() - at);
            deframer.Feed(Bytes(stream.bytes.begin() + at, stream.bytes.begin() + at + size));
            at += size;
        }
        ASSERT_EQ(deframer.frames, stream.good) << "round " << round;
    }
}

}  // namespace
