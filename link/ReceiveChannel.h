// The receiving half of a co-processor link: a thread that runs the deframer over the port
// again and again, and the receive buffer that carries partial frames between its passes.
#pragma once

#include <atomic>
#include <vector>

#include "link/SerialPort.h"

class CoprocessorLink;

// How long the receive thread rests between passes on a port that cannot wait for events
// (not open, or its event wait fails), instead of spinning; a stop still ends it at once.
inline constexpr DWORD RECEIVE_IDLE_PAUSE_MS = 100;

class ReceiveChannel {
public:
    ReceiveChannel() = default;
    ~ReceiveChannel();
    ReceiveChannel(const ReceiveChannel&) = delete;
    ReceiveChannel& operator=(const ReceiveChannel&) = delete;

    // Starts the receive thread; false when the port is null, the thread already runs, or a
    // channel of the same kind is already started.
    bool Start(SerialPort* port, int flag, CoprocessorLink* owner);
    // Ends the thread, terminating it if it does not end within 5000 ms (a silent line
    // holds it in the port's event wait).
    bool Stop();
    void Destroy();

    bool IsRunning() const { return m_thread != nullptr; }

    int m_flag = 0;
    SerialPort* m_port = nullptr;
    std::vector<BYTE> m_receiveBuffer;
    CoprocessorLink* m_owner = nullptr;
    // Good frames cut out of the line since the channel started, whatever their code: the
    // co-processor's signs of life. Counted by the receive thread, read by the dialog.
    std::atomic<unsigned> m_framesReceived{0};

private:
    static DWORD ReceiveThread(LPVOID parameter);

    HANDLE m_thread = nullptr;
};

// One pass of the deframer on the channel's port: waits for serial activity, drains the
// waiting bytes into the receive buffer in chunks of at most 1024, and hands every complete
// good frame to the parser of the channel's kind. Returns false when the port could not
// wait (not open, or the wait or the reads failed), so that the caller rests before the
// next pass.
bool ReceiveStep(ReceiveChannel& channel);
