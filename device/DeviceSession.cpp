#include "device/DeviceSession.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "device/ReplyShapes.h"
#include "protocol/SettingExchange.h"
#include "serial/PortDiscovery.h"
#include "table/HomeNumberExchange.h"

namespace {
Outcome::Kind WriteReplyKind(protocol::ReplyOutcome reply) {
    if (reply == protocol::ReplyOutcome::kSucceeded) return Outcome::Kind::kDone;
    return reply == protocol::ReplyOutcome::kNoReply ? Outcome::Kind::kNoAnswer : Outcome::Kind::kRefused;
}

}  // namespace

void Outcome::Note(Kind worse, std::string why) {
    if (worse <= kind) return;
    kind = worse;
    reason = std::move(why);
}

std::string ConnectFailureText(const ConnectFailure& failure, const std::string& portText,
                               std::int32_t baud) {
    using Reason = ConnectFailure::Reason;
    switch (failure.reason) {
        case Reason::kNotAPortNumber:
            return "Serial Port \"" + portText + "\" names no port: type a number such as 1\r\n";
        case Reason::kNoDevice:
            return failure.device + ": no such device\r\n";
        case Reason::kPermissionDenied:
            return failure.device + ": permission denied; " + std::string(kDialoutFix) + "\r\n";
        case Reason::kInUse:
            return failure.device + ": in use by another program\r\n";
        case Reason::kNotASerialPort:
            return failure.device + ": not a serial port\r\n";
        case Reason::kSpeedRefused:
            return failure.device + ": the speed " + std::to_string(baud) + " was refused\r\n";
        case Reason::kOther:
            break;
    }
    return failure.device + ": " + SystemErrorText(failure.error) + "\r\n";
}

std::chrono::microseconds CharacterTime(std::int32_t baud) {
    return std::chrono::microseconds{10'000'000 / std::max(baud, kSlowestBaud)};
}

ReplyShape::End ReplyShape::Ends(std::span<const std::uint8_t> bytes) const {
    const std::size_t n = bytes.size();
    if (n >= longest) return End::kWhole;
    switch (kind) {
        case Kind::kFixed:
            break;
        case Kind::kHomeNumberCodes:
            // Byte 4 marks a home number without codes; two-digit codes make a reply that three-digit
            // ones would begin with.
            if (n >= 5 && bytes[4] == 0xFF) return End::kWhole;
            if (n == 8) return End::kMaybeWhole;
            break;
        case Kind::kText:
            if (n > 2 && std::find(bytes.begin() + 2, bytes.end(), 0) != bytes.end()) return End::kMaybeWhole;
            break;
    }
    return End::kPart;
}

DeviceSession::DeviceSession(LogSink& log, Sleep sleep, PortSource port, InputWait inputWait)
    : m_log(log), m_sleep(std::move(sleep)), m_port(std::move(port)), m_inputWait(std::move(inputWait)) {
    if (!m_inputWait) {
        m_inputWait = [](SerialLink& link, std::chrono::microseconds span) {
            return link.WaitForInput(span);
        };
    }
    m_link.SetWait([this](std::chrono::milliseconds span) { m_sleep(static_cast<int>(span.count())); });
}

DeviceSession::~DeviceSession() { m_link.Disconnect(); }

bool DeviceSession::SendRequest(std::span<const std::uint8_t> request, Outcome& outcome) {
    const PortChoice choice = m_port();
    if (const auto failure = m_link.TryConnect(choice.port, choice.baud)) {
        const std::string why = ConnectFailureText(*failure, choice.port, choice.baud);
        m_log.Text("Open com port failed\r\n");
        m_log.Text(why);
        outcome.Note(Outcome::Kind::kPortFailed, why.substr(0, why.size() - 2));
        return false;
    }
    m_requestBytes = request.size();
    if (request.empty()) {
        m_log.Text("Error while sending data\r\n");
        m_log.Text("Sent bytes equals 0\r\n");
        outcome.Note(Outcome::Kind::kNoAnswer);
        return false;
    }
    // What is waiting now came before the request, so it cannot answer it: the rest of a reply that was
    // ended too soon, or one that came after its wait had given up.
    m_link.DiscardInput();
    // A byte that could not be written (an unplugged adapter, a stalled line) makes the request
    // incomplete: it is reported, never counted as sent.
    if (m_link.Transmit(request) != static_cast<std::int32_t>(request.size())) {
        m_log.Text("Error while sending data\r\n");
        outcome.Note(Outcome::Kind::kNoAnswer, "a byte of the request could not be written");
        return false;
    }
    return true;
}

// The first byte is awaited as the rounds of half an interval did, counted from when the request has
// left the line (the driver sends it at the port's speed after Transmit returns): a reply must have
// begun by the end of the poll count's rounds; one first seen in the round after, the last, still times
// out and is left unread. The rest of the reply is read as it comes, and the wait ends once the line
// has been quiet for long enough to tell:
// - a whole reply, after two character times at the port's speed, so that a reply longer than expected
//   is read whole too;
// - a reply that could also begin a longer one, and a part, after longer than the port may hold bytes
//   back (a USB adapter hands them over at its timer's ticks) and two character times more; never
//   before an interval has passed since the first byte;
// - a text that has neither reached its end nor filled its field, after as long as the read waits for
//   its first byte: a device may pause inside a text.
std::int32_t DeviceSession::AwaitReply(std::int32_t pollCount, std::int32_t intervalMs,
                                       const ReplyShape& shape, Outcome& outcome) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::microseconds;
    const auto start = Clock::now();
    const microseconds half{std::int64_t{intervalMs} * 1000 / 2};
    const microseconds interval{std::int64_t{intervalMs} * 1000};
    const microseconds character = CharacterTime(m_link.Baud());
    const auto until = [](Clock::time_point when) {
        return std::max(microseconds(0), std::chrono::ceil<microseconds>(when - Clock::now()));
    };
    const auto firstBy =
        start + character * static_cast<std::int64_t>(m_requestBytes) + half * (2 * std::int64_t{pollCount});
    while (m_link.InputCount() <= 0) {
        if (pollCount == 0) {
            m_inputWait(m_link, interval);
            continue;
        }
        if (Clock::now() >= firstBy) {
            m_sleep(static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(firstBy + half - Clock::now()).count()));
            m_log.Text("Timed out waiting for response\r\n", true);
            outcome.Note(Outcome::Kind::kNoAnswer, "no reply");
            return -1;
        }
        m_inputWait(m_link, until(firstBy));
    }

    const auto first = Clock::now();
    const auto quiet = 2 * character;
    const auto held = m_link.HoldTime() + quiet;
    const auto textPause = std::max<microseconds>(held, interval * std::int64_t{pollCount});
    auto lastByte = first;
    std::size_t have = 0;
    m_reply.fill(0);  // no decoder may see a byte of an earlier reply
    for (;;) {
        const std::int32_t got =
            m_link.Receive(std::span(m_reply).subspan(have), static_cast<std::int32_t>(kReplySize - have),
                           SerialLink::Tracing::kUntraced);
        if (got == SerialLink::kReadFailed) {
            outcome.Note(Outcome::Kind::kNoAnswer, "the reply could not be read");
            break;
        }
        const auto now = Clock::now();
        if (got > 0) {
            have += static_cast<std::size_t>(got);
            lastByte = now;
        }
        if (have >= kReplySize) break;
        auto wakeAt = lastByte + quiet;
        switch (shape.Ends(std::span(m_reply).first(have))) {
            case ReplyShape::End::kWhole:
                break;
            case ReplyShape::End::kMaybeWhole:
                wakeAt = std::max(first + interval, lastByte + held);
                break;
            case ReplyShape::End::kPart:
                wakeAt = std::max(first + interval,
                                  lastByte + (shape.kind == ReplyShape::Kind::kText ? textPause : held));
                break;
        }
        if (now >= wakeAt) break;
        m_inputWait(m_link, until(wakeAt));
    }
    m_link.TraceReceived(std::span(m_reply).first(have));
    if (have == 0) outcome.Note(Outcome::Kind::kNoAnswer, "no reply");
    return static_cast<std::int32_t>(have);
}

std::span<const std::uint8_t> DeviceSession::Reply(std::int32_t n) const {
    return std::span<const std::uint8_t>(m_reply).first(
        static_cast<std::size_t>(std::clamp(n, std::int32_t{0}, static_cast<std::int32_t>(kReplySize))));
}

// -2 when the request did not go out, else as AwaitReply.
std::int32_t DeviceSession::Exchange(std::span<const std::uint8_t> request, const ReplyShape& shape,
                                     Outcome& outcome, std::int32_t pollCount, std::int32_t intervalMs) {
    if (!SendRequest(request, outcome)) return -2;
    return AwaitReply(pollCount, intervalMs, shape, outcome);
}

template <class Result>
Result DeviceSession::Ended(Result result) {
    m_link.Disconnect();
    return result;
}

Reading<std::int32_t> DeviceSession::Get(const protocol::DeviceCommand& command) {
    Reading<std::int32_t> reading;
    const auto request = protocol::BeginGet(command, m_log);
    const std::int32_t n = Exchange(request, kStatusReply, reading.outcome);
    reading.value = protocol::DecodeSettingReply(command, Reply(n), n, m_log);
    if (!reading.value) reading.outcome.Note(Outcome::Kind::kRefused);
    return Ended(std::move(reading));
}

Outcome DeviceSession::Set(const protocol::DeviceCommand& command, std::int32_t value) {
    Outcome outcome;
    if (!protocol::SetInputAccepted(command, value, m_log)) {
        outcome.Note(Outcome::Kind::kInputRejected, "over the limit");
        return outcome;
    }
    const auto request = protocol::BeginSet(
        command, [value] { return value; }, m_log);
    if (!request) {
        outcome.Note(Outcome::Kind::kInputRejected, "nothing chosen");
        return Ended(std::move(outcome));
    }
    const std::int32_t n = Exchange(*request, kStatusReply, outcome);
    outcome.Note(WriteReplyKind(protocol::CheckWriteReply(command, *request, Reply(n), n, m_log)));
    return Ended(std::move(outcome));
}

Reading<std::string> DeviceSession::ReadText(const protocol::DeviceCommand& command) {
    Reading<std::string> reading;
    const auto request = protocol::BeginGet(command, m_log);
    const std::int32_t n =
        Exchange(request, TextReply(command), reading.outcome, kTextReadPollCount, kTextReadIntervalMs);
    reading.value = protocol::DecodeTextReply(command, Reply(n), n, m_log);
    if (!reading.value) reading.outcome.Note(Outcome::Kind::kRefused);
    return Ended(std::move(reading));
}

Outcome DeviceSession::WriteText(const protocol::DeviceCommand& command, const std::string& text) {
    Outcome outcome;
    const std::vector<std::uint8_t> request = protocol::BeginTextWrite(command, text, m_log);
    const std::int32_t n = Exchange(request, kStatusReply, outcome);
    outcome.Note(WriteReplyKind(protocol::CheckWriteReply(command, request, Reply(n), n, m_log)));
    return Ended(std::move(outcome));
}

// The PLL exchange runs whatever the home number exchange gave; the port stays open between the two.
Outcome DeviceSession::WriteHomeNumber(std::int32_t homeNumber, const table::Codes& codes,
                                       const std::string& pllTx, const std::string& pllRx) {
    Outcome outcome;
    m_log.Text("Sending Home Number write request:\r\n");
    if (SendRequest(table::HomeNumberWriteRequest(homeNumber, codes), outcome)) {
        const std::int32_t n = Await(kHomeNumberStatusReply, outcome);
        outcome.Note(WriteReplyKind(table::ReportWriteReply(table::kHomeNumberCode, Reply(n), n, m_log)));
    }
    if (homeNumber <= table::kPllHomeNumbers) {
        m_log.Text("Sending PLL Write request:\r\n");
        const auto request =
            table::PllWriteRequest(homeNumber, table::PllWireValue(pllTx), table::PllWireValue(pllRx));
        if (SendRequest(request, outcome)) {
            const std::int32_t n = Await(kHomeNumberStatusReply, outcome);
            outcome.Note(WriteReplyKind(table::ReportWriteReply(table::kPllCode, Reply(n), n, m_log)));
        }
    }
    return Ended(std::move(outcome));
}

Reading<HomeNumberReading> DeviceSession::ReadHomeNumber(std::int32_t homeNumber) {
    Reading<HomeNumberReading> reading;
    HomeNumberReading& read = reading.value.emplace();
    m_log.Text("Sending Home Number Read request:\r\n");
    if (SendRequest(table::HomeNumberReadRequest(homeNumber), reading.outcome)) {
        const std::int32_t n = Await(kHomeNumberCodesReply, reading.outcome);
        read.codes = table::ReportHomeNumberRead(Reply(n), n, m_log);
        if (!read.codes) reading.outcome.Note(Outcome::Kind::kRefused);
    }
    if (homeNumber <= table::kPllHomeNumbers &&
        SendRequest(table::PllReadRequest(homeNumber), reading.outcome)) {
        m_log.Text("Sending PLL Read request:\r\n");
        const std::int32_t n = Await(kPllValuesReply, reading.outcome);
        read.pll = table::ReportPllRead(Reply(n), n, m_log);
        if (!read.pll) reading.outcome.Note(Outcome::Kind::kRefused);
    }
    return Ended(std::move(reading));
}
