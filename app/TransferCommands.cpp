// Write All, Read All and Verify: every row of the table exchanged with the device on a worker thread,
// then the settings, by the device session. The worker reaches the window only through DialogControls, whose calls
// run on the window's thread, so the window stays responsive throughout.
#include <string>
#include <string_view>

#include "app/ControlIds.h"
#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"

namespace {

std::optional<std::thread> StartThread(std::function<void()> body) {
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error&) {
        return std::nullopt;  // the system has no thread to give
    }
}

}  // namespace

// The progress bar shows how far the run has come; a stop asked for on the window's thread ends it.
class RadioConfigDialog::TransferProgress : public DeviceSession::Progress {
public:
    explicit TransferProgress(RadioConfigDialog& dialog) : m_dialog(dialog) {}
    void RowsDone(std::int32_t rows) override {
        const std::int32_t total = m_dialog.m_rowCount;
        m_dialog.m_controls.SetProgress(ctl::kTransferProgress, rows, total,
                                        std::to_string(rows) + " of " + std::to_string(total));
    }
    void SettingsNext() override {
        m_dialog.m_controls.SetProgress(ctl::kTransferProgress, m_dialog.m_rowCount, m_dialog.m_rowCount,
                                        "Settings");
    }
    bool StopRequested() override { return m_dialog.m_stopRequested; }

private:
    RadioConfigDialog& m_dialog;
};

void RadioConfigDialog::OnWriteAll() {
    LockCommands();
    if (!m_controls.AskYesNo(
            "This will replace all Home Numbers on the device\r\nwith the current table.  Do you "
            "wish to\r\ncontinue?",
            "Overwrite Warning")) {
        UnlockCommands();
        return;
    }
    StartTransfer(Transfer::kWriteAll);
}

void RadioConfigDialog::OnReadAll() {
    if (!m_controls.AskYesNo("This will delete your current table.\r\nDo you wish to continue?",
                             "Read All Notice")) {
        return;
    }
    LockCommands();
    StartTransfer(Transfer::kReadAll);
}

void RadioConfigDialog::OnVerify() {
    LockCommands();
    StartTransfer(Transfer::kVerify);
}

// The flags are set before the thread exists, so that the window cannot close in between.
void RadioConfigDialog::StartTransfer(Transfer transfer) {
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
    const auto body = [this, transfer] {
        RunTransfer(transfer);
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
    // Nothing was exchanged: nobody may take the table as read.
    m_transferOutcome = {Outcome::Kind::kRefused, "no thread"};
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

// On the worker's thread.
void RadioConfigDialog::RunTransfer(Transfer transfer) {
    TransferProgress progress(*this);
    switch (transfer) {
        case Transfer::kWriteAll:
            m_transferOutcome = m_session.WriteAll(m_table, m_settings, progress);
            break;
        case Transfer::kReadAll:
            m_transferOutcome = m_session.ReadAll(m_table, m_settings, progress);
            break;
        case Transfer::kVerify:
            m_transferOutcome = m_session.Verify(m_table, m_settings, progress).outcome;
            break;
    }
}
