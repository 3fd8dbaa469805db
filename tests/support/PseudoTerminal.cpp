#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace linktest {

PseudoTerminal::PseudoTerminal() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    m_slavePath = name;
    termios tio{};
    tcgetattr(m_master, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_master, TCSANOW, &tio);
    m_slaveHold = open(name, O_RDWR | O_NOCTTY);
}

PseudoTerminal::~PseudoTerminal() {
    if (m_master >= 0)
        close(m_master);
    if (m_slaveHold >= 0)
        close(m_slaveHold);
}

void PseudoTerminal::Send(const std::vector<unsigned char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("pty write failed");
        done += static_cast<std::size_t>(n);
    }
    tcdrain(m_master);
}

std::vector<unsigned char> PseudoTerminal::Receive(std::size_t count, int timeoutMs) {
    std::vector<unsigned char> bytes;
    while (bytes.size() < count) {
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0)
            break;
        unsigned char chunk[4096];
        ssize_t n = read(m_master, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void PseudoTerminal::HangUp() {
    if (m_slaveHold >= 0)
        close(m_slaveHold);
    m_slaveHold = -1;
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

}  // namespace linktest
