// A pseudo-terminal pair for tests of the host serial port: the test plays the far end on
// the master side; the slave path is what a COM port maps to.
#pragma once

#include <string>
#include <vector>

namespace linktest {

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    void Send(const std::vector<unsigned char>& bytes);
    // Reads until `count` bytes have come or `timeoutMs` passed without any byte.
    std::vector<unsigned char> Receive(std::size_t count, int timeoutMs = 2000);
    // Closes the master: the slave side sees a hang-up.
    void HangUp();

private:
    int m_master = -1;
    int m_slaveHold = -1;  // keeps the slave configured while the port is closed
    std::string m_slavePath;
};

}  // namespace linktest
