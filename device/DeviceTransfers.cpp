// The transfers: every row of the table to the device or from it, then the settings, as one run that a
// stop ends before its next request.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceSession.h"
#include "device/ReplyShapes.h"
#include "protocol/SettingExchange.h"
#include "table/HomeNumberExchange.h"

namespace {

constexpr std::string_view kEnding = "Ending process due to errors\r\n";
constexpr std::string_view kTooManyErrors = "More than 5 errors have occurred.\r\nEnding process.\r\n";
constexpr int kErrorLimit = 5;

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
    Failed(outcome, Outcome::Kind::kRefused);
    if (sent) {
        SkipLateReply();
        m_lineUnsure = true;  // what is later still, the next request waits out
    }
    return false;
}

// The reply to a request that went out may still come after the run has ended: taken off the line
// here, it cannot be read as the answer to what the port is asked next (the port is opened again, and
// the device's reply would reach it after the next request's look for bytes waiting). What comes is
// dropped until the line has been quiet for as long as a reply may take, and until twice that has
// passed since the latest request went out: an exchange that failed early (on bytes of an older
// reply) leaves its own reply to come as late as one that timed out.
void DeviceSession::SkipLateReply() {
    constexpr int kMostPieces = 64;  // a device that never stops sending is left to the next discard
    const std::chrono::microseconds replyTime{std::int64_t{kPollCount} * kIntervalMs * 1000};
    const auto settled = m_lastSentAt + 2 * replyTime;
    for (int piece = 0; piece < kMostPieces; ++piece) {
        const auto untilSettled = std::chrono::ceil<std::chrono::microseconds>(settled - m_now());
        if (!m_inputWait(m_link, std::max(replyTime, untilSettled))) return;
        m_link.DiscardInput();
    }
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
    std::int32_t attempted = -1;  // the row last sent: sent again, it is a retry
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
            ++m_errors;
            ++end.skippedRows;
            ++position;
            continue;
        }
        Attempt(position, attempted);
        if (!GoesOn(SendRequest(table::HomeNumberWriteRequest(homeNumber, codes), outcome), errors,
                    outcome)) {
            break;
        }
        ReplyBytes reply = Await(kHomeNumberStatusReply, outcome);
        const bool came = reply && !reply->empty();
        const protocol::ReplyOutcome written =
            came ? table::ReportWriteReply(table::kHomeNumberCode, Bytes(reply), Count(reply), m_log)
                 : protocol::ReplyOutcome::kNoReply;
        if (written != protocol::ReplyOutcome::kSucceeded) {
            if (came) ++m_errors;
            // A refusal is a whole reply; anything else may have left bytes on their way.
            if (came && written != protocol::ReplyOutcome::kFailed) m_lineUnsure = true;
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
                reply = Await(kHomeNumberStatusReply, outcome);
                if (!reply || reply->empty()) {
                    pllEnabled = false;
                    end.pllEndedAt = homeNumber;
                } else {
                    stored = table::ReportTransferPllWriteReply(Bytes(reply), Count(reply), m_log);
                    if (!stored) {
                        ++m_errors;
                        m_lineUnsure = true;
                    }
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
    std::int32_t attempted = -1;  // the row last sent: sent again, it is a retry
    while (position < rowCount) {
        const std::int32_t homeNumber = position + 1;
        if (EndedByStop(progress, position, kStopped)) break;
        bool rowDone = false;
        Attempt(position, attempted);
        if (!GoesOn(SendRequest(table::HomeNumberReadRequest(homeNumber), outcome), errors, outcome)) break;
        ReplyBytes reply = Await(kHomeNumberCodesReply, outcome);
        const bool came = reply && !reply->empty();
        if (auto read = came ? table::ReportTransferHomeNumberRead(Bytes(reply), Count(reply), m_log)
                             : std::nullopt) {
            table.SetRow(read->homeNumber, read->codes.tx, read->codes.rx);
            table.SetChanged(true);
            rowDone = read->homeNumber == homeNumber;
        }
        if (!rowDone) {
            if (came) {
                ++m_errors;
                m_lineUnsure = true;
            }
            ++errors;
        }
        bool pllRead = false;
        const bool withPll = homeNumber <= table::kPllHomeNumbers && pllEnabled;
        if (withPll) {
            if (progress.StopRequested()) continue;
            if (!GoesOn(SendRequest(table::PllReadRequest(homeNumber), outcome), errors, outcome)) break;
            reply = Await(kPllValuesReply, outcome);
            if (!reply) {
                pllEnabled = false;
                end.pllEndedAt = homeNumber;
            } else if (!reply->empty()) {
                const std::span<const std::uint8_t> bytes = *reply;
                const std::int32_t n = Count(reply);
                if (table::CheckReadHeader(table::kPllCode, bytes, n, m_log)) {
                    if (const auto pll = table::PllReadBody(bytes, n)) {
                        const std::uint16_t echoed = table::EchoedHomeNumber(bytes, n);
                        table.SetPll(echoed, pll->tx, pll->rx);
                        pllRead = echoed == homeNumber;
                    } else {
                        table::ReportUnrecognisedLength(bytes, n, m_log);
                    }
                }
                if (!pllRead) {
                    ++m_errors;
                    m_lineUnsure = true;
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
        ++m_errors;
        m_log.Text("Home numbers not " + verb + ": " + std::to_string(end.firstUndone) + " to " +
                   std::to_string(rowCount) + "\r\n");
    }
    if (end.pllEndedAt > 0) {
        ++m_errors;
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
                outcome.Note(Set(command, settings.Value(command)));
                break;
            }
            case SettingStep::kWriteText: {
                const std::string text = settings.Text(command);
                if (text.empty() && !setting.keptWhenEmpty.empty()) {
                    m_log.Text(setting.keptWhenEmpty);
                    break;
                }
                outcome.Note(WriteText(command, text));
                break;
            }
            case SettingStep::kGet: {
                const Reading<std::int32_t> got = Get(command);
                if (got.value) settings.ShowValue(command, *got.value);
                outcome.Note(got.outcome);
                break;
            }
            case SettingStep::kReadText: {
                const Reading<std::string> read = ReadText(command);
                if (read.value) settings.ShowText(command, *read.value);
                outcome.Note(read.outcome);
                break;
            }
        }
    }
}
