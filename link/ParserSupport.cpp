#include "link/ParserSupport.h"

void PrintTextField(LPCWSTR label, const BYTE* field, int size) {
    wchar_t text[64] = {};
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(field), size, text, 63);
    NKDbgPrintfW(L"%s%s\r\n", label, text);
}
