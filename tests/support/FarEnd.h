#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ScopedVariable.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Long enough that only a hang runs into it.
constexpr auto kHangBound = std::chrono::seconds(5);

// The device's end of a pseudo-terminal whose slave is published as comN, plus a descriptor of the
// test's own on the slave for looking at its line settings.
class FarEnd {
public:
    FarEnd(const std::string& portsDir, int number) : m_entry(portsDir + "/com" + std::to_string(number)) {
        char slaveName[128] = {};
        if (openpty(&m_master, &m_slave, slaveName, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        // No cfmakeraw here: on a master, termios calls change the slave, and the slave must start
        // with the cooked settings a fresh port has, or the link's own settings go untested.
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        std::filesystem::create_symlink(slaveName, m_entry);
    }
    ~FarEnd() {
        std::filesystem::remove(m_entry);
        CloseMaster();
        close(m_slave);
    }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    int Slave() const { return m_slave; }

    void Send(const Bytes& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Up to count bytes, fewer only when they do not come within the hang bound.
    Bytes Read(std::size_t count) {
        Bytes got;
        const auto deadline = Clock::now() + kHangBound;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd readable{m_master, POLLIN, 0};
            if (poll(&readable, 1, 50) == 1) {
                std::uint8_t chunk[512];
                const ssize_t n = read(m_master, chunk, std::min(sizeof chunk, count - got.size()));
                if (n > 0) {
                    got.insert(got.end(), chunk, chunk + n);
                }
            }
        }
        return got;
    }

    void CloseMaster() {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

private:
    std::string m_entry;
    int m_master = -1;
    int m_slave = -1;
};

inline std::string MakePortsDirectory() {
    char dirTemplate[] = "/tmp/vantor-ports-XXXXXX";
    return mkdtemp(dirTemplate);
}

// A private ports directory, named by VANTOR_PORTS_DIR for as long as the object lives.
class PortsDirectory {
public:
    PortsDirectory() = default;
    ~PortsDirectory() { std::filesystem::remove_all(m_path); }
    PortsDirectory(const PortsDirectory&) = delete;
    PortsDirectory& operator=(const PortsDirectory&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path = MakePortsDirectory();
    ScopedVariable m_variable{"VANTOR_PORTS_DIR", m_path.c_str()};
};

}  // namespace testsupport
