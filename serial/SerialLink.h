#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "serial/ExchangeTrace.h"
#include "serial/SerialSpeed.h"

// Why a port could not be opened.
struct ConnectFailure {
    enum class Reason {
        kNotAPortNumber,    // the port text is not a plain number naming a port
        kNoDevice,          // nothing at the device path
        kPermissionDenied,  // this user may not open it
        kInUse,             // another program has it
        kNotASerialPort,    // something is there, but not a terminal device
        kSpeedRefused,      // the driver would not run the line at that speed
        kOther,
    };
    Reason reason = Reason::kOther;
    std::string device;  // the path tried; empty when the text named none
    int error = 0;       // the system's error number, when it gave one
};

// The program's one connection to the device: a serial port opened by number and speed just before a
// request and closed after its reply. Every operation is synchronous and bounded in time; none of them
// blocks waiting for data that has not arrived. The link has no lock and no thread affinity: the caller
// makes sure only one thread uses it at a time.
class SerialLink {
public:
    SerialLink() = default;
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // How the link passes its bounded waits (the wait for output to drain before closing). By default
    // the calling thread sleeps; a window passes a wait that keeps it painting.
    using Wait = std::function<void(std::chrono::milliseconds)>;
    void SetWait(Wait wait) { m_wait = std::move(wait); }

    // 1 when the port is open (also when it already was: the first port and speed are kept),
    // 0 when opening failed. The port text must be a plain decimal number (see PortPath.h).
    int Connect(std::string_view portText, std::int32_t baudRate);
    // Connect, saying why not: none once the port is open.
    std::optional<ConnectFailure> TryConnect(std::string_view portText, std::int32_t baudRate);

    // Closes the port if open, after its output has drained (for at most a second), and leaves the
    // line settings as Connect found them. Always 1; harmless on a closed link.
    int Disconnect();

    // Writes the bytes one at a time and returns how many went out, stopping at the first byte that
    // could not be written (so a short count means a failed write). 0 when closed or empty.
    std::int32_t Transmit(std::span<const std::uint8_t> bytes);

    // 1 when the byte was written within its bounds, 0 when it could not be.
    int TransmitByte(std::uint8_t byte);

    // Received bytes waiting to be read; 0 when closed.
    std::int32_t InputCount();

    // Reads at most the bytes already waiting and at most maxCount of them into dest (also bounded by
    // dest's size). 0 when closed, when nothing is waiting or when the read failed. Never blocks.
    std::int32_t Receive(std::span<std::uint8_t> dest, std::int32_t maxCount);

    bool IsOpen() const { return m_open; }

    // Records every request and reply in the trace from now on; none stops recording. The trace must
    // outlive its use here.
    void SetTrace(ExchangeTrace* trace) { m_trace = trace; }

private:
    void Release(int fd, const std::optional<LineSettings>& found);
    void WaitFor(std::chrono::milliseconds span);

    int m_fd = -1;
    bool m_open = false;
    std::optional<LineSettings> m_found;  // the line settings before Connect changed them
    Wait m_wait;
    ExchangeTrace* m_trace = nullptr;
};
