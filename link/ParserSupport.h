// Helpers the two message parsers share.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

// True when the frame holds the payload bytes up to `lastOffset` (its checksum follows).
inline bool HasField(int length, int lastOffset) {
    return length >= lastOffset + 2;
}

inline WPARAM Word16At(const BYTE* frame, int offset) {
    return static_cast<WPARAM>(frame[offset]) * 256 + frame[offset + 1];
}

// A text field of a version report: its log label, frame offset and size in bytes.
struct TextField {
    const wchar_t* label;
    int offset;
    int size;
};

// Prints "<label><text>\r\n" for each field, in order: the field's bytes converted from the
// system code page and cut at the first NUL.
template <std::size_t N>
void PrintTextFields(const TextField (&fields)[N], const BYTE* frame);
void PrintTextField(const TextField& field, const BYTE* frame);

template <std::size_t N>
void PrintTextFields(const TextField (&fields)[N], const BYTE* frame) {
    for (const TextField& field : fields)
        PrintTextField(field, frame);
}
