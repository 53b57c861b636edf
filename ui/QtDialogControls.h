#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "app/DialogControls.h"
#include "app/RadioConfigApp.h"

class MainWindow;

// DialogControls on the Qt window. A call from another thread runs on the window's thread and waits
// for it there, so a worker may use it as the handlers do.
class QtDialogControls : public DialogControls, public DialogWindow {
public:
    QtDialogControls();
    ~QtDialogControls() override;

    MainWindow& Window() { return *m_window; }

    // DialogWindow
    DialogControls& Controls() override { return *this; }
    int RunModal(RadioConfigDialog& dialog) override;
    // Binds and initialises without entering the modal loop (for tests and benchmarks).
    void Prepare(RadioConfigDialog& dialog);

    // The folder the file choosers open in: the one of the last file chosen, or as set.
    const QString& Folder() const { return m_folder; }
    void SetFolder(const QString& folder) { m_folder = folder; }

    // DialogControls
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

private:
    template <class Fn>
    auto OnWindowThread(Fn&& fn) -> decltype(fn());

    void ShowRows(std::int32_t first, std::int32_t last, bool replaced);
    void ShowMarks(const std::vector<int>& positions, bool marked);
    std::vector<int> m_marked;  // the rows marked as differing from the device; on the window's thread
    void ShowProgress();
    void QueueRows(std::int32_t first, std::int32_t last, bool replaced);

    // The latest step of a progress bar, not shown yet.
    struct PendingProgress {
        int id;
        int value;
        int maximum;
        QString text;
    };
    static constexpr int kProgressMs = 20;
    std::optional<PendingProgress> m_progress;  // touched on the window's thread
    QString m_folder;                           // touched on the window's thread

    // The rows a worker changed, not shown yet: those replaced whole, and those with new PLL cells.
    struct PendingRows {
        std::int32_t first = 0;
        std::int32_t last = -1;
        bool Empty() const { return last < first; }
    };
    std::mutex m_rowsMutex;
    PendingRows m_replacedRows;
    PendingRows m_changedRows;
    bool m_rowsQueued = false;

    // Work posted and not run yet, in order, and whether a run of it is queued.
    void RunPosted();
    std::mutex m_postedMutex;
    std::vector<std::function<void()>> m_posted;
    bool m_postedQueued = false;

    std::unique_ptr<MainWindow> m_window;
    table::HomeNumberTable* m_table = nullptr;  // the table the list shows; touched on the window's thread
    int m_tableId = 0;
};
