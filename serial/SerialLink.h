#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Outcome.h"
#include "serial/ExchangeTrace.h"
#ifndef _WIN32
#include "serial/SerialSpeed.h"
#endif

// The system's own words for an error number (errno, or GetLastError on Windows).
std::string SystemErrorText(int error);

// The program's one connection to the device: a serial port opened by number and speed just before a
// request and closed after its reply. Every operation is synchronous and bounded in time; none of them
// blocks waiting for data that has not arrived. The link has no lock and no thread affinity: the caller
// makes sure only one thread uses it at a time.
//
// Two implementations share this interface: SerialLink.cpp on POSIX termios, SerialLinkWin32.cpp on the
// Win32 communications functions; the build picks one. What they share is in SerialLinkCommon.cpp.
class SerialLink {
public:
    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // How the link passes its bounded waits (the wait for output to drain before closing). By default
    // the calling thread sleeps; a window passes a wait that keeps it painting.
    using Wait = std::function<void(std::chrono::milliseconds)>;
    void SetWait(Wait wait) { m_wait = std::move(wait); }

    // Why a port could not be opened, as the two implementations find it; Connect puts it in words.
    struct OpenFailure {
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
        int error = 0;
    };

    // Opens the port. Done once it is open (also when it already was: the first port and speed are
    // kept); else kPortInUse or kPortFailed, with why in plain words (and what to do about it where there
    // is something), the device path tried and the system's error number. The port text must be a plain
    // decimal number (see PortPath.h).
    Outcome Connect(std::string_view portText, std::int32_t baudRate);
    // Whether a Connect failed for nothing being at the device path (an adapter unplugged), rather than
    // a port that is there and would not open.
    static bool NoDevice(const Outcome& connected);

    // Closes the port if open, after its output has drained (for at most a second), and leaves the
    // line settings as Connect found them. Harmless on a closed link.
    void Disconnect();

    // Hands the bytes to the driver together, so that they leave back to back whatever this thread does
    // meanwhile (a device ends a request at a pause, and a pause between two writes of single bytes could
    // cut a ten-byte home number write into an eight-byte one with other codes). Returns how many went
    // out, stopping where the driver would take no more within its bounds (so a short count means a
    // failed write). 0 when closed or empty.
    std::int32_t Transmit(std::span<const std::uint8_t> bytes);

    // Whether the byte was written within its bounds.
    bool TransmitByte(std::uint8_t byte) { return TransmitSome(std::span(&byte, 1)) == 1; }

    // Received bytes waiting to be read; 0 when closed.
    std::int32_t InputCount();

    // Reads at most the bytes already waiting and at most maxCount of them into dest (also bounded by
    // dest's size): how many, 0 when closed or when nothing is waiting, none when the read failed. Never
    // blocks. A reply read in pieces is traced once, whole, by TraceReceived.
    enum class Tracing { kTraced, kUntraced };
    std::optional<std::int32_t> Receive(std::span<std::uint8_t> dest, std::int32_t maxCount, Tracing tracing = Tracing::kTraced);
    void TraceReceived(std::span<const std::uint8_t> bytes);

    // Blocks until a received byte is waiting or the span has passed: true when one is. A closed link,
    // or one whose far end has gone, waits out the span.
    bool WaitForInput(std::chrono::microseconds span);

    // Drops the bytes already waiting, noting them in the trace: they came before the request about to
    // be sent, so they cannot be its reply. How many there were.
    std::int32_t DiscardInput();

    // How long the port may hold received bytes back and then hand them over, so that a pause that long
    // inside a reply is no end of it: a USB serial adapter passes bytes on at the ticks of its latency
    // timer, not as they arrive. Where the system tells the timer (a USB adapter's driver on Linux) it is
    // that with a margin, else the common adapters' default with the margin. Set when the port opens.
    std::chrono::microseconds HoldTime() const { return m_holdTime; }
    static constexpr std::chrono::milliseconds kDefaultLatencyTimer{16};
    // The adapter's own timing is exact; the margin covers the host's side: the USB frame the piece
    // travels in and the kernel handing it on to the port.
    static constexpr std::chrono::milliseconds kHoldMargin{8};
    // How late a wait for input may wake when this thread was not held up: the system's timer
    // granularity (on Windows a sleep ends at the next 15.6 ms tick).
#ifdef _WIN32
    static constexpr std::chrono::milliseconds kWakeSlack{20};
#else
    static constexpr std::chrono::milliseconds kWakeSlack{3};
#endif

    bool IsOpen() const { return m_open; }
    // The speed the port was opened at; 0 while closed.
    std::int32_t Baud() const { return m_open ? m_baud : 0; }

    // Records every request and reply in the trace from now on; none stops recording. The trace must
    // outlive its use here.
    void SetTrace(ExchangeTrace* trace) { m_trace = trace; }

    // What a link can talk to in place of a port: a far end played without a line, by a test or a fuzz
    // target that must not wait on one. It takes what the link writes and hands over what it has sent.
    class Wire {
    public:
        virtual ~Wire() = default;
        // How many of the bytes it took.
        virtual std::int32_t Write(std::span<const std::uint8_t> bytes) = 0;
        virtual std::int32_t Waiting() = 0;
        // At most dest.size() of the bytes waiting; never blocks.
        virtual std::int32_t Read(std::span<std::uint8_t> dest) = 0;
    };
    // From the next open on, the link opens onto `wire`, whatever the port text, as a port that holds
    // bytes back for `holdTime`; none: ports again. The wire must outlive its use here.
    void UseWire(Wire* wire, std::chrono::microseconds holdTime = kHoldMargin) {
        m_wire = wire;
        m_wireHoldTime = holdTime;
    }

private:
    // One write of as many of the bytes as the driver takes within its bounds; 0 when none could go.
    std::int32_t TransmitSome(std::span<const std::uint8_t> bytes);
    std::optional<OpenFailure> Open(std::string_view portText, std::int32_t baudRate);
    std::optional<OpenFailure> OpenOnWire(std::int32_t baudRate);
    void WaitFor(std::chrono::milliseconds span);
    void FlushInput();

#ifdef _WIN32
    // The port handle, its two completion records with their events, and the line settings as found.
    // Made with the link, so that a command allocates nothing.
    struct Port;
    void Release();
    std::unique_ptr<Port> m_port;
#else
    void Release(int fd, const std::optional<LineSettings>& found);
    int m_fd = -1;
    std::optional<LineSettings> m_found;  // the line settings before Connect changed them
    bool m_lowLatencySet = false;         // Connect asked the driver for low latency; closing takes it back
#endif
    std::chrono::microseconds m_holdTime = kDefaultLatencyTimer + kHoldMargin;
    bool m_open = false;
    std::int32_t m_baud = 0;
    Wait m_wait;
    ExchangeTrace* m_trace = nullptr;
    Wire* m_wire = nullptr;
    std::chrono::microseconds m_wireHoldTime{0};
    bool m_onWire = false;  // open onto the wire
};
