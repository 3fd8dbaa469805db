// Simulated COM ports for tests: an in-process line between the loader's port handle and a
// SimSerialPeer that the test holds. Every wait on the line is a platform wait, so it takes
// part in the virtual clock; bytes can be made to arrive at a later virtual time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/serial/ComPortNamespace.h"
#include "platform/serial/SerialDevice.h"

namespace quarrin::platform {

class VirtualScheduler;
struct SimSerialLine;

// The far end of a simulated COM port, as a test sees it.
class SimSerialPeer {
public:
    explicit SimSerialPeer(std::shared_ptr<SimSerialLine> line);

    // Every byte the loader has written, in order, since the peer was attached.
    std::vector<BYTE> Written() const;
    // The bytes written since the last call, and forgets them.
    std::vector<BYTE> TakeWritten();
    // Bytes that reach the loader's receive queue now, or after `delayMs` of virtual time.
    void Inject(const std::vector<BYTE>& bytes);
    void InjectAfter(std::uint64_t delayMs, const std::vector<BYTE>& bytes);
    // Called on the writing thread after each successful WriteFile, with the bytes it took,
    // and no lock held: a scripted counterpart answers from here (with InjectAfter).
    void OnWrite(std::function<void(const std::vector<BYTE>&)> handler);

    // Faults: the next `count` writes fail with `error` (-1: all of them); each WriteFile
    // takes at most `maxBytes` (0: no limit), so the writer must come back for the rest.
    void FailWrites(DWORD error, int count = 1);
    void LimitWriteChunk(DWORD maxBytes);
    // Hangs the line up for good, now or after `delayMs` of virtual time, as a host tty whose
    // far end closed: bytes not yet read are lost, EV_RLSD is reported, GetCommModemStatus
    // clears MS_RLSD_ON and writes fail.
    void HangUp(std::uint64_t delayMs = 0);

    // What the loader has done with the port.
    bool IsOpen() const;
    int OpenCount() const;
    DCB State() const;
    COMMTIMEOUTS Timeouts() const;
    DWORD Mask() const;
    std::size_t Waiting() const;  // bytes injected and not yet read by the loader

private:
    std::shared_ptr<SimSerialLine> m_line;
};

class SimComPorts : public ComPortNamespace {
public:
    explicit SimComPorts(VirtualScheduler& scheduler) : m_scheduler(scheduler) {}
    // Connects a new peer to COM port `number`; a later attach to the same number replaces it.
    SimSerialPeer& Attach(int number);

protected:
    std::shared_ptr<SerialDevice> OpenPort(int number, DWORD& error) override;

private:
    VirtualScheduler& m_scheduler;
    std::mutex m_lock;
    std::map<int, std::shared_ptr<SimSerialLine>> m_lines;
    std::vector<std::unique_ptr<SimSerialPeer>> m_peers;
};

}  // namespace quarrin::platform
