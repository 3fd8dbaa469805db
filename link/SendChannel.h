// The sending half of a co-processor link: a bounded queue of frames (see FrameQueue) and a
// thread that writes them to the port one at a time, in the order they were posted.
#pragma once

#include <vector>

#include "link/FrameQueue.h"
#include "link/SerialPort.h"

class SendChannel {
public:
    SendChannel();
    ~SendChannel();
    SendChannel(const SendChannel&) = delete;
    SendChannel& operator=(const SendChannel&) = delete;

    // Starts the send thread; false when the port is null, the thread already runs, or a
    // channel of the same kind is already started (only one link of each kind may exist).
    bool Start(SerialPort* port, int flag);
    // Queues a copy of the frame for the send thread; the caller may reuse its buffer. With
    // `once` (commands and their resends) the frame is not queued while an identical one
    // still waits to be written. A full queue drops its oldest frame, logged once per
    // overflow ("MCU Send queue full, oldest frames dropped") and counted when it has emptied
    // again ("MCU Send queue: %d frames dropped").
    bool PostFrame(const BYTE* bytes, int count, bool once = false);
    // Discards the frames not yet written and ends the thread, terminating it if it does
    // not end within 1000 ms.
    bool Stop();
    void Destroy();

    bool IsRunning() const { return m_thread != nullptr; }
    std::size_t Queued() { return m_queue.Count(); }

private:
    static DWORD SendThread(LPVOID parameter);
    void SendOneFrame();

    HANDLE m_dataSemaphore = nullptr;
    int m_flag = 0;
    SerialPort* m_port = nullptr;
    HANDLE m_thread = nullptr;
    FrameQueue m_queue;
};
