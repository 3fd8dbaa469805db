// The hex trace of frames in the debug log: the prefix, then every byte as two lower-case
// hex digits and a space, then CR LF ("S:5a a5 03 00 01 fc \r\n").
#pragma once

#include <string>

#include "platform/Win32.h"

std::wstring FormatHexBytes(const BYTE* bytes, int count);
void TraceFrame(LPCWSTR prefix, const BYTE* bytes, int count);
