// Write All and Read All: every row of the table exchanged with the device on a worker thread, then the
// settings through the window's own handlers. The worker reaches the window only through
// DialogControls, whose calls run on the window's thread, so the window stays responsive throughout.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "app/ControlIds.h"
#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"
#include "table/HomeNumberExchange.h"

namespace {

constexpr std::string_view kEnding = "Ending process due to errors\r\n";
constexpr std::string_view kTooManyErrors = "More than 5 errors have occurred.\r\nEnding process.\r\n";
constexpr int kErrorLimit = 5;

using D = RadioConfigDialog;
constexpr std::array<void (D::*)(), 6> kWrittenSettings{
    &D::OnDispSet,           &D::OnSquelchSet,           &D::OnWideBandSet,
    &D::OnSerialNumberWrite, &D::OnUserDescriptionWrite, &D::OnDtmfDelaySet};
constexpr std::array<void (D::*)(), 8> kReadSettings{&D::OnWideBandGet,      &D::OnDispGet,
                                                     &D::OnSquelchGet,       &D::OnMinVolumeGet,
                                                     &D::OnSerialNumberRead, &D::OnUserDescriptionRead,
                                                     &D::OnRadioMfgGet,      &D::OnDtmfDelayGet};

// Write All leaves a device's text alone when its edit is empty, rather than erase it by accident; the
// text's own Write button still sends an empty text.
struct KeptWhenEmpty {
    void (D::*handler)();
    int edit;
    std::string_view line;
};
constexpr std::array<KeptWhenEmpty, 2> kKeptWhenEmpty{{
    {&D::OnSerialNumberWrite, ctl::kSerialNumberEdit, "Serial Number left as it is: the edit is empty\r\n"},
    {&D::OnUserDescriptionWrite, ctl::kUserDescriptionEdit,
     "User Description left as it is: the edit is empty\r\n"},
}};

std::optional<std::thread> StartThread(std::function<void()> body) {
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error&) {
        return std::nullopt;  // the system has no thread to give
    }
}

}  // namespace

void RadioConfigDialog::OnWriteAll() {
    LockCommands();
    if (!m_controls.AskYesNo(
            "This will replace all Home Numbers on the device\r\nwith the current table.  Do you "
            "wish to\r\ncontinue?",
            "Overwrite Warning")) {
        UnlockCommands();
        return;
    }
    StartTransfer(&RadioConfigDialog::WriteAllWorker);
}

void RadioConfigDialog::OnReadAll() {
    if (!m_controls.AskYesNo("This will delete your current table.\r\nDo you wish to continue?",
                             "Read All Notice")) {
        return;
    }
    LockCommands();
    StartTransfer(&RadioConfigDialog::ReadAllWorker);
}

// The flags are set before the thread exists, so that the window cannot close in between.
void RadioConfigDialog::StartTransfer(void (RadioConfigDialog::*worker)()) {
    if (m_worker.joinable()) m_worker.join();  // the last run has ended; its thread is only returning
    m_workerFlag = true;
    m_threadActive = true;
    m_stopRequested = false;
    m_afterStop = AfterStop::kStayOpen;
    m_controls.EnableWindow(ctl::kStop, true);
    m_controls.SetProgress(ctl::kTransferProgress, 0, m_rowCount, "");
    m_controls.ShowWindow(ctl::kTransferProgress, true);
    // The run ends in one unit on the window's thread: once the lock is off, a new run may start at once,
    // and it finds this thread with nothing left to do but return.
    const auto body = [this, worker] {
        (this->*worker)();
        m_controls.RunAsUnit([this] {
            m_workerFlag = false;
            m_controls.ShowWindow(ctl::kTransferProgress, false);
            m_controls.EnableWindow(ctl::kStop, false);
            ReleaseLock();
            if (ClosesAfterStop()) m_controls.EndDialog(ctl::kIdCancel);
            m_threadActive = false;  // the last the thread does with the window
        });
    };
    std::optional<std::thread> thread = m_threadStart ? m_threadStart(body) : StartThread(body);
    if (thread) {
        m_worker = std::move(*thread);
        return;
    }
    LogText("The transfer could not be started: the system has no thread to give it\r\n");
    NoteOutcome(Outcome::kRefused);  // nothing was exchanged: a caller must not take the table as read
    m_workerFlag = false;
    m_threadActive = false;
    m_controls.ShowWindow(ctl::kTransferProgress, false);
    m_controls.EnableWindow(ctl::kStop, false);
    UnlockCommands();
}

void RadioConfigDialog::StopTransfer(AfterStop after) {
    m_stopRequested = true;
    if (after == AfterStop::kStayOpen) return;
    m_controls.RunAsUnit([this, after] {
        if (m_afterStop != AfterStop::kClose) m_afterStop = after;  // closing without a question wins
        if (!m_threadActive && ClosesAfterStop()) m_controls.EndDialog(ctl::kIdCancel);
    });
}

// On the window's thread, once the run is over: whether the window is to close now. The question about
// unsaved rows runs a loop of its own, during which a stop signal may still ask to close without one.
bool RadioConfigDialog::ClosesAfterStop() {
    if (m_afterStop == AfterStop::kCloseIfChangesMayGo && !UnsavedChangesMayGo()) {
        return m_afterStop == AfterStop::kClose;
    }
    return m_afterStop != AfterStop::kStayOpen;
}

// The window closes during a transfer only after the operator agreed to stop it; it then closes once the
// worker has ended, after the usual question when the table has unsaved rows.
bool RadioConfigDialog::CloseAllowedDuringTransfer() {
    if (!m_threadActive) return true;
    if (m_controls.AskYesNo("A transfer is running. Stop it and close the window?", kProgramName)) {
        StopTransfer(AfterStop::kCloseIfChangesMayGo);
    }
    return false;
}

// Shows how far the run has come, and tells whether it is to end before its next request.
bool RadioConfigDialog::TransferStopping(int rowsDone) {
    if (rowsDone >= 0) {
        m_controls.SetProgress(ctl::kTransferProgress, rowsDone, m_rowCount,
                               std::to_string(rowsDone) + " of " + std::to_string(m_rowCount));
    }
    return m_stopRequested;
}

void RadioConfigDialog::RunTransferSettings(std::span<void (RadioConfigDialog::*const)()> handlers,
                                            std::string_view stopped) {
    for (auto handler : handlers) {
        m_controls.SetProgress(ctl::kTransferProgress, m_rowCount, m_rowCount, "Settings");
        if (m_stopRequested) {
            LogText(stopped);
            return;
        }
        const auto kept = std::find_if(kKeptWhenEmpty.begin(), kKeptWhenEmpty.end(),
                                       [&](const KeptWhenEmpty& k) { return k.handler == handler; });
        if (kept != kKeptWhenEmpty.end() && m_controls.GetDlgItemText(kept->edit).empty()) {
            LogText(kept->line);
            continue;
        }
        (this->*handler)();
    }
}

// Runs a report into a sink that appends its lines to the log in one piece when the report is done.
template <class ReportFn>
auto RadioConfigDialog::Report(ReportFn report) {
    GatheredSink log(*this);
    return report(log);
}

// A stop asked for ends the run here, before its next request, without the settings.
bool RadioConfigDialog::EndedByStop(int rowsDone, std::string_view stopped) {
    if (!TransferStopping(rowsDone)) return false;
    m_link.Disconnect();
    LogText(stopped);
    return true;
}

// After a request of the row loop: the run ends when it did not go out, or when more than five errors
// came before it (the request has gone out then, and its reply is not waited for).
bool RadioConfigDialog::TransferGoesOn(bool sent, int errors) {
    if (sent && errors <= kErrorLimit) return true;
    LogText(sent ? kTooManyErrors : kEnding);
    NoteOutcome(Outcome::kRefused);
    return false;
}

std::span<const std::uint8_t> RadioConfigDialog::LatestReply(std::int32_t n) const {
    return std::span<const std::uint8_t>(m_reply).first(static_cast<std::size_t>(std::max(n, 0)));
}

// A row's write is repeated until it succeeds; more than five failures in a row end the run. A row whose
// cells the device could not be given as they stand is not sent at all.
void RadioConfigDialog::WriteAllWorker() {
    m_workerFlag = true;
    int errors = 0;
    bool pllEnabled = true;
    RowsEnd end;
    constexpr std::string_view kStopped = "Write All stopped\r\n";
    int position = 0;
    for (; position < m_rowCount;) {
        const std::int32_t homeNumber = position + 1;
        if (EndedByStop(position, kStopped)) break;
        const table::TableRow row = m_table.Row(position);
        const table::Codes codes = table::CodesForSending(row.tx, row.rx);
        const bool withPll = homeNumber <= table::kPllHomeNumbers;
        const std::string pllTx = withPll ? row.pllTx : "";
        const std::string pllRx = withPll ? row.pllRx : "";
        if (const auto refusal = table::RowRefusal(codes, pllTx, pllRx, withPll)) {
            std::string line =
                "Home Number " + std::to_string(homeNumber) + " not written: " + std::string(*refusal);
            if (!line.ends_with("\r\n")) line += "\r\n";
            LogText(line);
            ++end.skippedRows;
            ++position;
            continue;
        }
        if (!TransferGoesOn(SendHomeNumberWrite(homeNumber, codes.tx, codes.rx), errors)) break;
        std::int32_t n = AwaitReply(m_reply, m_pollCount, CommandCycle::kIntervalMs);
        const auto reported = [&](LogSink& log) {
            return table::ReportWriteReply(table::kHomeNumberCode, LatestReply(n), n, log);
        };
        if (n <= 0 || Report(reported) != protocol::ReplyOutcome::kSucceeded) {
            ++errors;
            continue;
        }
        errors = 0;
        if (pllEnabled && withPll) {
            if (TransferStopping(-1)) continue;  // caught at the top, before any further request
            bool stored = false;
            if (SendPllWrite(homeNumber, pllTx, pllRx)) {
                n = AwaitReply(m_reply, m_pollCount, CommandCycle::kIntervalMs);
                if (n <= 0) {
                    pllEnabled = false;
                    end.pllEndedAt = homeNumber;
                } else {
                    stored = Report([&](LogSink& log) {
                        return table::ReportTransferPllWriteReply(LatestReply(n), n, log);
                    });
                }
            }
            if (!stored) end.pllFailed = true;
        }
        ++position;
    }
    end.firstUndone = position + 1;
    if (FinishRows(end, "written")) RunTransferSettings(kWrittenSettings, kStopped);
}

// Every failure of the run counts; the first request after the sixth ends it. A row that was not read is
// read again, both its exchanges; so is a row whose reply named another home number (that one is filled).
void RadioConfigDialog::ReadAllWorker() {
    m_workerFlag = true;
    int errors = 0;
    bool pllEnabled = true;
    RowsEnd end;
    constexpr std::string_view kStopped = "Read All stopped\r\n";
    int position = 0;
    for (; position < m_rowCount;) {
        const std::int32_t homeNumber = position + 1;
        if (EndedByStop(position, kStopped)) break;
        bool rowDone = false;
        if (!TransferGoesOn(SendHomeNumberRead(homeNumber), errors)) break;
        std::int32_t n = AwaitReply(m_reply, m_pollCount, CommandCycle::kIntervalMs);
        if (auto read =
                n > 0 ? table::ReportTransferHomeNumberRead(LatestReply(n), n, m_log) : std::nullopt) {
            SetHomeNumberRow(read->homeNumber, read->codes.tx, read->codes.rx);
            m_table.SetChanged(true);
            rowDone = read->homeNumber == homeNumber;
        }
        if (!rowDone) ++errors;
        bool pllRead = false;
        const bool withPll = homeNumber <= table::kPllHomeNumbers && pllEnabled;
        if (withPll) {
            if (TransferStopping(-1)) continue;
            if (!TransferGoesOn(SendPllRead(homeNumber), errors)) break;
            n = AwaitReply(m_reply, m_pollCount, CommandCycle::kIntervalMs);
            if (n < 0) {
                pllEnabled = false;
                end.pllEndedAt = homeNumber;
            } else if (n > 0) {
                const auto pll = Report([&](LogSink& log) -> std::optional<table::PllTexts> {
                    if (!table::CheckReadHeader(table::kPllCode, LatestReply(n), n, log)) return std::nullopt;
                    auto texts = table::PllReadBody(LatestReply(n), n);
                    if (!texts) table::ReportUnrecognisedLength(LatestReply(n), n, log);
                    return texts;
                });
                if (pll) {
                    const std::uint16_t echoed = table::EchoedHomeNumber(LatestReply(n), n);
                    SetPllColumns(echoed, pll->tx, pll->rx);
                    pllRead = echoed == homeNumber;
                }
            }
        }
        if (!rowDone) continue;
        // A row read whole but whose PLL values did not come: its PLL cells are not the device's.
        if (withPll && pllEnabled && !pllRead) end.pllFailed = true;
        ++position;
    }
    end.firstUndone = position + 1;
    if (FinishRows(end, "read")) RunTransferSettings(kReadSettings, kStopped);
}

// The rows are over: the port is closed, and what the run left undone is said before the settings, which
// follow only when every row went through (an early end leaves the device's texts and settings alone).
bool RadioConfigDialog::FinishRows(const RowsEnd& end, std::string_view done) {
    m_link.Disconnect();
    const bool complete = end.firstUndone > m_rowCount;
    if (complete) ResetOutcome();  // every row went through, some maybe after a retry
    const std::string verb(done);
    if (!complete) {
        LogText("Home numbers not " + verb + ": " + std::to_string(end.firstUndone) + " to " +
                std::to_string(m_rowCount) + "\r\n");
    }
    if (end.pllEndedAt > 0) {
        LogText("PLL values not " + verb + " for home numbers " + std::to_string(end.pllEndedAt) + " to " +
                std::to_string(table::kPllHomeNumbers) + "\r\n");
    }
    if (end.skippedRows > 0) LogText("Rows not written: " + std::to_string(end.skippedRows) + "\r\n");
    if (end.pllEndedAt > 0 || end.pllFailed || end.skippedRows > 0) NoteOutcome(Outcome::kRefused);
    return complete;
}
