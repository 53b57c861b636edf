#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DialogControls.h"

// The main dialog's controls as the handlers use them, over plain Win32. Every call runs on the window's
// thread: one made on another thread is sent there and waited for, and Post queues its work there.
// Texts are 8-bit bytes, each shown as the character of the same number (Latin-1), whatever the system's
// code page; file paths are the system's ANSI code page, as the program's files are opened.
class Win32Controls : public DialogControls {
public:
    // Made on the window's thread, before the dialog exists.
    Win32Controls();
    ~Win32Controls() override;
    Win32Controls(const Win32Controls&) = delete;
    Win32Controls& operator=(const Win32Controls&) = delete;

    // The dialog, once it exists (its WM_INITDIALOG), and none once it has gone.
    void Attach(HWND dialog);
    HWND Dialog() const { return m_dialog.load(); }
    // The dialog procedure hands every message here first; true when it was one of the controls' own.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // The folder the last chooser was left in, and where the next one opens.
    const std::string& Folder() const { return m_folder; }
    void SetFolder(std::string folder) { m_folder = std::move(folder); }

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
    void DiscardPendingInput() override;
    bool IsWindowThread() override;
    void RunAsUnit(const std::function<void()>& unit) override;
    void Post(std::function<void()> work) override;

    // The window's own messages.
    static constexpr UINT kRunMessage = WM_APP + 1;     // lParam: the unit to run
    static constexpr UINT kPostedMessage = WM_APP + 2;  // posted work is waiting
    static constexpr UINT kRowsMessage = WM_APP + 3;    // rows of the table changed
    static constexpr UINT_PTR kPostedTimer = 1;
    static constexpr UINT_PTR kRowsTimer = 2;
    // Work posted, and rows changed, are taken together at the pace a screen can show them.
    static constexpr UINT kBatchMs = 20;

private:
    template <class Fn>
    auto OnWindowThread(Fn&& fn) -> decltype(fn());
    HWND Item(int id) const;
    std::optional<std::string> Choose(const FileChoice& choice, bool save);
    void QueueRows(std::int32_t first, std::int32_t last, bool replaced);
    void ShowRows();
    void RunPosted();
    bool TableText(LPARAM notification);
    // The list's custom drawing: the marked rows' background. None for any other notification.
    std::optional<LRESULT> TableDraw(LPARAM notification);

    DWORD m_thread;
    std::atomic<HWND> m_dialog{nullptr};  // read by other threads
    std::string m_folder;

    table::HomeNumberTable* m_table = nullptr;  // the table the list shows; touched on the window's thread
    int m_tableId = 0;
    std::wstring m_cell;  // the text of the cell the list asked for last
    std::vector<bool> m_marked;  // by row: marked as differing from the device

    bool m_heldCarriageReturn = false;  // the console's last append ended in '\r', waiting for its '\n'

    std::mutex m_mutex;  // guards what other threads hand over below
    std::vector<std::function<void()>> m_posted;
    bool m_postedQueued = false;
    std::int32_t m_rowsFirst = 0, m_rowsLast = -1;
    bool m_rowsReplaced = false;
    bool m_rowsQueued = false;
};

// Bytes as the characters of the same numbers, and back; a character above 255 comes back as '?'.
std::wstring Latin1ToWide(std::string_view bytes);
std::string WideToLatin1(std::wstring_view text);
