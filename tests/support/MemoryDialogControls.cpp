#include "tests/support/MemoryDialogControls.h"

#include <algorithm>
#include <thread>

#include "app/DialogText.h"

MemoryDialogControls::Control& MemoryDialogControls::At(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id];
}

int MemoryDialogControls::GetDlgItemInt(int id) { return DialogIntOrZero(GetDlgItemText(id)); }
void MemoryDialogControls::SetDlgItemInt(int id, int value) { SetDlgItemText(id, std::to_string(value)); }
std::string MemoryDialogControls::GetDlgItemText(int id) { return At(id).text; }
void MemoryDialogControls::SetDlgItemText(int id, std::string_view text) { At(id).text = std::string(text); }
void MemoryDialogControls::SetLimitText(int id, int limit) { At(id).limit = limit; }

void MemoryDialogControls::SetSel(int id, int start, int end) {
    Control& control = At(id);
    const int length = static_cast<int>(control.text.size());
    control.selStart = std::clamp(start, 0, length);
    control.selEnd = end < 0 ? length : std::clamp(end, control.selStart, length);
}

void MemoryDialogControls::EnableWindow(int id, bool enable) { At(id).enabled = enable; }
bool MemoryDialogControls::IsWindowEnabled(int id) { return At(id).enabled; }
void MemoryDialogControls::SetFocus(int id) { focus = id; }
int MemoryDialogControls::GetFocus() { return focus; }
bool MemoryDialogControls::GetCheck(int id) { return At(id).checked; }
void MemoryDialogControls::SetCheck(int id, bool checked) { At(id).checked = checked; }
void MemoryDialogControls::AddString(int id, std::string_view entry) { At(id).entries.emplace_back(entry); }
int MemoryDialogControls::GetCurSel(int id) { return At(id).current; }

void MemoryDialogControls::SetCurSel(int id, int index) {
    Control& control = At(id);
    control.current = index >= 0 && index < static_cast<int>(control.entries.size()) ? index : -1;
}

void MemoryDialogControls::InsertColumn(int, int column, std::string_view heading, int) {
    column = std::clamp(column, 0, static_cast<int>(columns.size()));
    columns.insert(columns.begin() + column, std::string(heading));
}

int MemoryDialogControls::GetItemCount(int) { return static_cast<int>(rows.size()); }

void MemoryDialogControls::InsertItem(int, int row, std::string_view text) {
    std::vector<std::string> cells(std::max<std::size_t>(columns.size(), 1));
    cells[0] = std::string(text);
    row = row >= 0 && row <= static_cast<int>(rows.size()) ? row : static_cast<int>(rows.size());
    rows.insert(rows.begin() + row, std::move(cells));
}

void MemoryDialogControls::DeleteItem(int, int row) {
    if (row >= 0 && row < static_cast<int>(rows.size())) rows.erase(rows.begin() + row);
}

void MemoryDialogControls::ReplaceItem(int id, int row, std::string_view text) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    DeleteItem(id, row);
    InsertItem(id, row, text);
    if (selectedRow == row) selectedRow = -1;
}

void MemoryDialogControls::DeleteAllItems(int) {
    rows.clear();
    selectedRow = -1;
}

void MemoryDialogControls::SetItemText(int, int row, int column, std::string_view text) {
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return;
    if (column >= static_cast<int>(rows[row].size())) return;
    rows[row][column] = std::string(text);
}

std::string MemoryDialogControls::GetItemText(int, int row, int column) {
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return {};
    if (column >= static_cast<int>(rows[row].size())) return {};
    return rows[row][column];
}

int MemoryDialogControls::GetSelectionMark(int) { return selectedRow; }
void MemoryDialogControls::AppendConsole(std::string_view text) { console.append(text); }
void MemoryDialogControls::ClearConsole() { console.clear(); }
void MemoryDialogControls::ScrollConsoleTo(int firstVisibleLine) { consoleFirstLine = firstVisibleLine; }

void MemoryDialogControls::ShowMessage(std::string_view text, std::string_view caption) {
    messages.push_back({std::string(text), std::string(caption), false});
}

bool MemoryDialogControls::AskYesNo(std::string_view text, std::string_view caption) {
    messages.push_back({std::string(text), std::string(caption), true});
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::NextFile(const FileChoice& choice) {
    fileChoices.push_back(choice);
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::ChooseSaveFile(const FileChoice& choice) {
    return NextFile(choice);
}
std::optional<std::string> MemoryDialogControls::ChooseOpenFile(const FileChoice& choice) {
    return NextFile(choice);
}
void MemoryDialogControls::EndDialog(int result) { endResult = result; }

void MemoryDialogControls::Sleep(int ms) {
    if (ms <= 0) return;
    {
        std::lock_guard lock(m_unit);
        slept += std::chrono::milliseconds(ms);
        sleeps.push_back(ms);
    }
    if (realSleep) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void MemoryDialogControls::RunAsUnit(const std::function<void()>& unit) {
    std::lock_guard lock(m_unit);
    unit();
}
