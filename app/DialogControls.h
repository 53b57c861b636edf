#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace table {
class HomeNumberTable;
}

// The window as the handlers see it: the toolkit operations they need, addressed by control id.
// Texts are 8-bit bytes; a window implementation must round-trip every byte value.
//
// Any thread may call these. An implementation runs each call on the window's thread, so a worker thread
// sees the same window the handlers do; RunAsUnit runs a whole sequence there without anything from
// another thread interleaving. A worker does not call them while it runs: it hands what it has for the
// window over with Post, and never waits for the window.
class DialogControls {
public:
    virtual ~DialogControls() = default;

    // Edits. GetDlgItemInt reads a signed decimal; empty or non-numeric text reads as 0.
    virtual int GetDlgItemInt(int id) = 0;
    virtual void SetDlgItemInt(int id, int value) = 0;
    virtual std::string GetDlgItemText(int id) = 0;
    // Replaces the whole text, also with text longer than the typing limit or not digits only.
    virtual void SetDlgItemText(int id, std::string_view text) = 0;
    // The number of characters the operator may type; text set by the program is not cut.
    virtual void SetLimitText(int id, int limit) = 0;
    // Selects characters [start, end) and scrolls the caret into view.
    virtual void SetSel(int id, int start, int end) = 0;

    // Any control.
    virtual void EnableWindow(int id, bool enable) = 0;
    virtual bool IsWindowEnabled(int id) = 0;
    virtual void SetFocus(int id) = 0;
    // The control that has the keyboard focus; 0 when none of the window's controls has it.
    virtual int GetFocus() = 0;

    virtual void ShowWindow(int id, bool show) = 0;

    // A progress bar: value out of maximum, with a text to show on it.
    virtual void SetProgress(int id, int value, int maximum, std::string_view text) = 0;

    // Radio buttons.
    virtual bool GetCheck(int id) = 0;
    virtual void SetCheck(int id, bool checked) = 0;

    // Drop-down lists. The index of the chosen entry, -1 for none; choosing by program raises no
    // selection-change event.
    virtual void AddString(int id, std::string_view entry) = 0;
    virtual int GetCurSel(int id) = 0;
    virtual void SetCurSel(int id, int index) = 0;

    // The report-view list: it shows a home number table, one row a row, and reads the table's rows
    // again whenever the table says they changed (from any thread; the list is updated on the window's).
    // A null table unbinds it. The selection mark is the selected row, -1 when none.
    virtual void InsertColumn(int id, int column, std::string_view heading, int widthPixels) = 0;
    virtual void ShowTable(int id, table::HomeNumberTable* table) = 0;
    virtual int GetSelectionMark(int id) = 0;
    // Every selected row, in table order; empty when none is.
    virtual std::vector<int> GetSelectedRows(int id) = 0;
    // Marks the rows (a background colour, and "differs from the device" as their accessible
    // description) until the table next changes; an empty list takes the marks away.
    virtual void MarkRows(int id, const std::vector<int>& positions) = 0;

    // The clipboard's text, 8-bit (Latin-1) as every text here: none when it holds no text. Characters
    // beyond Latin-1 read as '?'.
    virtual std::optional<std::string> GetClipboardText() = 0;
    virtual void SetClipboardText(std::string_view text) = 0;

    // The log console: its text grows by appends and empties on a clear; lines end in "\r\n".
    // ScrollConsoleTo makes the line with that index (from 0) the first one shown.
    virtual void AppendConsole(std::string_view text) = 0;
    virtual void ClearConsole() = 0;
    virtual void ScrollConsoleTo(int firstVisibleLine) = 0;

    // Modal messages and choosers.
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
    virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
    struct FileChoice {
        std::string_view filter;            // "Name (*.ext)|*.ext|...||"
        std::string_view defaultExtension;  // added when the name typed has none
        std::string_view initialName;
    };
    virtual std::optional<std::string> ChooseSaveFile(const FileChoice& choice) = 0;
    virtual std::optional<std::string> ChooseOpenFile(const FileChoice& choice) = 0;

    // Ends the modal run with the given result.
    virtual void EndDialog(int result) = 0;

    // Waits ms milliseconds. On the window's thread the window keeps painting meanwhile, and what the
    // operator clicks or types is dropped; on another thread it simply sleeps.
    virtual void Sleep(int ms) = 0;

    // Called on the window's thread as a command ends: input the operator made while the thread was
    // busy, and that has not been handled yet, is dropped rather than delivered to the controls about
    // to be enabled again. Does nothing on another thread, where the window handled input all along.
    virtual void DiscardPendingInput() = 0;
    // Whether the calling thread is the window's, which must keep the window painting while it waits.
    virtual bool IsWindowThread() = 0;

    // Runs the sequence on the window's thread as one unit and returns when it is done.
    virtual void RunAsUnit(const std::function<void()>& unit) = 0;
    // Has the work run on the window's thread as one unit, in the order posted, and returns without
    // waiting for it.
    virtual void Post(std::function<void()> work) = 0;
};
