#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <atomic>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "app/DialogControls.h"

// An in-memory window for handler tests: every control is a record, message boxes and choosers answer
// from scripts, and everything shown is kept for the test to read.
class MemoryDialogControls : public DialogControls {
public:
    struct Control {
        std::string text;
        int limit = -1;
        bool enabled = true;
        bool checked = false;
        bool visible = true;
        int value = 0, maximum = 0;
        std::vector<std::string> entries;
        int current = -1;
        int selStart = 0, selEnd = 0;
    };
    struct Message {
        std::string text;
        std::string caption;
        bool yesNo = false;
    };

    // Controls, created on first use.
    Control& At(int id);
    int focus = 0;

    // The report list: the cells of the table it shows, as they were last shown.
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    int selectedRow = -1;
    // Rows selected beyond the selection mark; when empty, the mark's row alone is selected.
    std::vector<int> selectedRows;
    // Rows marked as differing from the device; a change of the table takes the marks away.
    std::vector<int> markedRows;
    std::optional<std::string> clipboard;

    // The log console.
    std::string console;
    int consoleFirstLine = 0;

    // Scripted answers, taken from the front; an empty script answers No / Cancel.
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<std::string>> fileAnswers;
    std::vector<Message> messages;
    std::vector<FileChoice> fileChoices;

    // Sleeps really wait unless turned off; either way they are added up and kept in order.
    bool realSleep = true;
    std::chrono::milliseconds slept{0};
    std::vector<int> sleeps;

    std::optional<int> endResult;

    int GetDlgItemInt(int id) override;
    void SetDlgItemInt(int id, int value) override;
    std::string GetDlgItemText(int id) override;
    void SetDlgItemText(int id, std::string_view text) override;
    void SetLimitText(int id, int limit) override;
    void SetSel(int id, int start, int end) override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) override;
    void SetFocus(int id) override;
    int GetFocus() override;
    void ShowWindow(int id, bool show) override;
    void SetProgress(int id, int value, int maximum, std::string_view text) override;
    bool GetCheck(int id) override;
    void SetCheck(int id, bool checked) override;
    void AddString(int id, std::string_view entry) override;
    int GetCurSel(int id) override;
    void SetCurSel(int id, int index) override;
    void InsertColumn(int id, int column, std::string_view heading, int widthPixels) override;
    void ShowTable(int id, table::HomeNumberTable* table) override;
    int GetSelectionMark(int id) override;
    std::vector<int> GetSelectedRows(int id) override;
    void MarkRows(int id, const std::vector<int>& positions) override;
    std::optional<std::string> GetClipboardText() override;
    void SetClipboardText(std::string_view text) override;
    void AppendConsole(std::string_view text) override;
    void ClearConsole() override;
    void ScrollConsoleTo(int firstVisibleLine) override;
    void ShowMessage(std::string_view text, std::string_view caption) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
    std::optional<std::string> ChooseSaveFile(const FileChoice& choice) override;
    std::optional<std::string> ChooseOpenFile(const FileChoice& choice) override;
    void EndDialog(int result) override;
    void Sleep(int ms) override;
    void DiscardPendingInput() override {}
    // No window paints here: every wait may block.
    bool IsWindowThread() override { return false; }
    void RunAsUnit(const std::function<void()>& unit) override;
    // Runs the work at once, as one unit.
    void Post(std::function<void()> work) override;

    // The thread that made the controls stands for the window's. The calls another thread made of
    // them, other than a Sleep, a Post or the question whether it is the window's: each one would have
    // waited for the window's thread.
    int CallsFromOtherThreads() const { return m_otherThreadCalls.load(); }

private:
    void CopyRows(std::int32_t first, std::int32_t last, bool replaced);
    table::HomeNumberTable* m_table = nullptr;
    std::optional<std::string> NextFile(const FileChoice& choice);

    std::unique_lock<std::recursive_mutex> Enter();

    std::map<int, Control> m_controls;
    std::recursive_mutex m_unit;  // stands in for the window's one thread
    std::thread::id m_windowThread = std::this_thread::get_id();
    std::atomic<int> m_otherThreadCalls{0};
};
