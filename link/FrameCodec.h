// The link frame, the same in both directions on both co-processor links:
//
//   offset 0     0x5A        sync 1
//   offset 1     0xA5        sync 2
//   offset 2     LEN         bytes from LEN itself through the last payload byte: 2 + payload
//   offset 3     CMD         command code (to a co-processor) or message code (from one)
//   offset 4     payload     LEN - 2 bytes; 16-bit numbers high byte first
//   offset LEN+2 CHK         checksum: LEN, CMD and payload add up to 0 with it, modulo 256
//
// Whole frame: LEN + 3 bytes, at most 258. There is no escaping: 0x5A and 0xA5 may appear
// anywhere from LEN on, so the receiver relies on LEN and the checksum alone. Example:
// 5A A5 03 00 01 FC (03 + 00 + 01 = 04; 256 - 4 = 0xFC).
//
// This file is pure: no platform calls, so the co-processor simulator and the fuzz target
// use it as it is.
#pragma once

#include <functional>
#include <vector>

#include "platform/Win32Types.h"

inline constexpr BYTE FRAME_SYNC1 = 0x5A;
inline constexpr BYTE FRAME_SYNC2 = 0xA5;
inline constexpr int FRAME_OVERHEAD = 5;  // sync 1, sync 2, LEN, CMD, CHK
inline constexpr int FRAME_MIN_LEN = 2;   // LEN of a frame with a command byte and no payload
inline constexpr int FRAME_MAX_LENGTH = 258;
inline constexpr int FRAME_MAX_PAYLOAD = 253;

// The frame checksum of `count` bytes: their sum, negated modulo 256.
BYTE FrameChecksum(const BYTE* bytes, int count);

// Writes the frame of `command` with `payload` (at most FRAME_MAX_PAYLOAD bytes) to `out`,
// which holds at least payloadCount + FRAME_OVERHEAD bytes; returns the frame's length, or
// -1 when the payload does not fit.
int BuildFrame(BYTE command, const BYTE* payload, int payloadCount, BYTE* out);

// Receives each good frame: a pointer to its copy (valid during the call) and its length.
using FrameSink = std::function<void(const BYTE* frame, int length)>;

// Cuts every complete frame out of the front of `buffer`, in the order received, and hands
// the good ones to `sink`. Each candidate is copied to `scratch` (at least FRAME_MAX_LENGTH
// bytes) for checking. Resynchronisation:
//  - bytes in front of the first 0x5A go when too little follows it for a header, when the
//    frame behind them is taken, or with the rest of a buffer that holds no 0x5A at all;
//  - a 0x5A not followed by 0xA5 goes, with everything in front of it;
//  - a candidate with a bad checksum, or with LEN below 2 (no command byte of its own), loses
//    only its 0x5A, so that a genuine frame starting inside it is still found;
//  - an incomplete frame stays, bytes in front of it included, until its rest arrives; a
//    buffer of 4 bytes or fewer is always left as it is.
void TakeFrames(std::vector<BYTE>& buffer, BYTE* scratch, const FrameSink& sink);
