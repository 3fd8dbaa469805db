#include "link/FrameTrace.h"

std::wstring FormatHexBytes(const BYTE* bytes, int count) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
        text.push_back(L' ');
    }
    return text;
}

void TraceFrame(LPCWSTR prefix, const BYTE* bytes, int count) {
    NKDbgPrintfW(L"%s%s\r\n", prefix, FormatHexBytes(bytes, count).c_str());
}
