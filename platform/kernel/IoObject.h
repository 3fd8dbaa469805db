// A handle that ReadFile and WriteFile work on: an open file or a device such as a COM port.
#pragma once

#include "platform/kernel/Kernel.h"

namespace quarrin::kernel {

class IoObject : public KernelObject {
public:
    // Both set the last error on failure.
    virtual BOOL Read(void* buffer, DWORD count, DWORD* done) = 0;
    virtual BOOL Write(const void* buffer, DWORD count, DWORD* done) = 0;
};

}  // namespace quarrin::kernel
