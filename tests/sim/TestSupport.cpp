#include "tests/sim/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace vantor::sim::test {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition) {
    const auto end = Clock::now() + kPatience;
    while (!condition() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantor-sim-test.XXXXXX").string();
    if (::mkdtemp(pattern.data())) m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

PortClient::PortClient(const std::filesystem::path& port) {
    m_fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return;
    termios settings{};
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B19200);
    ::tcsetattr(m_fd, TCSANOW, &settings);
}

PortClient::~PortClient() { Close(); }

void PortClient::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool PortClient::Send(const Bytes& request) {
    for (std::uint8_t byte : request) {
        if (::write(m_fd, &byte, 1) != 1) return false;
    }
    return true;
}

bool PortClient::SendInOneWrite(const Bytes& bytes) {
    return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Appends what arrives within pollMs; false once the port has hung up or failed.
bool PortClient::ReadAvailable(Bytes& received, int pollMs) {
    pollfd fd{m_fd, POLLIN, 0};
    if (::poll(&fd, 1, pollMs) <= 0) return true;
    std::uint8_t buffer[256];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    received.insert(received.end(), buffer, buffer + n);
    return true;
}

Bytes PortClient::ReceiveCount(std::size_t count) {
    Bytes received;
    const auto end = Clock::now() + kPatience;
    while (received.size() < count && Clock::now() < end && ReadAvailable(received, 10)) {
    }
    return received;
}

Bytes PortClient::ReceiveUntilQuiet(std::chrono::milliseconds quiet) {
    Bytes received;
    auto deadline = Clock::now() + quiet;
    const auto end = Clock::now() + kPatience;
    while (Clock::now() < deadline && Clock::now() < end) {
        const std::size_t before = received.size();
        if (!ReadAvailable(received, 2)) break;
        if (received.size() > before) deadline = Clock::now() + quiet;
    }
    return received;
}

Bytes PortClient::Exchange(const Bytes& request) {
    if (!Send(request)) return {};
    Bytes reply = ReceiveCount(1);
    if (reply.empty()) return reply;
    const Bytes rest = ReceiveUntilQuiet(std::chrono::milliseconds(50));
    reply.insert(reply.end(), rest.begin(), rest.end());
    return reply;
}

int PortClient::Waiting() const {
    int count = 0;
    if (::ioctl(m_fd, FIONREAD, &count) != 0) return -1;
    return count;
}

bool PortClient::HungUp() const {
    std::uint8_t byte;
    const ssize_t n = ::read(m_fd, &byte, 1);
    return n == 0 || (n < 0 && errno == EIO);
}

}  // namespace vantor::sim::test
