#include "device/DeviceSession.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "protocol/SettingExchange.h"
#include "serial/PortDiscovery.h"
#include "table/HomeNumberExchange.h"

namespace {

constexpr std::string_view kEnding = "Ending process due to errors\r\n";
constexpr std::string_view kTooManyErrors = "More than 5 errors have occurred.\r\nEnding process.\r\n";
constexpr int kErrorLimit = 5;

Outcome::Kind WriteReplyKind(protocol::ReplyOutcome reply) {
    if (reply == protocol::ReplyOutcome::kSucceeded) return Outcome::Kind::kDone;
    return reply == protocol::ReplyOutcome::kNoReply ? Outcome::Kind::kNoAnswer : Outcome::Kind::kRefused;
}

// A report gathered and appended as one piece when it ends: the window's log takes each append as a call
// to its own thread, and one report line of a transfer is made of up to seven pieces. The log reads the
// same. A text that clears the log, or pauses, goes out at once, after what was gathered before it.
class GatheringSink : public LogSink {
public:
    explicit GatheringSink(LogSink& out) : m_out(out) {}
    ~GatheringSink() override { Flush(false); }
    GatheringSink(const GatheringSink&) = delete;
    GatheringSink& operator=(const GatheringSink&) = delete;
    void Text(std::string_view text, bool pause) override {
        const std::string_view shown = text.substr(0, text.find('\0'));
        if (shown.empty() || pause) {
            Flush(false);
            m_out.Text(text, pause);
            return;
        }
        m_gathered.append(shown);
    }
    void Number(std::int32_t value, bool pause) override {
        m_gathered.append(std::to_string(value));
        if (pause) Flush(true);
    }
    void String(const std::string& text, bool pause) override {
        m_gathered.append(text);
        if (pause) Flush(true);
    }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
        m_gathered.append(HexDigits(bytes, count));
    }

private:
    void Flush(bool pause) {
        if (m_gathered.empty()) return;
        m_out.String(m_gathered, pause);
        m_gathered.clear();
    }
    LogSink& m_out;
    std::string m_gathered;
};

// The settings a Write All writes after the rows, and those a Read All reads, in their order.
enum class SettingStep { kSet, kWriteText, kGet, kReadText };
struct TransferSetting {
    const protocol::DeviceCommand& command;
    SettingStep step;
    // A text whose panel text is empty is left as the device has it, rather than erased by accident; the
    // text's own Write button still sends an empty text.
    std::string_view keptWhenEmpty{};
};
const std::array<TransferSetting, 6> kWrittenSettings{{
    {protocol::kDisp, SettingStep::kSet},
    {protocol::kSquelch, SettingStep::kSet},
    {protocol::kWideBand, SettingStep::kSet},
    {protocol::kSerialNumber, SettingStep::kWriteText, "Serial Number left as it is: the edit is empty\r\n"},
    {protocol::kUserDescription, SettingStep::kWriteText,
     "User Description left as it is: the edit is empty\r\n"},
    {protocol::kDtmfDelay, SettingStep::kSet},
}};
const std::array<TransferSetting, 8> kReadSettings{{
    {protocol::kWideBand, SettingStep::kGet},
    {protocol::kDisp, SettingStep::kGet},
    {protocol::kSquelch, SettingStep::kGet},
    {protocol::kMinVolume, SettingStep::kGet},
    {protocol::kSerialNumber, SettingStep::kReadText},
    {protocol::kUserDescription, SettingStep::kReadText},
    {protocol::kRadioMfg, SettingStep::kGet},
    {protocol::kDtmfDelay, SettingStep::kGet},
}};

// The line Write All logs for a row it cannot send as it stands (without its line end), or none.
std::optional<std::string> RowRefusal(const table::HomeNumberTable& table, std::int32_t position) {
    const table::TableRow row = table.Row(position);
    const std::int32_t homeNumber = position + 1;
    const bool withPll = homeNumber <= table::kPllHomeNumbers;
    const auto refusal = table::RowRefusal(table::CodesForSending(row.tx, row.rx), withPll ? row.pllTx : "",
                                           withPll ? row.pllRx : "", withPll);
    if (!refusal) return std::nullopt;
    std::string line = "Home Number " + std::to_string(homeNumber) + " not written: " + std::string(*refusal);
    while (line.ends_with("\r\n")) line.resize(line.size() - 2);
    return line;
}

}  // namespace

void Outcome::Note(Kind worse, std::string why) {
    if (worse <= kind) return;
    kind = worse;
    reason = std::move(why);
}

std::vector<std::string> WriteAllRefusals(const table::HomeNumberTable& table, SettingsPanel& settings) {
    std::vector<std::string> refusals;
    for (std::int32_t position = 0; position < table.RowCount(); ++position) {
        if (auto refusal = RowRefusal(table, position)) refusals.push_back(std::move(*refusal));
    }
    for (const TransferSetting& setting : kWrittenSettings) {
        const protocol::DeviceCommand& command = setting.command;
        if (setting.step == SettingStep::kSet) {
            std::string_view refusal = protocol::SetRefusal(command, settings.Value(command));
            while (refusal.ends_with("\r\n")) refusal.remove_suffix(2);
            if (!refusal.empty()) refusals.push_back(std::string(command.name) + ": " + std::string(refusal));
        } else if (const std::size_t length = settings.Text(command).size(); length > command.set.fieldSize) {
            refusals.push_back(std::string(command.name) + ": " + std::to_string(length) +
                               " characters, more than the " + std::to_string(command.set.fieldSize) +
                               " its field holds");
        }
    }
    return refusals;
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

namespace {

constexpr ReplyShape kStatusReply{ReplyShape::Kind::kFixed, 3};
constexpr ReplyShape kHomeNumberStatusReply{ReplyShape::Kind::kFixed, 5};
constexpr ReplyShape kPllValuesReply{ReplyShape::Kind::kFixed, 8};
constexpr ReplyShape kHomeNumberCodesReply{ReplyShape::Kind::kHomeNumberCodes, 10};
ReplyShape TextReply(const protocol::DeviceCommand& command) {
    return {ReplyShape::Kind::kText, 2 + command.set.fieldSize};
}

}  // namespace

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

// --- the transfers ---

// How a transfer's rows ended.
struct DeviceSession::RowsEnd {
    std::int32_t firstUndone = 0;  // the first home number the run did not complete; above the rows: none
    std::int32_t pllEndedAt = 0;   // the home number whose PLL exchange went unanswered, ending them; 0: none
    bool pllFailed = false;        // a PLL exchange of a completed row that did not succeed
    int skippedRows = 0;           // rows not sent: their cells could not go to the device as they stand
};

// A stop asked for ends the run here, before its next request, without the settings.
bool DeviceSession::EndedByStop(Progress& progress, std::int32_t rowsDone, std::string_view stopped) {
    progress.RowsDone(rowsDone);
    if (!progress.StopRequested()) return false;
    m_link.Disconnect();
    m_log.Text(stopped);
    return true;
}

// After a request of the row loop: the run ends when it did not go out, or when more than five errors
// came before it (the request has gone out then, and its reply is not waited for).
bool DeviceSession::GoesOn(bool sent, int errors, Outcome& outcome) {
    if (sent && errors <= kErrorLimit) return true;
    m_log.Text(sent ? kTooManyErrors : kEnding);
    outcome.Note(Outcome::Kind::kRefused);
    return false;
}

// A row's write is repeated until it succeeds; more than five failures in a row end the run. A row whose
// cells the device could not be given as they stand is not sent at all.
Outcome DeviceSession::WriteAll(const table::HomeNumberTable& table, SettingsPanel& settings,
                                Progress& progress) {
    constexpr std::string_view kStopped = "Write All stopped\r\n";
    Outcome outcome;
    int errors = 0;
    bool pllEnabled = true;
    RowsEnd end;
    const std::int32_t rowCount = table.RowCount();
    std::int32_t position = 0;
    while (position < rowCount) {
        const std::int32_t homeNumber = position + 1;
        if (EndedByStop(progress, position, kStopped)) break;
        const table::TableRow row = table.Row(position);
        const table::Codes codes = table::CodesForSending(row.tx, row.rx);
        const bool withPll = homeNumber <= table::kPllHomeNumbers;
        const std::string pllTx = withPll ? row.pllTx : "";
        const std::string pllRx = withPll ? row.pllRx : "";
        if (const auto refusal = RowRefusal(table, position)) {
            m_log.Text(*refusal + "\r\n");
            ++end.skippedRows;
            ++position;
            continue;
        }
        if (!GoesOn(SendRequest(table::HomeNumberWriteRequest(homeNumber, codes), outcome), errors,
                    outcome)) {
            break;
        }
        std::int32_t n = Await(kHomeNumberStatusReply, outcome);
        if (n <= 0 || [&] {
                GatheringSink log(m_log);
                return table::ReportWriteReply(table::kHomeNumberCode, Reply(n), n, log);
            }() != protocol::ReplyOutcome::kSucceeded) {
            ++errors;
            continue;
        }
        errors = 0;
        if (pllEnabled && withPll) {
            if (progress.StopRequested()) continue;  // caught at the top, before any further request
            bool stored = false;
            const auto request =
                table::PllWriteRequest(homeNumber, table::PllWireValue(pllTx), table::PllWireValue(pllRx));
            if (SendRequest(request, outcome)) {
                n = Await(kHomeNumberStatusReply, outcome);
                if (n <= 0) {
                    pllEnabled = false;
                    end.pllEndedAt = homeNumber;
                } else {
                    GatheringSink log(m_log);
                    stored = table::ReportTransferPllWriteReply(Reply(n), n, log);
                }
            }
            if (!stored) end.pllFailed = true;
        }
        ++position;
    }
    end.firstUndone = position + 1;
    if (FinishRows(end, rowCount, "written", outcome)) {
        RunSettings<TransferSetting>(kWrittenSettings, settings, progress, kStopped, outcome);
    }
    return outcome;
}

// Every failure of the run counts; the first request after the sixth ends it. A row that was not read is
// read again, both its exchanges; so is a row whose reply named another home number (that one is filled).
Outcome DeviceSession::ReadAll(table::HomeNumberTable& table, SettingsPanel& settings, Progress& progress) {
    constexpr std::string_view kStopped = "Read All stopped\r\n";
    Outcome outcome;
    int errors = 0;
    bool pllEnabled = true;
    RowsEnd end;
    const std::int32_t rowCount = table.RowCount();
    std::int32_t position = 0;
    while (position < rowCount) {
        const std::int32_t homeNumber = position + 1;
        if (EndedByStop(progress, position, kStopped)) break;
        bool rowDone = false;
        if (!GoesOn(SendRequest(table::HomeNumberReadRequest(homeNumber), outcome), errors, outcome)) break;
        std::int32_t n = Await(kHomeNumberCodesReply, outcome);
        if (auto read = n > 0 ? table::ReportTransferHomeNumberRead(Reply(n), n, m_log) : std::nullopt) {
            table.SetRow(read->homeNumber, read->codes.tx, read->codes.rx);
            table.SetChanged(true);
            rowDone = read->homeNumber == homeNumber;
        }
        if (!rowDone) ++errors;
        bool pllRead = false;
        const bool withPll = homeNumber <= table::kPllHomeNumbers && pllEnabled;
        if (withPll) {
            if (progress.StopRequested()) continue;
            if (!GoesOn(SendRequest(table::PllReadRequest(homeNumber), outcome), errors, outcome)) break;
            n = Await(kPllValuesReply, outcome);
            if (n < 0) {
                pllEnabled = false;
                end.pllEndedAt = homeNumber;
            } else if (n > 0) {
                GatheringSink log(m_log);
                if (table::CheckReadHeader(table::kPllCode, Reply(n), n, log)) {
                    if (const auto pll = table::PllReadBody(Reply(n), n)) {
                        const std::uint16_t echoed = table::EchoedHomeNumber(Reply(n), n);
                        table.SetPll(echoed, pll->tx, pll->rx);
                        pllRead = echoed == homeNumber;
                    } else {
                        table::ReportUnrecognisedLength(Reply(n), n, log);
                    }
                }
            }
        }
        if (!rowDone) continue;
        // A row read whole but whose PLL values did not come: its PLL cells are not the device's.
        if (withPll && pllEnabled && !pllRead) end.pllFailed = true;
        ++position;
    }
    end.firstUndone = position + 1;
    if (FinishRows(end, rowCount, "read", outcome)) {
        RunSettings<TransferSetting>(kReadSettings, settings, progress, kStopped, outcome);
    }
    return outcome;
}

// The rows are over: the port is closed, and what the run left undone is said before the settings, which
// follow only when every row went through (an early end leaves the device's texts and settings alone).
bool DeviceSession::FinishRows(const RowsEnd& end, std::int32_t rowCount, std::string_view done,
                               Outcome& outcome) {
    m_link.Disconnect();
    const bool complete = end.firstUndone > rowCount;
    if (complete) outcome = {};  // every row went through, some maybe after a retry
    const std::string verb(done);
    if (!complete) {
        m_log.Text("Home numbers not " + verb + ": " + std::to_string(end.firstUndone) + " to " +
                   std::to_string(rowCount) + "\r\n");
    }
    if (end.pllEndedAt > 0) {
        m_log.Text("PLL values not " + verb + " for home numbers " + std::to_string(end.pllEndedAt) + " to " +
                   std::to_string(table::kPllHomeNumbers) + "\r\n");
    }
    if (end.skippedRows > 0) m_log.Text("Rows not written: " + std::to_string(end.skippedRows) + "\r\n");
    if (end.pllEndedAt > 0 || end.pllFailed || end.skippedRows > 0) {
        outcome.Note(Outcome::Kind::kRefused, "some rows did not go through whole");
    }
    return complete;
}

template <class Step>
void DeviceSession::RunSettings(std::span<const Step> steps, SettingsPanel& settings, Progress& progress,
                                std::string_view stopped, Outcome& outcome) {
    for (const TransferSetting& setting : steps) {
        progress.SettingsNext();
        if (progress.StopRequested()) {
            m_log.Text(stopped);
            return;
        }
        const protocol::DeviceCommand& command = setting.command;
        switch (setting.step) {
            case SettingStep::kSet: {
                const Outcome set = Set(command, settings.Value(command));
                outcome.Note(set.kind, set.reason);
                break;
            }
            case SettingStep::kWriteText: {
                const std::string text = settings.Text(command);
                if (text.empty() && !setting.keptWhenEmpty.empty()) {
                    m_log.Text(setting.keptWhenEmpty);
                    break;
                }
                const Outcome written = WriteText(command, text);
                outcome.Note(written.kind, written.reason);
                break;
            }
            case SettingStep::kGet: {
                const Reading<std::int32_t> got = Get(command);
                if (got.value) settings.ShowValue(command, *got.value);
                outcome.Note(got.outcome.kind, got.outcome.reason);
                break;
            }
            case SettingStep::kReadText: {
                const Reading<std::string> read = ReadText(command);
                if (read.value) settings.ShowText(command, *read.value);
                outcome.Note(read.outcome.kind, read.outcome.reason);
                break;
            }
        }
    }
}
