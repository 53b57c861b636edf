// What the two links share: they differ only in how a port is opened, written, read and closed.
#include <array>
#include <limits>
#include <vector>
#include <thread>

#include "serial/SerialLink.h"

#include <string>

#include "serial/PortDiscovery.h"

void SerialLink::WaitFor(std::chrono::milliseconds span) {
    if (m_wait) {
        m_wait(span);
    } else {
        std::this_thread::sleep_for(span);
    }
}

namespace {

// The plain words of a port that did not open, with what to do about it where there is something.
std::string OpenFailureText(const SerialLink::OpenFailure& failure, std::string_view portText,
                            std::int32_t baud) {
    using Reason = SerialLink::OpenFailure::Reason;
    switch (failure.reason) {
        case Reason::kNotAPortNumber:
            return "Serial Port \"" + std::string(portText) + "\" names no port: type a number such as 1";
        case Reason::kNoDevice:
            return failure.device + ": no such device";
        case Reason::kPermissionDenied:
            return failure.device + ": permission denied; " + std::string(kDialoutFix);
        case Reason::kInUse:
            return failure.device + ": in use by another program";
        case Reason::kNotASerialPort:
            return failure.device + ": not a serial port";
        case Reason::kSpeedRefused:
            return failure.device + ": the speed " + std::to_string(baud) + " was refused";
        case Reason::kOther:
            break;
    }
    return failure.device + ": " + SystemErrorText(failure.error);
}

}  // namespace

std::optional<SerialLink::OpenFailure> SerialLink::OpenOnWire(std::int32_t baudRate) {
    if (baudRate <= 0) return OpenFailure{OpenFailure::Reason::kSpeedRefused, "wire", 0};
    m_onWire = m_open = true;
    m_baud = baudRate;
    m_holdTime = m_wireHoldTime;
    return std::nullopt;
}

Outcome SerialLink::Connect(std::string_view portText, std::int32_t baudRate) {
    const std::optional<OpenFailure> failure = Open(portText, baudRate);
    if (!failure) return {};
    const auto kind =
        failure->reason == OpenFailure::Reason::kInUse ? Outcome::Kind::kPortInUse : Outcome::Kind::kPortFailed;
    return Outcome::Failed(kind, OpenFailureText(*failure, portText, baudRate), failure->device, failure->error);
}

std::int32_t SerialLink::Transmit(std::span<const std::uint8_t> bytes) {
    const std::size_t wanted = std::min<std::size_t>(bytes.size(), std::numeric_limits<std::int32_t>::max());
    std::int32_t sent = 0;
    while (static_cast<std::size_t>(sent) < wanted) {
        const std::int32_t moved = TransmitSome(bytes.subspan(static_cast<std::size_t>(sent), wanted - sent));
        if (moved <= 0) break;
        sent += moved;
    }
    if (m_trace && sent > 0) m_trace->Sent(bytes.first(static_cast<std::size_t>(sent)));
    return sent;
}

void SerialLink::TraceReceived(std::span<const std::uint8_t> bytes) {
    if (m_trace && !bytes.empty()) m_trace->Received(bytes);
}

std::int32_t SerialLink::DiscardInput() {
    // A device that never stops sending would keep this reading; past a bound the rest goes unseen.
    constexpr std::size_t kLongestNoted = 4096;
    std::vector<std::uint8_t> dropped;
    std::array<std::uint8_t, 256> chunk{};
    while (dropped.size() < kLongestNoted) {
        const std::optional<std::int32_t> got =
            Receive(chunk, static_cast<std::int32_t>(chunk.size()), Tracing::kUntraced);
        if (!got || *got <= 0) break;
        dropped.insert(dropped.end(), chunk.begin(), chunk.begin() + *got);
    }
    FlushInput();
    if (m_trace && !dropped.empty()) m_trace->Discarded(dropped);
    return static_cast<std::int32_t>(dropped.size());
}
