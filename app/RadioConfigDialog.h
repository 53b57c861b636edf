#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/BusyLock.h"
#include "app/ConsoleLog.h"
#include "app/DialogControls.h"
#include "app/TransferRunner.h"
#include "app/WindowSettings.h"
#include "device/DeviceSession.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"
#include "table/TableEdits.h"
#include "tablefile/TableFile.h"

class RadioConfigDialog;

// The window events the program handles, and which handler each one runs.
// TableKeyMove: the keys moved the table's selection (the focus stays in the table).
enum class DialogEvent { Click, SelectionChange, TextChange, GainFocus, TableClick, TableKeyMove };

struct EventBinding {
    int controlId;
    DialogEvent event;
    void (RadioConfigDialog::*handler)();
};

// The main window's handlers and the state they share. It reaches the controls only through
// DialogControls; the log console, the busy lock, the settings controls and the transfer runner are
// parts of their own. Everything here runs on the window's thread.
class RadioConfigDialog {
public:
    static constexpr std::int32_t kRowCount = table::HomeNumberTable::kRows;

    explicit RadioConfigDialog(DialogControls& controls);
    ~RadioConfigDialog();
    RadioConfigDialog(const RadioConfigDialog&) = delete;
    RadioConfigDialog& operator=(const RadioConfigDialog&) = delete;

    // Every event of the window that has a handler, in one table the window binds from.
    static std::span<const EventBinding> EventTable();
    static std::span<const int> BusyLockControls() { return BusyLock::Controls(); }

    // --- the window ---
    bool OnInitDialog();
    // false loads the members into the controls; true reads and checks the controls into the members,
    // stopping at the first control that fails.
    bool UpdateData(bool saveAndValidate);
    void OnOK();
    void OnCancel();
    // Whether the window may close now: not while a command or a transfer runs.
    bool CanClose() const;
    // Closes without a question, as a stop signal asks; a transfer is stopped first. False while a
    // command runs (ask again later).
    bool CloseWithoutAsking();
    void LockCommands() { m_busy.Take(); }
    void UnlockCommands() { m_busy.Release(); }

    // --- the log console ---
    void LogText(std::string_view text, bool pause = false) { m_log.Text(text, pause); }
    void LogNumber(std::int32_t value, bool pause = false) { m_log.Number(value, pause); }
    void LogString(const std::string& text, bool pause = false) { m_log.String(text, pause); }
    void LogHex(std::span<const std::uint8_t> bytes, std::int32_t count) { m_log.Hex(bytes, count); }
    void OnClearScreen() { LogText(""); }
    const std::string& LogContents() const { return m_log.Contents(); }
    int LogLineCount() const { return m_log.LineCount(); }

    // --- the home number table (a home number outside 1 to the row count names no row) ---
    void ResetHomeNumberTable() { m_table.Reset(); }
    // A row's Num cell shows the text as given; the row is the one its atoi value names.
    void SetHomeNumberRow(std::string_view homeNumberText, const std::string& tx, const std::string& rx);
    void SetHomeNumberRow(std::int32_t homeNumber, const std::string& tx, const std::string& rx);
    void SetPllColumns(std::string_view homeNumberText, const std::string& pllTx, const std::string& pllRx);
    void SetPllColumns(std::int32_t homeNumber, const std::string& pllTx, const std::string& pllRx);
    void CopySelectedRowToEdits();
    void OnAdd();
    void OnTableClick();
    void OnTableKeyMove();
    void OnNumberChange();
    void OnTxSetFocus();
    void OnRxSetFocus();
    void OnWrite();
    void OnRead();
    const table::HomeNumberTable& Table() const { return m_table; }
    // Whether a row has been stored (by Add or Read All) since the start, the last save or the last load.
    bool TableChanged() const { return m_table.Changed(); }

    // --- the table editor (nothing while a command or a transfer runs) ---
    // A cell typed over in place: stored as Add stores its row, or refused with Add's message box. True
    // when the table took it.
    bool OnCellEdited(std::int32_t position, table::Column column, std::string_view text);
    void OnCopyRows();
    void OnPasteRows();
    void OnClearRows();
    void OnFillSame() { FillSelected(table::FillMode::kSame); }
    void OnFillCountUp() { FillSelected(table::FillMode::kCountUp); }
    void OnUndo();
    void OnRedo();
    void OnImportCsv();
    void OnExportCsv();
    bool CanUndo() const { return m_history.CanUndo(); }
    bool CanRedo() const { return m_history.CanRedo(); }

    // --- the table file ---
    void OnSaveAs();
    void OnOpen();
    // A file dropped on the window opens as Open does, with the same question first.
    void OnDropFile(const std::string& path);
    tablefile::LoadResult LoadTableFile(std::string_view bytes);

    // --- Write All, Read All, Verify (on the transfer runner's thread) ---
    void OnWriteAll();
    void OnReadAll();
    void OnVerify();
    // Afterwards the window stays open, closes, or closes unless the operator keeps it for its unsaved
    // rows; once the run has ended (at once when none runs).
    enum class AfterStop { kStayOpen, kCloseIfChangesMayGo, kClose };
    void StopTransfer(AfterStop after);
    void OnStop() { StopTransfer(AfterStop::kStayOpen); }
    bool TransferRunning() const { return m_transfers.Running(); }
    const Outcome& TransferOutcome() const { return m_transferOutcome; }
    void SetThreadStart(TransferRunner::ThreadStart start) { m_transfers.SetThreadStart(std::move(start)); }

    // --- device settings and texts ---
    void OnWideBandEnable() { m_settings.ShowWideBand(true); }
    void OnWideBandDisable() { m_settings.ShowWideBand(false); }
    void OnDispSelChange() { m_settings.TakeChoice(protocol::kDisp); }
    void OnSquelchSelChange() { m_settings.TakeChoice(protocol::kSquelch); }
    void OnRadioMfgSelChange() { m_settings.TakeChoice(protocol::kRadioMfg); }
    void OnWideBandGet();
    void OnWideBandSet();
    void OnDispGet();
    void OnDispSet();
    void OnRadioMfgGet();
    void OnRadioMfgSet();
    void OnSquelchGet();
    void OnSquelchSet();
    void OnDtmfDelayGet();
    void OnDtmfDelaySet();
    void OnMinVolumeGet();
    void OnMinVolumeSet();
    void OnSerialNumberWrite();
    void OnSerialNumberRead();
    void OnUserDescriptionWrite();
    void OnUserDescriptionRead();

    // One device command from lock to unlock: constructing it takes the busy lock, its end releases it
    // unless a worker runs (kAlways: also then); the window may not close in between.
    class CommandCycle {
    public:
        enum class Unlock { kUnlessWorkerRuns, kAlways };
        explicit CommandCycle(RadioConfigDialog& dialog, Unlock unlock = Unlock::kUnlessWorkerRuns);
        ~CommandCycle();
        CommandCycle(const CommandCycle&) = delete;
        CommandCycle& operator=(const CommandCycle&) = delete;

    private:
        RadioConfigDialog& m_dialog;
        Unlock m_unlock;
    };
    // Set while a transfer runs: commands then leave the busy lock on.
    void SetWorkerFlag(bool running) { m_workerFlag = running; }
    bool WorkerRunning() const { return m_workerFlag.load(); }

    DeviceSession& Session() { return m_session; }
    SerialLink& Link() { return m_session.Link(); }

    // What the data exchange last read.
    std::int32_t DispChoice() const { return m_settings.Choice(protocol::kDisp); }
    std::int32_t SquelchChoice() const { return m_settings.Choice(protocol::kSquelch); }
    std::int32_t MfgChoice() const { return m_settings.Choice(protocol::kRadioMfg); }
    std::int32_t DtmfDelay() const { return m_dtmfDelay; }
    std::int32_t HomeNumber() const { return m_homeNumber; }
    const std::string& NumberText() const { return m_number; }
    const std::string& TxText() const { return m_tx; }
    const std::string& RxText() const { return m_rx; }
    const std::string& SerialNumberText() const { return m_serialNumber; }

private:
    struct ExchangeRule;
    static const std::array<ExchangeRule, 6> kExchangeRules;
    enum class Transfer { kWriteAll, kReadAll, kVerify };

    void RunGet(const protocol::DeviceCommand& command);
    void RunSet(const protocol::DeviceCommand& command);
    void RunTextWrite(const protocol::DeviceCommand& command);
    void RunTextRead(const protocol::DeviceCommand& command);
    void StartTransfer(Transfer transfer);
    void TransferEnded();
    bool CloseAllowedDuringTransfer();
    bool ClosesAfterStop();
    bool UnsavedChangesMayGo();
    void OpenTableFile(std::optional<std::string> path);
    bool EditsAllowed() const { return !m_busy.Held() && !m_workerFlag; }
    // Runs a change of the table as one step of its history. A change that left every row as it was
    // leaves the unsaved mark as it was too, unless kMark (Add marks the table however it stored).
    enum class SameRows { kKeepMark, kMark };
    void TableChange(const std::function<void()>& change, SameRows same = SameRows::kKeepMark);
    // The end of such a change begun with the history's Begin, the unsaved mark as it was before it.
    void EndTableChange(bool marked, SameRows same = SameRows::kKeepMark);
    void StoreRows(const std::vector<table::CsvRow>& rows);
    void FillSelected(table::FillMode mode);
    // A refusal of the table editor, in a message box.
    void Refuse(const Outcome& outcome);
    table::Entry ReadEntry();

    DialogControls& m_controls;
    ConsoleLog m_log{m_controls};
    BusyLock m_busy{m_controls};
    WindowSettings m_settings{m_controls};
    table::HomeNumberTable m_table{kRowCount};
    table::TableHistory m_history;
    DeviceSession m_session;
    // The port a transfer took at its start; none between transfers, when commands ask the window.
    std::optional<DeviceSession::PortChoice> m_transferPort;

    // The data exchange's members.
    std::int32_t m_homeNumber = 0;
    std::int32_t m_rowCount = kRowCount;
    std::string m_number;
    std::string m_rx;
    std::string m_tx;
    std::int32_t m_dtmfDelay = 1;
    std::string m_serialNumber;
    std::string m_userDescription;

    std::atomic<bool> m_workerFlag{false};
    std::atomic<int> m_commandsRunning{0};
    AfterStop m_afterStop = AfterStop::kStayOpen;
    Outcome m_transferOutcome;  // written by the worker, read once the run has ended
    Transfer m_transfer = Transfer::kWriteAll;  // the latest run's
    std::vector<std::int32_t> m_verifyRows;     // written by a Verify's worker: the rows that differ
    // Last: a run still going is stopped and waited for before the parts it uses go.
    TransferRunner m_transfers{m_controls};
};
