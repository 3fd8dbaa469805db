// Helpers the two message parsers share.
#pragma once

#include "platform/Win32.h"

// True when the frame holds the payload bytes up to `lastOffset` (its checksum follows).
inline bool HasField(int length, int lastOffset) {
    return length >= lastOffset + 2;
}

inline WPARAM Word16At(const BYTE* frame, int offset) {
    return static_cast<WPARAM>(frame[offset]) * 256 + frame[offset + 1];
}

// Prints "<label><text>\r\n" for a text field of `size` bytes in the system code page,
// cut at its first NUL.
void PrintTextField(LPCWSTR label, const BYTE* field, int size);
