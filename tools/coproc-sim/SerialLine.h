// The simulator's end of the line: a serial device or a pseudo-terminal it creates, in raw
// mode, with optional pacing of its output at the real line rate.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace coprocsim {

class SerialLine {
public:
    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens `device`, or creates a pseudo-terminal when it is empty. False with `error` set.
    bool Open(const std::string& device, int baud, std::string& error);
    // The path the loader opens: the pseudo-terminal's slave, or the device itself.
    const std::string& PeerPath() const { return m_peerPath; }
    int Fd() const { return m_fd; }

    // Reads what waits (up to 4096 bytes); empty when nothing does.
    std::vector<unsigned char> ReadAvailable();
    // Sends the bytes; with pacing, hands them over only when the line would have carried
    // them.
    // False when the line stays blocked (nobody reads) or fails.
    bool Send(const std::vector<unsigned char>& bytes, bool pace, int baud);
    // Waits until `count` bytes that have just been read would have come in over the line:
    // the far end writes to a pseudo-terminal at once, the real line takes 10 bits a byte.
    void PaceArrival(std::size_t count, int baud);
    // Closes our end for good: the far end of a pseudo-terminal sees a hang-up. Reads then
    // bring nothing and sends fail.
    void HangUp();
    bool IsOpen() const { return m_fd >= 0; }
    // When the last Send handed its bytes over.
    std::chrono::steady_clock::time_point LastWrite() const { return m_lastWrite; }

private:
    int m_fd = -1;
    int m_slaveHold = -1;  // keeps a pseudo-terminal's slave alive between the loader's opens
    std::string m_peerPath;
    std::chrono::steady_clock::time_point m_lineFree{};
    std::chrono::steady_clock::time_point m_arrivalFree{};
    std::chrono::steady_clock::time_point m_lastWrite{};
};

}  // namespace coprocsim
