#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What the simulator tests share: a scratch directory and a client that uses the published port the way
// a serial program does (raw mode, one byte per write, non-blocking reads).
namespace vantor::sim::test {

using Bytes = std::vector<std::uint8_t>;

// Generous bound for anything that should happen at once: a hang fails the test instead of stalling it.
inline constexpr std::chrono::milliseconds kPatience{5000};

// Polls the condition until it holds or kPatience has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& condition);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

class PortClient {
public:
    explicit PortClient(const std::filesystem::path& port);
    ~PortClient();
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // One write() per byte, as the program sends; false when a write failed.
    bool Send(const Bytes& request);
    bool SendInOneWrite(const Bytes& bytes);
    // Reads until count bytes have come or kPatience has passed.
    Bytes ReceiveCount(std::size_t count);
    // Reads until the line has been quiet for the given time after the last byte (or, with no byte at
    // all, for the whole time).
    Bytes ReceiveUntilQuiet(std::chrono::milliseconds quiet);
    // Request and reply; the reply read as ReceiveUntilQuiet(50 ms) after its first byte.
    Bytes Exchange(const Bytes& request);
    int Waiting() const;
    // true once the other side has gone (read reports EIO or end of file)
    bool HungUp() const;
    void Close();

private:
    bool ReadAvailable(Bytes& received, int pollMs);

    int m_fd = -1;
};

}  // namespace vantor::sim::test
