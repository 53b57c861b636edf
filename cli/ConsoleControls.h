#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogControls.h"

// The window's controls without a window, for the command line: every control is a record the command
// fills before a handler runs and reads after it; the log console goes to standard error; a question is
// answered Yes (the command itself was the operator's choice); the file choosers answer with the path
// the command was given. Calls from a worker thread run under one lock, as units on one thread would.
class ConsoleControls : public DialogControls {
public:
    ConsoleControls();

    std::string chosenPath;  // what both file choosers answer

    int GetDlgItemInt(int id) override;
    void SetDlgItemInt(int id, int value) override;
    std::string GetDlgItemText(int id) override;
    void SetDlgItemText(int id, std::string_view text) override;
    void SetLimitText(int, int) override {}
    void SetSel(int, int, int) override {}
    void EnableWindow(int, bool) override {}
    bool IsWindowEnabled(int) override { return true; }
    void SetFocus(int) override {}
    int GetFocus() override { return 0; }
    void ShowWindow(int id, bool show) override;
    void SetProgress(int id, int value, int maximum, std::string_view text) override;
    bool GetCheck(int id) override;
    void SetCheck(int id, bool checked) override;
    void AddString(int id, std::string_view entry) override;
    int GetCurSel(int id) override;
    void SetCurSel(int id, int index) override;
    void InsertColumn(int, int, std::string_view, int) override {}
    // Nothing shows a table here: the command line reads the dialog's table itself.
    void ShowTable(int, table::HomeNumberTable*) override {}
    int GetSelectionMark(int) override { return -1; }
    void AppendConsole(std::string_view text) override;
    void ClearConsole() override {}
    void ScrollConsoleTo(int) override {}
    void ShowMessage(std::string_view text, std::string_view caption) override;
    bool AskYesNo(std::string_view, std::string_view) override { return true; }
    std::optional<std::string> ChooseSaveFile(const FileChoice&) override { return chosenPath; }
    std::optional<std::string> ChooseOpenFile(const FileChoice&) override { return chosenPath; }
    void EndDialog(int) override {}
    void Sleep(int ms) override;
    void DiscardPendingInput() override {}
    void RunAsUnit(const std::function<void()>& unit) override;

    // The entries of a list, in order.
    std::vector<std::string> Entries(int id);

private:
    struct Control {
        std::string text;
        bool checked = false;
        std::vector<std::string> entries;
        int current = -1;
    };

    std::recursive_mutex m_unit;
    std::map<int, Control> m_controls;
    bool m_progressShown = false;
    bool m_terminal;
};
