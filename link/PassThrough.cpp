#include "link/PassThrough.h"

#include <cstring>

#include "dialog/DialogGlobals.h"
#include "link/CoprocessorLink.h"

bool StorePassThroughFrame(HANDLE& mapping, LPCWSTR name, const BYTE* frame, int length,
                           UINT message, BYTE code) {
    if (length <= 0 || static_cast<DWORD>(length) > PASS_THROUGH_SIZE)
        return false;
    if (mapping == nullptr) {
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     PASS_THROUGH_SIZE, name);
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr)
        return false;
    std::memcpy(view, frame, static_cast<std::size_t>(length));
    PostMessageW(g_notifyWindow, message, static_cast<WPARAM>(length), code);
    UnmapViewOfFile(view);
    return true;
}

void ForwardPassThroughFrame(LPCWSTR name, WPARAM length, CoprocessorLink& destination) {
    if (length == 0 || length > PASS_THROUGH_SIZE)
        return;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        PASS_THROUGH_SIZE, name);
    if (mapping == nullptr)
        return;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view != nullptr) {
        destination.SendRaw(static_cast<const BYTE*>(view), static_cast<int>(length));
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
}
