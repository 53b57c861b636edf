#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "device/DeviceSession.h"
#include "app/DialogControls.h"
#include "protocol/LogSink.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"
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

// The main window's state and behaviour. Owns every piece of run-time state for the window's life and
// reaches the controls only through DialogControls.
class RadioConfigDialog {
public:
    static constexpr std::int32_t kRowCount = table::HomeNumberTable::kRows;

    explicit RadioConfigDialog(DialogControls& controls);
    ~RadioConfigDialog();
    RadioConfigDialog(const RadioConfigDialog&) = delete;
    RadioConfigDialog& operator=(const RadioConfigDialog&) = delete;

    // Every event of the window that has a handler, in one table the window binds from.
    static std::span<const EventBinding> EventTable();

    // The controls the busy lock disables, in the order it disables them.
    static std::span<const int> BusyLockControls();

    bool OnInitDialog();
    // Runs the data exchange: false loads the members into the controls, true reads and validates
    // the controls into the members (stopping at the first control that fails).
    bool UpdateData(bool saveAndValidate);
    void OnOK();
    void OnCancel();
    // Whether the window may close now; it may not while an exchange is under way.
    bool CanClose() const;
    // Closes without any question, as a stop signal asks: a transfer is stopped and the window closes
    // when it has ended. False while a command runs (ask again later).
    bool CloseWithoutAsking();

    // The busy lock. Taking it remembers where the keyboard focus was; releasing it gives the focus
    // back there, unless the focus has been moved on purpose meanwhile.
    void LockCommands();
    void UnlockCommands();

    // The log console.
    void LogText(std::string_view text, bool pause = false);
    void LogNumber(std::int32_t value, bool pause = false);
    void LogString(const std::string& text, bool pause = false);
    void LogHex(std::span<const std::uint8_t> bytes, std::int32_t count);
    void OnClearScreen();

    // Selection values of the three drop-down lists: 1 and 2 for the first and second entry, 0 for none.
    void OnDispSelChange();
    void OnSquelchSelChange();
    void OnRadioMfgSelChange();
    static std::int32_t SelectionValue(int listIndex);

    // --- the home number table ---
    // The row at position p holds home number p + 1; the table always has exactly the row count of rows.
    // A home number outside 1 to the row count names no row: the row operations ignore it.

    // Every row empty again, home numbers 1 to the row count.
    void ResetHomeNumberTable();
    // Replaces the row of a home number: its Num cell shows the text as given (the row is the one its
    // atoi value names), the codes as given, the PLL cells empty.
    void SetHomeNumberRow(std::string_view homeNumberText, const std::string& tx, const std::string& rx);
    void SetHomeNumberRow(std::int32_t homeNumber, const std::string& tx, const std::string& rx);
    // Sets the two PLL cells of the row of a home number; its other cells stay.
    void SetPllColumns(std::string_view homeNumberText, const std::string& pllTx, const std::string& pllRx);
    void SetPllColumns(std::int32_t homeNumber, const std::string& pllTx, const std::string& pllRx);
    // The selected row into the five entry edits.
    void CopySelectedRowToEdits();

    void OnAdd();
    void OnTableClick();
    void OnTableKeyMove();
    void OnNumberChange();
    void OnTxSetFocus();
    void OnRxSetFocus();
    void OnWrite();
    void OnRead();

    // How the latest Write All or Read All went.
    const Outcome& TransferOutcome() const { return m_transferOutcome; }

    // --- the table file ---
    void OnSaveAs();
    void OnOpen();
    // A file dropped on the window opens as Open does, with the same question first.
    void OnDropFile(const std::string& path);
    // Replaces the table and the settings with a table file's contents, as Open does once it has the file.
    tablefile::LoadResult LoadTableFile(std::string_view bytes);
    // Whether a row has been stored (by Add or Read All) since the start, the last save or the last load.
    bool TableChanged() const { return m_table.Changed(); }
    // The home number table the list shows.
    const table::HomeNumberTable& Table() const { return m_table; }

    // --- Write All and Read All ---
    // Each asks first, then runs its worker on a thread of its own with the busy lock on.
    void OnWriteAll();
    void OnReadAll();
    // Reads the device back and compares it with the table and the settings as Write All would write
    // them, changing neither; runs as a transfer, without a question.
    void OnVerify();
    // Ends a running transfer before its next request: no further rows, no settings. Afterwards the
    // window stays open, closes, or closes unless the operator keeps it for its unsaved rows; once the
    // worker has ended (at once when none runs).
    enum class AfterStop { kStayOpen, kCloseIfChangesMayGo, kClose };
    void StopTransfer(AfterStop after);
    void OnStop() { StopTransfer(AfterStop::kStayOpen); }
    bool TransferRunning() const { return m_threadActive.load(); }
    // How a worker's thread is started; none when it could not be (tests stand in a refusal).
    using ThreadStart = std::function<std::optional<std::thread>(std::function<void()>)>;
    void SetThreadStart(ThreadStart start) { m_threadStart = std::move(start); }

    // --- device settings and texts ---
    void OnWideBandEnable();
    void OnWideBandDisable();
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
    // unless a worker runs; the window may not close in between.
    class CommandCycle {
    public:
        // Whether the lock is released at the end while a worker runs: not for the commands a worker calls
        // (its run keeps the lock), always for those no worker calls (Write and Read of one home number).
        enum class Unlock { kUnlessWorkerRuns, kAlways };
        explicit CommandCycle(RadioConfigDialog& dialog, Unlock unlock = Unlock::kUnlessWorkerRuns);
        ~CommandCycle();
        CommandCycle(const CommandCycle&) = delete;
        CommandCycle& operator=(const CommandCycle&) = delete;

    private:
        RadioConfigDialog& m_dialog;
        Unlock m_unlock;
    };

    // Set while a Write All or Read All worker runs: commands then leave the busy lock on.
    void SetWorkerFlag(bool running) { m_workerFlag = running; }
    DeviceSession& Session() { return m_session; }
    SerialLink& Link() { return m_session.Link(); }

    // Read-only views for the window and for tests.
    const std::string& LogContents() const { return m_logText; }
    int LogLineCount() const { return m_logLines; }
    std::int32_t DispChoice() const { return m_dispChoice; }
    std::int32_t SquelchChoice() const { return m_squelchChoice; }
    std::int32_t MfgChoice() const { return m_mfgChoice; }
    std::int32_t DtmfDelay() const { return m_dtmfDelay; }
    std::int32_t HomeNumber() const { return m_homeNumber; }
    const std::string& NumberText() const { return m_number; }
    const std::string& TxText() const { return m_tx; }
    const std::string& RxText() const { return m_rx; }
    const std::string& SerialNumberText() const { return m_serialNumber; }
    bool WorkerRunning() const { return m_workerFlag.load(); }

private:
    struct ExchangeRule;
    class TransferProgress;

    // The settings controls as a transfer and the table file see them.
    class WindowSettings : public SettingsPanel {
    public:
        explicit WindowSettings(RadioConfigDialog& dialog) : m_dialog(dialog) {}
        std::int32_t Value(const protocol::DeviceCommand& command) override;
        std::string Text(const protocol::DeviceCommand& command) override;
        void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) override;
        void ShowText(const protocol::DeviceCommand& command, const std::string& text) override;

    private:
        RadioConfigDialog& m_dialog;
    };

    // The log console as protocol code writes to it.
    class ConsoleSink : public LogSink {
    public:
        explicit ConsoleSink(RadioConfigDialog& dialog) : m_dialog(dialog) {}
        void Text(std::string_view text, bool pause) override { m_dialog.LogText(text, pause); }
        void Number(std::int32_t value, bool pause) override { m_dialog.LogNumber(value, pause); }
        void String(const std::string& text, bool pause) override { m_dialog.LogString(text, pause); }
        void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
            m_dialog.LogHex(bytes, count);
        }

    private:
        RadioConfigDialog& m_dialog;
    };

    void RunGet(const protocol::DeviceCommand& command);
    void RunSet(const protocol::DeviceCommand& command);
    void RunTextWrite(const protocol::DeviceCommand& command);
    void RunTextRead(const protocol::DeviceCommand& command);
    void ReleaseLock();
    enum class Transfer { kWriteAll, kReadAll, kVerify };
    void StartTransfer(Transfer transfer);
    void RunTransfer(Transfer transfer);
    bool CloseAllowedDuringTransfer();
    void OpenTableFile(std::optional<std::string> path);
    bool ClosesAfterStop();
    bool UnsavedChangesMayGo();
    table::Entry ReadEntry();
    bool IsRow(std::int32_t homeNumber) const { return m_table.IsRow(homeNumber); }
    static const std::array<ExchangeRule, 6> kExchangeRules;

    void AppendLog(std::string_view piece, bool pause);
    void RefreshConsole();

    DialogControls& m_controls;
    ConsoleSink m_log{*this};
    table::HomeNumberTable m_table{kRowCount};
    WindowSettings m_settings{*this};
    DeviceSession m_session;
    std::string m_logText;
    int m_logLines = 1;  // "\r\n" in m_logText, plus one
    std::int32_t m_homeNumber = 0;
    std::int32_t m_rowCount = kRowCount;
    std::string m_number;
    std::string m_rx;
    std::string m_tx;
    std::int32_t m_dtmfDelay = 1;
    std::string m_serialNumber;
    std::string m_userDescription;
    // Written by the lists' change handlers on the window's thread and by the Sets a worker runs.
    std::atomic<std::int32_t> m_dispChoice{0};
    std::atomic<std::int32_t> m_squelchChoice{0};
    std::atomic<std::int32_t> m_mfgChoice{0};
    std::atomic<bool> m_workerFlag{false};
    std::atomic<int> m_commandsRunning{0};

    // The transfer's thread. m_threadActive is set before it starts and cleared as its very last step, on
    // the window's thread, after its last use of the window; the window may close only once it is clear.
    std::thread m_worker;
    ThreadStart m_threadStart;
    std::atomic<bool> m_threadActive{false};
    std::atomic<bool> m_stopRequested{false};
    AfterStop m_afterStop = AfterStop::kStayOpen;  // touched only on the window's thread
    Outcome m_transferOutcome;                     // written by the worker, read once it has ended

    // The busy lock's hold on the keyboard focus; touched only on the window's thread.
    bool m_lockHeld = false;
    int m_focusBeforeLock = 0;  // the control the operator had focused
    int m_focusAfterLock = 0;   // where disabling the controls moved the focus
};
