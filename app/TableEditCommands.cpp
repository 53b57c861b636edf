// The table editor: a cell typed over in place, rows copied to the clipboard and pasted from it, cleared
// and filled, each change undone and redone as one step, and the table to CSV and back. The rules are
// table/'s; what is here takes the selection and the clipboard from the window and says why when
// something is refused.
#include <string>

#include "app/ControlIds.h"
#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"
#include "device/SafeFile.h"
#include "table/TableCsv.h"

namespace {

constexpr DialogControls::FileChoice kCsvChoice{"CSV files (*.csv)|*.csv|All files (*.*)|*.*||", "csv", "*.csv"};
// CSV is the table's rows alone; a file of a spreadsheet's is not larger than a table file.
constexpr std::size_t kLargestCsvFile = 1 << 20;

}  // namespace

void RadioConfigDialog::TableChange(const std::function<void()>& change, SameRows same) {
    const bool marked = m_table.Changed();
    m_history.Begin(m_table);
    change();
    EndTableChange(marked, same);
}

void RadioConfigDialog::EndTableChange(bool marked, SameRows same) {
    if (!m_history.End(m_table) && same == SameRows::kKeepMark) m_table.SetChanged(marked);
}

void RadioConfigDialog::StoreRows(const std::vector<table::CsvRow>& rows) {
    TableChange([&] { table::StoreCsvRows(rows, m_table); });
}

void RadioConfigDialog::Refuse(const Outcome& outcome) {
    m_controls.ShowMessage(outcome.reason, table::kInvalidEntryCaption);
}

bool RadioConfigDialog::OnCellEdited(std::int32_t position, table::Column column, std::string_view text) {
    if (!EditsAllowed()) return false;
    const table::CellEdit edit = table::CheckCellEdit(m_table, position, column, text);
    switch (edit.action) {
        case table::CellEdit::Action::kNotEditable:
            return false;
        case table::CellEdit::Action::kMessage:
            m_controls.ShowMessage(edit.message, table::kInvalidEntryCaption);
            return false;
        case table::CellEdit::Action::kStore:
            StoreRows({edit.row});
            return true;
    }
    return false;
}

void RadioConfigDialog::OnCopyRows() {
    const std::vector<int> selected = m_controls.GetSelectedRows(ctl::kHomeNumberList);
    if (selected.empty()) return;
    m_controls.SetClipboardText(table::CopyRows(m_table, {selected.begin(), selected.end()}));
}

void RadioConfigDialog::OnPasteRows() {
    if (!EditsAllowed()) return;
    const std::vector<int> selected = m_controls.GetSelectedRows(ctl::kHomeNumberList);
    if (selected.empty()) {
        m_controls.ShowMessage("Choose the row to paste at first.", table::kInvalidEntryCaption);
        return;
    }
    const std::optional<std::string> text = m_controls.GetClipboardText();
    const Reading<std::vector<table::CsvRow>> rows =
        table::ParsePaste(text.value_or(""), static_cast<std::int32_t>(selected.front()));
    if (!rows.value) {
        m_controls.ShowMessage("Nothing was pasted.\r\n" + rows.outcome.reason, table::kInvalidEntryCaption);
        return;
    }
    StoreRows(*rows.value);
}

void RadioConfigDialog::OnClearRows() {
    if (!EditsAllowed()) return;
    const std::vector<int> selected = m_controls.GetSelectedRows(ctl::kHomeNumberList);
    StoreRows(table::ClearedRows({selected.begin(), selected.end()}));
}

void RadioConfigDialog::FillSelected(table::FillMode mode) {
    if (!EditsAllowed()) return;
    const std::vector<int> selected = m_controls.GetSelectedRows(ctl::kHomeNumberList);
    const Reading<std::vector<table::CsvRow>> rows = table::FillRows(m_table, {selected.begin(), selected.end()}, mode);
    if (!rows.value) {
        m_controls.ShowMessage("Nothing was filled.\r\n" + rows.outcome.reason, table::kInvalidEntryCaption);
        return;
    }
    StoreRows(*rows.value);
}

void RadioConfigDialog::OnUndo() {
    if (EditsAllowed()) m_history.Undo(m_table);
}

void RadioConfigDialog::OnRedo() {
    if (EditsAllowed()) m_history.Redo(m_table);
}

// The rows of a CSV file in place of the table's (the settings stay), after Open's question; a file with
// any row that cannot be taken changes nothing.
void RadioConfigDialog::OnImportCsv() {
    if (!EditsAllowed()) return;
    if (!m_controls.AskYesNo("This will delete your current table.\r\nDo you wish to continue?", "Import CSV Notice")) {
        return;
    }
    const std::optional<std::string> path = m_controls.ChooseOpenFile(kCsvChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");
    const Reading<std::string> bytes = ReadWholeFile(*path, kLargestCsvFile);
    if (!bytes.value) {
        LogText("Cannot open file: " + bytes.outcome.reason + "\r\n");
        return;
    }
    const Reading<std::vector<table::CsvRow>> rows = table::ReadCsv(*bytes.value);
    if (!rows.value) {
        m_controls.ShowMessage("Nothing was imported.\r\n" + rows.outcome.reason, table::kInvalidEntryCaption);
        return;
    }
    TableChange([&] {
        m_table.Reset();
        table::StoreCsvRows(*rows.value, m_table);
    });
}

// The table's rows as CSV; the settings and texts have no place in it, so the table stays unsaved.
void RadioConfigDialog::OnExportCsv() {
    const std::optional<std::string> path = m_controls.ChooseSaveFile(kCsvChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");
    if (const Outcome saved = ReplaceFile(*path, table::WriteCsv(m_table)); !saved.Done()) {
        LogText("Export failed: " + saved.reason + "\r\n");
    }
}
