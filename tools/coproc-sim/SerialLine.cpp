#include "SerialLine.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace coprocsim {

namespace {

bool MakeRaw(int fd, int baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t speed = baud == 115200 ? B115200 : B38400;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

SerialLine::~SerialLine() {
    if (m_fd >= 0)
        close(m_fd);
    if (m_slaveHold >= 0)
        close(m_slaveHold);
}

bool SerialLine::Open(const std::string& device, int baud, std::string& error) {
    if (!device.empty()) {
        m_fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        m_peerPath = device;
    } else {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (m_fd >= 0 && (grantpt(m_fd) != 0 || unlockpt(m_fd) != 0 ||
                          ptsname_r(m_fd, name, sizeof name) != 0)) {
            error = std::string("cannot set up a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        if (m_fd >= 0) {
            m_peerPath = name;
            // Without an open slave the master reports a hang-up; hold one open.
            m_slaveHold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (m_slaveHold >= 0)
                MakeRaw(m_slaveHold, baud);
        }
    }
    if (m_fd < 0) {
        error = "cannot open " + (device.empty() ? std::string("a pseudo-terminal") : device) +
                ": " + std::strerror(errno);
        return false;
    }
    if (!MakeRaw(m_fd, baud)) {
        error = "cannot put the line in raw mode: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

void SerialLine::HangUp() {
    for (int* fd : {&m_fd, &m_slaveHold}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

std::vector<unsigned char> SerialLine::ReadAvailable() {
    if (m_fd < 0)
        return {};
    unsigned char chunk[4096];
    ssize_t n = read(m_fd, chunk, sizeof chunk);
    if (n <= 0)
        return {};
    return std::vector<unsigned char>(chunk, chunk + n);
}

bool SerialLine::Send(const std::vector<unsigned char>& bytes, bool pace, int baud) {
    if (pace) {
        // Ten bits per byte: start bit, eight data bits, stop bit. The bytes are handed over
        // when the line would have carried the last of them, so the far end cannot answer
        // earlier than it could on the real line.
        auto now = std::chrono::steady_clock::now();
        if (m_lineFree < now)
            m_lineFree = now;
        m_lineFree += std::chrono::microseconds(bytes.size() * 10'000'000ull / baud);
        std::this_thread::sleep_until(m_lineFree);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fd{m_fd, POLLOUT, 0};
        if (poll(&fd, 1, 1000) <= 0)
            return false;  // nobody reads the line
    }
    m_lastWrite = std::chrono::steady_clock::now();
    return true;
}

void SerialLine::PaceArrival(std::size_t count, int baud) {
    auto now = std::chrono::steady_clock::now();
    if (m_arrivalFree < now)
        m_arrivalFree = now;
    m_arrivalFree += std::chrono::microseconds(count * 10'000'000ull / baud);
    std::this_thread::sleep_until(m_arrivalFree);
}

}  // namespace coprocsim
