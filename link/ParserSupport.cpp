#include "link/ParserSupport.h"

void PrintTextField(const TextField& field, const BYTE* frame) {
    wchar_t text[64] = {};
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(frame + field.offset), field.size, text,
                        63);
    NKDbgPrintfW(L"%s%s\r\n", field.label, text);
}
