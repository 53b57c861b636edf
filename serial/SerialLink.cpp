#include "serial/SerialLink.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "serial/AdapterLatency.h"
#include "serial/PortPath.h"
#include "serial/SerialSpeed.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a write may wait for room in the driver's output queue.
constexpr milliseconds kWriteWait{1000};
// How long closing waits for queued output to leave. Past it the rest is discarded: the driver's own
// close would otherwise wait up to 30 s on a line held up by flow control.
constexpr milliseconds kDrainWait{1000};
constexpr milliseconds kDrainStep{2};
// A driver that cannot do the exact speed may substitute a near one; beyond this the two ends no
// longer understand each other, so the speed counts as refused.
constexpr std::uint32_t kSpeedTolerancePercent = 2;

struct StandardSpeed {
    std::int32_t baud;
    speed_t code;
};

constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {150, B150},         {200, B200},
    {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> StandardSpeedCode(std::int32_t baud) {
    const auto* found = std::find_if(std::begin(kStandardSpeeds), std::end(kStandardSpeeds),
                                     [baud](const StandardSpeed& s) { return s.baud == baud; });
    if (found == std::end(kStandardSpeeds)) {
        return std::nullopt;
    }
    return found->code;
}

// Exclusive against every other user: flock also stops root and other links in this process (each
// open() is its own open file description), TIOCEXCL stops programs that do not take the lock.
bool ClaimPort(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0; }

// Raw 8-bit line at the given speed: every byte passes both ways unchanged. Parity, stop bits and
// hardware flow control stay as the port has them.
// Why a line could not be set up, or nothing when it was.
using Reason = SerialLink::OpenFailure::Reason;
std::optional<Reason> ConfigureLine(int fd, std::int32_t baud) {
    termios line{};
    if (tcgetattr(fd, &line) != 0) {
        return errno == ENOTTY ? Reason::kNotASerialPort : Reason::kOther;
    }
    line.c_iflag &=
        ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY | IMAXBEL);
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
    line.c_cflag &= ~CSIZE;
    // CLOCAL: the device does not drive carrier detect, and a missing carrier must not hang up the line.
    line.c_cflag |= CS8 | CREAD | CLOCAL;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;

    const auto standard = StandardSpeedCode(baud);
    if (standard && (cfsetispeed(&line, *standard) != 0 || cfsetospeed(&line, *standard) != 0)) {
        return Reason::kSpeedRefused;
    }
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        return Reason::kOther;
    }
    if (!standard && !SetArbitrarySpeed(fd, static_cast<std::uint32_t>(baud))) {
        return Reason::kSpeedRefused;
    }

    // tcsetattr succeeds when any part of the request was applied, and drivers clamp speeds they
    // cannot do, so only the speed read back tells whether the port really runs at the one asked for.
    const auto actual = LineSpeed(fd);
    if (!actual) {
        return Reason::kOther;
    }
    const std::uint64_t wanted = static_cast<std::uint32_t>(baud);
    const std::uint64_t difference = *actual > wanted ? *actual - wanted : wanted - *actual;
    if (difference * 100 > wanted * kSpeedTolerancePercent) {
        return Reason::kSpeedRefused;
    }

    // Whatever arrived while nobody had the port open answers an earlier request, not the next one.
    tcflush(fd, TCIFLUSH);
    return std::nullopt;
}

// Asks the driver to hand received bytes over at once rather than at its latency timer's ticks. The
// USB adapters whose driver knows the flag then use their shortest timer (1 ms) while the port is open;
// drivers without it (pseudo-terminals, on-board ports) refuse or ignore it, and the line works as it
// is. True when the flag was set here, so that closing clears it again.
bool AskLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void EndLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
}

// The adapter's latency timer as its driver tells it now (after AskLowLatency), with the margin; the
// default where nothing tells it.
std::chrono::microseconds HoldTimeOf(int fd) {
    struct stat device {};
    std::optional<int> timer;
    if (fstat(fd, &device) == 0 && S_ISCHR(device.st_mode)) {
        timer = LatencyTimerOfDevice(major(device.st_rdev), minor(device.st_rdev));
    }
    const milliseconds latency = timer ? milliseconds(*timer) : SerialLink::kDefaultLatencyTimer;
    return latency + SerialLink::kHoldMargin;
}

Reason OpenReason(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
            return Reason::kNoDevice;
        case EACCES:
        case EPERM:
            return Reason::kPermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return Reason::kInUse;
        default:
            return Reason::kOther;
    }
}

int OutputQueued(int fd) {
    int pending = 0;
    return ioctl(fd, TIOCOUTQ, &pending) == 0 ? pending : 0;
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

}  // namespace

std::string SystemErrorText(int error) { return std::strerror(error); }

SerialLink::SerialLink() = default;
SerialLink::~SerialLink() { Disconnect(); }

// Closes a claimed port without letting close() wait on stuck output, and puts its line settings back:
// a port opened by mistake (the system console, say) must not be left raw at another speed. Unread input
// is dropped so that it cannot pass for the reply to the next request.
void SerialLink::Release(int fd, const std::optional<LineSettings>& found) {
    const auto deadline = Clock::now() + kDrainWait;
    while (OutputQueued(fd) > 0 && Clock::now() < deadline) {
        WaitFor(kDrainStep);
    }
    // Output still queued is held up for good and is discarded. Output that has drained must not be
    // flushed: on a pseudo-terminal that would take back bytes the far end has not read yet.
    tcflush(fd, OutputQueued(fd) > 0 ? TCIOFLUSH : TCIFLUSH);
    if (found) {
        WriteLineSettings(fd, *found);
    }
    // The exclusive flag belongs to the terminal, not to this descriptor: on a pseudo-terminal whose
    // master stays open it would outlive the close and lock everybody else out.
    ioctl(fd, TIOCNXCL);
    close(fd);  // also drops the flock
}

bool SerialLink::NoDevice(const Outcome& connected) {
    return connected.kind == Outcome::Kind::kPortFailed && connected.error != 0 &&
           OpenReason(static_cast<int>(connected.error)) == Reason::kNoDevice;
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
    // Speed 0 would mean "hang up" to the driver.
    if (baudRate <= 0) {
        return OpenFailure{Reason::kSpeedRefused, *path, 0};
    }
    // O_NONBLOCK: opening must not wait for carrier, and no read or write may block.
    const int fd = open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return OpenFailure{OpenReason(error), *path, error};
    }
    if (!ClaimPort(fd)) {
        const int error = errno;
        close(fd);
        return OpenFailure{error == ENOTTY ? Reason::kNotASerialPort : OpenReason(error), *path, error};
    }
    const std::optional<LineSettings> found = ReadLineSettings(fd);
    if (const auto failure = ConfigureLine(fd, baudRate)) {
        const int error = errno;
        Release(fd, found);
        return OpenFailure{*failure, *path, error};
    }
    m_lowLatencySet = AskLowLatency(fd);
    m_holdTime = HoldTimeOf(fd);
    m_found = found;
    m_fd = fd;
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
        if (m_lowLatencySet) EndLowLatency(m_fd);
        m_lowLatencySet = false;
        Release(m_fd, m_found);
        m_fd = -1;
        m_found.reset();
        m_open = false;
    }
}

std::int32_t SerialLink::TransmitSome(std::span<const std::uint8_t> bytes) {
    if (m_onWire) return bytes.empty() ? 0 : m_wire->Write(bytes);

    if (!m_open || bytes.empty()) {
        return 0;
    }
    // A non-blocking write either hands bytes to the driver at once or not at all, so no write is ever
    // left in flight when this returns, and the next cannot overtake or pile onto it.
    const auto deadline = Clock::now() + kWriteWait;
    for (;;) {
        const ssize_t written = write(m_fd, bytes.data(), bytes.size());
        if (written > 0) {
            return static_cast<std::int32_t>(written);
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        // EIO is an unplugged adapter or a far end that went away.
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return 0;
        }
        pollfd room{m_fd, POLLOUT, 0};
        const int ready = poll(&room, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (room.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return 0;
        }
    }
}

std::int32_t SerialLink::InputCount() {
    if (m_onWire) return m_wire->Waiting();

    if (!m_open) {
        return 0;
    }
    int waiting = 0;
    if (ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return waiting;
}

void SerialLink::FlushInput() {
    if (m_onWire) return;

    if (m_open) tcflush(m_fd, TCIFLUSH);
}

bool SerialLink::WaitForInput(std::chrono::microseconds span) {
    if (m_onWire) return m_wire->Waiting() > 0;

    const auto deadline = std::chrono::steady_clock::now() + span;
    while (m_open) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return InputCount() > 0;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd readable{m_fd, POLLIN, 0};
        const int ready = ppoll(&readable, 1, &timeout, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && (readable.revents & POLLIN) != 0 && InputCount() > 0) return true;
        if (ready != 0) break;  // hung up or failed: nothing will come
    }
    std::this_thread::sleep_until(deadline);
    return false;
}

std::optional<std::int32_t> SerialLink::Receive(std::span<std::uint8_t> dest, std::int32_t maxCount, Tracing tracing) {
    const std::int32_t waiting = InputCount();
    if (waiting <= 0 || maxCount <= 0 || dest.empty()) {
        return 0;
    }
    const auto wanted = std::min<std::size_t>(
        {static_cast<std::size_t>(waiting), static_cast<std::size_t>(maxCount), dest.size()});
    if (m_onWire) {
        const std::int32_t got = m_wire->Read(dest.first(wanted));
        if (got > 0 && tracing == Tracing::kTraced) TraceReceived(dest.first(static_cast<std::size_t>(got)));
        return std::max(got, std::int32_t{0});
    }
    ssize_t got = 0;
    do {
        got = read(m_fd, dest.data(), wanted);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return std::nullopt;
    }
    if (got == 0) {
        return 0;
    }
    if (tracing == Tracing::kTraced) TraceReceived(dest.first(static_cast<std::size_t>(got)));
    return static_cast<std::int32_t>(got);
}
