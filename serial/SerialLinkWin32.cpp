// SerialLink on the Win32 communications functions: an overlapped port whose reads return at once with
// what has arrived, each write waited for with a bound.
#include "serial/SerialLink.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "serial/PortPath.h"

namespace {

using std::chrono::milliseconds;
using Reason = SerialLink::OpenFailure::Reason;

// How long a write is waited for before it is given up.
constexpr DWORD kWriteWaitMs = 1000;
// How long a read that did not complete at once is waited for.
constexpr DWORD kReadWaitMs = 2000;
// The driver's own bound on one write.
constexpr DWORD kWriteTotalMs = 5000;
constexpr DWORD kQueueSize = 10000;
// How long closing waits for queued output to leave before the rest is discarded.
constexpr milliseconds kDrainWait{1000};
constexpr milliseconds kDrainStep{2};

Reason OpenReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return Reason::kNoDevice;
        // A COM port that another program holds answers "access denied", not a sharing violation.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return Reason::kInUse;
        default:
            return Reason::kOther;
    }
}

// The bytes waiting to be read and to be sent, clearing any line error on the way (a pending error would
// otherwise stop every later read and write on a port whose driver aborts on errors).
COMSTAT PortStatus(HANDLE handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
        return COMSTAT{};
    }
    return status;
}

}  // namespace

struct SerialLink::Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED readRecord{};
    OVERLAPPED writeRecord{};
    std::optional<DCB> found;  // the line settings before Connect changed them

    // Waits for an operation on `record` that is still in flight, cancelling it once `waitMs` has passed,
    // so that the record is free again and nothing more is written into the caller's buffer. The bytes
    // it moved, or nothing when it failed.
    std::optional<DWORD> Finish(OVERLAPPED& record, DWORD waitMs) const {
        DWORD moved = 0;
        if (WaitForSingleObject(record.hEvent, waitMs) != WAIT_OBJECT_0) {
            CancelIoEx(handle, &record);
        }
        if (!GetOverlappedResult(handle, &record, &moved, TRUE)) {
            return moved > 0 ? std::optional<DWORD>(moved) : std::nullopt;
        }
        return moved;
    }
};

std::string SystemErrorText(int error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "system error " + std::to_string(static_cast<DWORD>(error)) : words;
}

SerialLink::SerialLink() : m_port(std::make_unique<Port>()) {}

SerialLink::~SerialLink() { Disconnect(); }

// Closes the port without letting stuck output hold it, puts its line settings back and drops unread
// input, so that it cannot pass for the reply to the next request.
void SerialLink::Release() {
    Port& port = *m_port;
    const auto deadline = std::chrono::steady_clock::now() + kDrainWait;
    while (PortStatus(port.handle).cbOutQue > 0 && std::chrono::steady_clock::now() < deadline) {
        WaitFor(kDrainStep);
    }
    const bool stuck = PortStatus(port.handle).cbOutQue > 0;
    PurgeComm(port.handle, PURGE_RXABORT | PURGE_RXCLEAR | (stuck ? PURGE_TXABORT | PURGE_TXCLEAR : 0));
    if (port.found) {
        SetCommState(port.handle, &*port.found);
    }
    for (OVERLAPPED* record : {&port.readRecord, &port.writeRecord}) {
        if (record->hEvent != nullptr) {
            CloseHandle(record->hEvent);
        }
        *record = OVERLAPPED{};
    }
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
    port.found.reset();
}

bool SerialLink::NoDevice(const Outcome& connected) {
    return connected.kind == Outcome::Kind::kPortFailed && connected.error != 0 &&
           OpenReason(static_cast<DWORD>(connected.error)) == Reason::kNoDevice;
}

std::optional<SerialLink::OpenFailure> SerialLink::Open(std::string_view portText, std::int32_t baudRate) {
    if (m_wire && !m_open) return OpenOnWire(baudRate);

    if (m_open) {
        return std::nullopt;
    }
    const auto path = PortDevicePath(portText);
    if (!path) {
        return OpenFailure{Reason::kNotAPortNumber, {}, 0};
    }
    if (baudRate <= 0) {
        return OpenFailure{Reason::kSpeedRefused, *path, 0};
    }
    Port& port = *m_port;
    port.handle = CreateFileA(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port.handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return OpenFailure{OpenReason(error), *path, static_cast<int>(error)};
    }
    const auto fail = [&](Reason reason) {
        const DWORD error = GetLastError();
        Release();
        return OpenFailure{reason, *path, static_cast<int>(error)};
    };

    // Reads return at once with what has arrived; a write gives up after its bound.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalMs;
    SetCommTimeouts(port.handle, &timeouts);

    port.readRecord = OVERLAPPED{};
    port.writeRecord = OVERLAPPED{};
    port.readRecord.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port.writeRecord.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (port.readRecord.hEvent == nullptr || port.writeRecord.hEvent == nullptr) {
        return fail(Reason::kOther);
    }

    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(port.handle, &line)) {
        // Something answers at the path, but not as a serial port.
        return fail(Reason::kNotASerialPort);
    }
    port.found = line;
    line.BaudRate = static_cast<DWORD>(baudRate);
    line.ByteSize = 8;
    // Every byte passes unchanged: no XON/XOFF, no zero bytes dropped, no byte put in for a bad one.
    // Parity, stop bits and hardware flow control stay as the port has them.
    line.fBinary = TRUE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fNull = FALSE;
    line.fErrorChar = FALSE;
    line.fAbortOnError = FALSE;
    if (!SetCommState(port.handle, &line)) {
        return fail(Reason::kSpeedRefused);
    }
    if (!SetupComm(port.handle, kQueueSize, kQueueSize)) {
        return fail(Reason::kOther);
    }
    // Whatever arrived while nobody had the port open answers an earlier request, not the next one.
    PurgeComm(port.handle, PURGE_RXCLEAR);
    m_baud = baudRate;
    m_open = true;
    return std::nullopt;
}

void SerialLink::Disconnect() {
    if (m_onWire) {
        if (m_trace) m_trace->Closed();
        m_onWire = m_open = false;
        return;
    }

    if (m_open) {
        if (m_trace) m_trace->Closed();
        Release();
        m_open = false;
    }
}

std::int32_t SerialLink::TransmitSome(std::span<const std::uint8_t> bytes) {
    if (m_onWire) return bytes.empty() ? 0 : m_wire->Write(bytes);

    if (!m_open || bytes.empty()) {
        return 0;
    }
    Port& port = *m_port;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 16));
    ResetEvent(port.writeRecord.hEvent);
    DWORD written = 0;
    if (WriteFile(port.handle, bytes.data(), wanted, &written, &port.writeRecord)) {
        return static_cast<std::int32_t>(written);
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return 0;
    }
    // A write still pending after its wait is cancelled, so the next one never shares the record with it;
    // what it did move is counted.
    return static_cast<std::int32_t>(port.Finish(port.writeRecord, kWriteWaitMs).value_or(0));
}

std::int32_t SerialLink::InputCount() {
    if (m_onWire) return m_wire->Waiting();

    if (!m_open) {
        return 0;
    }
    const DWORD waiting = PortStatus(m_port->handle).cbInQue;
    return static_cast<std::int32_t>(std::min<DWORD>(waiting, std::numeric_limits<std::int32_t>::max()));
}

void SerialLink::FlushInput() {
    if (m_onWire) return;

    if (m_open) PurgeComm(m_port->handle, PURGE_RXCLEAR);
}

// The port's received-character event would wake at once, but a wait on it cannot be given a deadline
// finer than the system's timer either; the count of waiting bytes is asked each millisecond instead.
bool SerialLink::WaitForInput(std::chrono::microseconds span) {
    if (m_onWire) return m_wire->Waiting() > 0;

    const auto deadline = std::chrono::steady_clock::now() + span;
    for (;;) {
        if (InputCount() > 0) return true;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        Sleep(static_cast<DWORD>(std::clamp<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(left).count(), 0, 1)));
    }
}

std::optional<std::int32_t> SerialLink::Receive(std::span<std::uint8_t> dest, std::int32_t maxCount, Tracing tracing) {
    const std::int32_t waiting = InputCount();
    if (waiting <= 0 || maxCount <= 0 || dest.empty()) {
        return 0;
    }
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(
        {static_cast<std::size_t>(waiting), static_cast<std::size_t>(maxCount), dest.size()}));
    if (m_onWire) {
        const std::int32_t got = m_wire->Read(dest.first(wanted));
        if (got > 0 && tracing == Tracing::kTraced) TraceReceived(dest.first(static_cast<std::size_t>(got)));
        return std::max(got, std::int32_t{0});
    }
    Port& port = *m_port;
    ResetEvent(port.readRecord.hEvent);
    DWORD got = 0;
    if (!ReadFile(port.handle, dest.data(), wanted, &got, &port.readRecord)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            return std::nullopt;
        }
        // Waited for, and cancelled if it is still in flight, so that no byte lands in the buffer after
        // the caller has taken it back; what it did read is counted.
        got = port.Finish(port.readRecord, kReadWaitMs).value_or(0);
    }
    if (got == 0) {
        return 0;
    }
    if (tracing == Tracing::kTraced) TraceReceived(dest.first(got));
    return static_cast<std::int32_t>(got);
}
