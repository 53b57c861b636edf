// Write All, Read All and Verify: every row of the table exchanged with the device by the device session
// on the transfer runner's thread, then the settings. The run takes the port and the settings from the
// window once, at its start, and hands back what it reads: its thread never waits on the window's.
#include <memory>
#include <string>
#include <string_view>

#include "app/ControlIds.h"
#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"

namespace {

// The settings as the window held them when the run started. What the run reads is kept here for the
// run and handed to the window's controls without waiting.
class TakenSettings : public SettingsPanel {
public:
    TakenSettings(SettingValues taken, DialogControls& controls, SettingsPanel& window)
        : m_taken(std::move(taken)), m_controls(controls), m_window(window) {}
    std::int32_t Value(const protocol::DeviceCommand& command) override { return m_taken.Value(command); }
    std::string Text(const protocol::DeviceCommand& command) override { return m_taken.Text(command); }
    void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) override {
        m_taken.ShowValue(command, value);
        m_controls.Post([&window = m_window, &command, value] { window.ShowValue(command, value); });
    }
    void ShowText(const protocol::DeviceCommand& command, const std::string& text) override {
        m_taken.ShowText(command, text);
        m_controls.Post([&window = m_window, &command, text] { window.ShowText(command, text); });
    }

private:
    SettingValues m_taken;
    DialogControls& m_controls;
    SettingsPanel& m_window;
};

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

// Everything the run needs of the window is taken here, on the window's thread.
void RadioConfigDialog::StartTransfer(Transfer transfer) {
    m_workerFlag = true;
    m_afterStop = AfterStop::kStayOpen;
    m_transferPort = DeviceSession::PortChoice{m_controls.GetDlgItemText(ctl::kSerialPortEdit),
                                               m_controls.GetDlgItemInt(ctl::kBaudEdit)};
    auto settings = std::make_shared<TakenSettings>(m_settings.Values(), m_controls, m_settings);
    m_transfer = transfer;
    m_controls.MarkRows(ctl::kHomeNumberList, {});
    // What a Read All reads is one step of the table's history, from the table as it was before it.
    if (transfer == Transfer::kReadAll) m_history.Begin(m_table);
    m_verifyRows.clear();
    const auto work = [this, transfer, settings](DeviceSession::Progress& progress) {
        switch (transfer) {
            case Transfer::kWriteAll:
                m_transferOutcome = m_session.WriteAll(m_table, *settings, progress);
                break;
            case Transfer::kReadAll:
                m_transferOutcome = m_session.ReadAll(m_table, *settings, progress);
                break;
            case Transfer::kVerify:
                m_transferOutcome = m_session.Verify(m_table, *settings, progress, &m_verifyRows).outcome;
                break;
        }
    };
    if (m_transfers.Start(m_rowCount, work, [this] { TransferEnded(); })) return;
    LogText("The transfer could not be started: the system has no thread to give it\r\n");
    // Nothing was exchanged: nobody may take the table as read.
    m_transferOutcome = Outcome::Failed(Outcome::Kind::kRefused, "no thread");
    if (transfer == Transfer::kReadAll) m_history.End(m_table);  // nothing was read: no step
    m_transferPort.reset();
    m_workerFlag = false;
    UnlockCommands();
}

// On the window's thread, after everything the run handed over: once the lock is off, a new run may
// start at once.
void RadioConfigDialog::TransferEnded() {
    if (m_transfer == Transfer::kReadAll) EndTableChange(m_table.Changed());
    // The rows the device holds otherwise stay marked until the table next changes.
    if (m_transfer == Transfer::kVerify && !m_verifyRows.empty()) {
        m_controls.MarkRows(ctl::kHomeNumberList, {m_verifyRows.begin(), m_verifyRows.end()});
    }
    m_transferPort.reset();
    m_workerFlag = false;
    m_busy.ReleaseHere();
    if (ClosesAfterStop()) m_controls.EndDialog(ctl::kIdCancel);
}

void RadioConfigDialog::StopTransfer(AfterStop after) {
    m_transfers.RequestStop();
    if (after == AfterStop::kStayOpen) return;
    m_controls.RunAsUnit([this, after] {
        if (m_afterStop != AfterStop::kClose) m_afterStop = after;  // closing without a question wins
        if (!m_transfers.Running() && ClosesAfterStop()) m_controls.EndDialog(ctl::kIdCancel);
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
// run has ended, after the usual question when the table has unsaved rows.
bool RadioConfigDialog::CloseAllowedDuringTransfer() {
    if (!m_transfers.Running()) return true;
    if (m_controls.AskYesNo("A transfer is running. Stop it and close the window?", kProgramName)) {
        StopTransfer(AfterStop::kCloseIfChangesMayGo);
    }
    return false;
}
