// Save As and Open: the table and the settings to a table file and back. The file's format is
// tablefile/'s; what is here gathers the window's values, asks for the path and moves the bytes.
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "device/SafeFile.h"
#include "tablefile/TableFile.h"

namespace {

constexpr DialogControls::FileChoice kTableFileChoice{"Text files (*.txt)|*.txt|All files (*.*)|*.*||", "txt",
                                                      "*.txt"};

}  // namespace

void RadioConfigDialog::OnSaveAs() {
    const std::optional<std::string> path = m_controls.ChooseSaveFile(kTableFileChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");

    const tablefile::Snapshot snapshot = TakeSnapshot(m_table, m_settings);
    // Written whole or not at all: a failed save leaves the old file as it was, and says why.
    if (const Outcome saved = ReplaceFile(*path, tablefile::WriteTableFile(snapshot)); !saved.Done()) {
        LogText("Save failed: " + saved.reason + "\r\n");
        return;
    }
    m_table.SetChanged(false);
    m_history.MarkSaved();
}

// The table goes only once the chosen file is in memory: No, Cancel or a file that cannot be read leave
// the table, the settings and the unsaved mark as they were.
void RadioConfigDialog::OnOpen() { OpenTableFile(std::nullopt); }

void RadioConfigDialog::OnDropFile(const std::string& path) { OpenTableFile(path); }

// Open's question comes first; then the chooser, unless the file was dropped on the window.
void RadioConfigDialog::OpenTableFile(std::optional<std::string> path) {
    if (!m_controls.AskYesNo("This will delete your current table.\r\nDo you wish to continue?",
                             "Open File Notice")) {
        return;
    }
    if (!path) path = m_controls.ChooseOpenFile(kTableFileChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");
    const Reading<std::string> bytes = ReadWholeFile(*path, tablefile::kLargestTableFile);
    if (!bytes.value) {
        LogText("Cannot open file: " + bytes.outcome.reason + "\r\n");
        return;
    }
    LoadTableFile(*bytes.value);
}

// A load is one step of the table's history, and the table it leaves is the saved one.
tablefile::LoadResult RadioConfigDialog::LoadTableFile(std::string_view bytes) {
    tablefile::LoadResult result;
    TableChange([&] { result = ::LoadTableFile(bytes, m_table, m_settings, m_log); });
    m_history.MarkSaved();
    m_table.SetChanged(false);
    return result;
}
