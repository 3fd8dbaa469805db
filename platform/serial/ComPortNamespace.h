// The "COMn:" device names: parses them, enforces that a port is open only once at a time,
// and leaves opening the port itself to the host or the simulation.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Platform.h"
#include "platform/serial/SerialDevice.h"

namespace quarrin::platform {

class ComPortNamespace : public DeviceNamespace {
public:
    HANDLE Open(const std::wstring& name, DWORD access, DWORD share, DWORD disposition) override;

    // "COM2:" gives 2 (without regard to case); anything else gives -1.
    static int ParsePortNumber(std::wstring_view name);

protected:
    // Opens port `number`; returns null with `error` set when it cannot.
    virtual std::shared_ptr<SerialDevice> OpenPort(int number, DWORD& error) = 0;

private:
    std::mutex m_lock;
    std::map<int, std::weak_ptr<SerialDevice>> m_open;
};

}  // namespace quarrin::platform
