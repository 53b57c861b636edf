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

// Every failure of an exchange but a well-formed refusal leaves the request's own reply possibly still
// to come: the next request waits it out (see SendRequest).
void DeviceSession::Failed(Outcome& outcome, Outcome::Kind kind, std::string why) {
    ++m_errors;
    m_lineUnsure = true;
    outcome.Note(kind, std::move(why));
}

// A reply that came and was refused counts as a failure of its own; one that did not come was counted
// when its wait gave up.
void DeviceSession::Refused(Outcome& outcome, const ReplyBytes& reply) {
    if (reply) ++m_errors;
    m_lineUnsure = true;
    outcome.Note(Outcome::Kind::kRefused);
}

void DeviceSession::NoteWrite(Outcome& outcome, const ReplyBytes& reply, protocol::ReplyOutcome written) {
    const Outcome::Kind kind = WriteReplyKind(written);
    if (kind == Outcome::Kind::kDone) return;
    if (reply) ++m_errors;
    if (written != protocol::ReplyOutcome::kFailed) m_lineUnsure = true;
    outcome.Note(kind);
}

bool DeviceSession::SendRequest(std::span<const std::uint8_t> request, Outcome& outcome) {
    const PortChoice choice = m_port();
    if (Outcome opened = m_link.Connect(choice.port, choice.baud); !opened.Done()) {
        m_log.Text("Open com port failed\r\n");
        m_log.Text(opened.reason + "\r\n");
        ++m_errors;
        outcome.Note(opened);
        return false;
    }
    m_requestBytes = request.size();
    if (request.empty()) {
        m_log.Text("Error while sending data\r\n");
        m_log.Text("Sent bytes equals 0\r\n");
        Failed(outcome, Outcome::Kind::kNoAnswer);
        return false;
    }
    // After an exchange that failed, its reply, or the rest of it, may still be on its way: read with
    // the next reply it could pass for that one (a refused write taken for a done one) or join it into
    // one that looks whole. The line is let go quiet first.
    if (m_lineUnsure) SkipLateReply();
    m_lineUnsure = false;
    // What is waiting now came before the request, so it cannot answer it: the rest of a reply that was
    // ended too soon, or one that came after its wait had given up.
    m_link.DiscardInput();
    // A byte that could not be written (an unplugged adapter, a stalled line) makes the request
    // incomplete: it is reported, never counted as sent.
    m_lastSentAt = m_now();
    if (m_link.Transmit(request) != static_cast<std::int32_t>(request.size())) {
        m_log.Text("Error while sending data\r\n");
        Failed(outcome, Outcome::Kind::kNoAnswer, "a byte of the request could not be written");
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
// - a reply that could also begin a longer one, after longer than the port may hold bytes back (a USB
//   adapter hands them over at its timer's ticks) and two character times more; never before an
//   interval has passed since the first byte;
// - a part (a reply shorter than any whole one, a text that has neither reached its end nor filled its
//   field), after as long as the read waits for its first byte: a device may pause inside a reply, and
//   a part is never whole, so waiting on costs time only when the reply is short after all.
DeviceSession::ReplyBytes DeviceSession::AwaitReply(std::int32_t pollCount, std::int32_t intervalMs,
                                                    const ReplyShape& shape, Outcome& outcome) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::microseconds;
    const auto start = m_now();
    const microseconds half{std::int64_t{intervalMs} * 1000 / 2};
    const microseconds interval{std::int64_t{intervalMs} * 1000};
    const microseconds character = CharacterTime(m_link.Baud());
    const auto until = [this](Clock::time_point when) {
        return std::max(microseconds(0), std::chrono::ceil<microseconds>(when - m_now()));
    };
    auto firstBy =
        start + character * static_cast<std::int64_t>(m_requestBytes) + half * (2 * std::int64_t{pollCount});
    // A wait that wakes well past its end means this thread was held up (a loaded machine stops whole
    // processes, and a simulated device with them): the far end may not have run either, so the quiet it
    // seemed to keep proves nothing and is watched again from the wake. A few times at most per reply, so
    // that waits that always wake late (a busy window) still end.
    int watchedAgain = 0;
    const auto heldUp = [&](Clock::time_point end) {
        const auto now = m_now();
        if (now - end <= SerialLink::kWakeSlack || watchedAgain == kMostWatchedAgain) return false;
        ++watchedAgain;
        return true;
    };
    while (m_link.InputCount() <= 0) {
        if (pollCount == 0) {
            m_inputWait(m_link, interval);
            continue;
        }
        if (m_now() >= firstBy) {
            m_sleep(static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(firstBy + half - m_now()).count()));
            m_log.Text("Timed out waiting for response\r\n", true);
            Failed(outcome, Outcome::Kind::kNoAnswer, "no reply");
            return std::nullopt;
        }
        if (m_inputWait(m_link, until(firstBy)) || !heldUp(firstBy)) continue;
        firstBy = m_now() + std::max<microseconds>(half, m_link.HoldTime());
    }

    auto first = m_now();
    const auto quiet = 2 * character;
    const auto held = m_link.HoldTime() + quiet;
    const auto partPause = std::max<microseconds>(held, interval * std::int64_t{pollCount});
    auto lastByte = first;
    std::size_t have = 0;
    m_reply.fill(0);  // no decoder may see a byte of an earlier reply
    for (;;) {
        const std::optional<std::int32_t> got =
            m_link.Receive(std::span(m_reply).subspan(have), static_cast<std::int32_t>(kReplySize - have),
                           SerialLink::Tracing::kUntraced);
        if (!got) {
            outcome.Note(Outcome::Kind::kNoAnswer, "the reply could not be read");
            break;
        }
        const auto now = m_now();
        if (*got > 0) {
            have += static_cast<std::size_t>(*got);
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
                wakeAt = std::max(first + interval, lastByte + partPause);
                break;
        }
        if (now >= wakeAt) break;
        if (!m_inputWait(m_link, until(wakeAt)) && heldUp(wakeAt)) lastByte = first = m_now();
    }
    m_link.TraceReceived(std::span(m_reply).first(have));
    if (have == 0) outcome.Note(Outcome::Kind::kNoAnswer, "no reply");
    return std::span<const std::uint8_t>(m_reply).first(have);
}

std::span<const std::uint8_t> DeviceSession::Reply(std::int32_t n) const {
    return std::span<const std::uint8_t>(m_reply).first(
        static_cast<std::size_t>(std::clamp(n, std::int32_t{0}, static_cast<std::int32_t>(kReplySize))));
}

// None when the request did not go out, else as AwaitReply.
DeviceSession::ReplyBytes DeviceSession::Exchange(std::span<const std::uint8_t> request, const ReplyShape& shape,
                                                  Outcome& outcome, std::int32_t pollCount,
                                                  std::int32_t intervalMs) {
    if (!SendRequest(request, outcome)) return std::nullopt;
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
    const ReplyBytes reply = Exchange(request, kStatusReply, reading.outcome);
    reading.value = protocol::DecodeSettingReply(command, Bytes(reply), Count(reply), m_log);
    if (!reading.value) Refused(reading.outcome, reply);
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
    const ReplyBytes reply = Exchange(*request, kStatusReply, outcome);
    NoteWrite(outcome, reply, protocol::CheckWriteReply(command, *request, Bytes(reply), Count(reply), m_log));
    return Ended(std::move(outcome));
}

Reading<std::string> DeviceSession::ReadText(const protocol::DeviceCommand& command) {
    Reading<std::string> reading;
    const auto request = protocol::BeginGet(command, m_log);
    const ReplyBytes reply =
        Exchange(request, TextReply(command), reading.outcome, kTextReadPollCount, kTextReadIntervalMs);
    reading.value = protocol::DecodeTextReply(command, Bytes(reply), Count(reply), m_log);
    if (!reading.value) Refused(reading.outcome, reply);
    return Ended(std::move(reading));
}

Outcome DeviceSession::WriteText(const protocol::DeviceCommand& command, const std::string& text) {
    Outcome outcome;
    const std::vector<std::uint8_t> request = protocol::BeginTextWrite(command, text, m_log);
    const ReplyBytes reply = Exchange(request, kStatusReply, outcome);
    NoteWrite(outcome, reply, protocol::CheckWriteReply(command, request, Bytes(reply), Count(reply), m_log));
    return Ended(std::move(outcome));
}

// The PLL exchange runs whatever the home number exchange gave; the port stays open between the two.
Outcome DeviceSession::WriteHomeNumber(std::int32_t homeNumber, const table::Codes& codes,
                                       const std::string& pllTx, const std::string& pllRx) {
    Outcome outcome;
    m_log.Text("Sending Home Number write request:\r\n");
    if (SendRequest(table::HomeNumberWriteRequest(homeNumber, codes), outcome)) {
        const ReplyBytes reply = Await(kHomeNumberStatusReply, outcome);
        NoteWrite(outcome, reply,
                  table::ReportWriteReply(table::kHomeNumberCode, Bytes(reply), Count(reply), m_log));
    }
    if (homeNumber <= table::kPllHomeNumbers) {
        m_log.Text("Sending PLL Write request:\r\n");
        const auto request =
            table::PllWriteRequest(homeNumber, table::PllWireValue(pllTx), table::PllWireValue(pllRx));
        if (SendRequest(request, outcome)) {
            const ReplyBytes reply = Await(kHomeNumberStatusReply, outcome);
            NoteWrite(outcome, reply, table::ReportWriteReply(table::kPllCode, Bytes(reply), Count(reply), m_log));
        }
    }
    return Ended(std::move(outcome));
}

Reading<HomeNumberReading> DeviceSession::ReadHomeNumber(std::int32_t homeNumber) {
    Reading<HomeNumberReading> reading;
    HomeNumberReading& read = reading.value.emplace();
    m_log.Text("Sending Home Number Read request:\r\n");
    if (SendRequest(table::HomeNumberReadRequest(homeNumber), reading.outcome)) {
        const ReplyBytes reply = Await(kHomeNumberCodesReply, reading.outcome);
        read.codes = table::ReportHomeNumberRead(Bytes(reply), Count(reply), m_log);
        if (!read.codes) Refused(reading.outcome, reply);
    }
    if (homeNumber <= table::kPllHomeNumbers &&
        SendRequest(table::PllReadRequest(homeNumber), reading.outcome)) {
        m_log.Text("Sending PLL Read request:\r\n");
        const ReplyBytes reply = Await(kPllValuesReply, reading.outcome);
        read.pll = table::ReportPllRead(Bytes(reply), Count(reply), m_log);
        if (!read.pll) Refused(reading.outcome, reply);
    }
    return Ended(std::move(reading));
}
