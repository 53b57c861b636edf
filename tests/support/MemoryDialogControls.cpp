#include "tests/support/MemoryDialogControls.h"

#include <algorithm>
#include <thread>

#include "app/DialogText.h"

MemoryDialogControls::Control& MemoryDialogControls::At(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id];
}

int MemoryDialogControls::GetDlgItemInt(int id) {
    std::lock_guard lock(m_unit);
    return DialogIntOrZero(GetDlgItemText(id));
}
void MemoryDialogControls::SetDlgItemInt(int id, int value) {
    std::lock_guard lock(m_unit);
    SetDlgItemText(id, std::to_string(value));
}
std::string MemoryDialogControls::GetDlgItemText(int id) {
    std::lock_guard lock(m_unit);
    return At(id).text;
}
void MemoryDialogControls::SetDlgItemText(int id, std::string_view text) {
    std::lock_guard lock(m_unit);
    At(id).text = std::string(text);
}
void MemoryDialogControls::SetLimitText(int id, int limit) {
    std::lock_guard lock(m_unit);
    At(id).limit = limit;
}

void MemoryDialogControls::SetSel(int id, int start, int end) {
    std::lock_guard lock(m_unit);
    Control& control = At(id);
    const int length = static_cast<int>(control.text.size());
    control.selStart = std::clamp(start, 0, length);
    control.selEnd = end < 0 ? length : std::clamp(end, control.selStart, length);
}

void MemoryDialogControls::EnableWindow(int id, bool enable) {
    std::lock_guard lock(m_unit);
    At(id).enabled = enable;
}
bool MemoryDialogControls::IsWindowEnabled(int id) {
    std::lock_guard lock(m_unit);
    return At(id).enabled;
}
void MemoryDialogControls::SetFocus(int id) {
    std::lock_guard lock(m_unit);
    focus = id;
}
int MemoryDialogControls::GetFocus() {
    std::lock_guard lock(m_unit);
    return focus;
}
void MemoryDialogControls::ShowWindow(int id, bool show) {
    std::lock_guard lock(m_unit);
    At(id).visible = show;
}

void MemoryDialogControls::SetProgress(int id, int value, int maximum, std::string_view text) {
    std::lock_guard lock(m_unit);
    Control& control = m_controls[id];
    control.value = value;
    control.maximum = maximum;
    control.text = std::string(text);
}
bool MemoryDialogControls::GetCheck(int id) {
    std::lock_guard lock(m_unit);
    return At(id).checked;
}
void MemoryDialogControls::SetCheck(int id, bool checked) {
    std::lock_guard lock(m_unit);
    At(id).checked = checked;
}
void MemoryDialogControls::AddString(int id, std::string_view entry) {
    std::lock_guard lock(m_unit);
    At(id).entries.emplace_back(entry);
}
int MemoryDialogControls::GetCurSel(int id) {
    std::lock_guard lock(m_unit);
    return At(id).current;
}

void MemoryDialogControls::SetCurSel(int id, int index) {
    std::lock_guard lock(m_unit);
    Control& control = At(id);
    control.current = index >= 0 && index < static_cast<int>(control.entries.size()) ? index : -1;
}

void MemoryDialogControls::InsertColumn(int, int column, std::string_view heading, int) {
    std::lock_guard lock(m_unit);
    column = std::clamp(column, 0, static_cast<int>(columns.size()));
    columns.insert(columns.begin() + column, std::string(heading));
}

int MemoryDialogControls::GetItemCount(int) {
    std::lock_guard lock(m_unit);
    return static_cast<int>(rows.size());
}

void MemoryDialogControls::InsertItem(int, int row, std::string_view text) {
    std::lock_guard lock(m_unit);
    std::vector<std::string> cells(std::max<std::size_t>(columns.size(), 1));
    cells[0] = std::string(text);
    row = row >= 0 && row <= static_cast<int>(rows.size()) ? row : static_cast<int>(rows.size());
    rows.insert(rows.begin() + row, std::move(cells));
}

void MemoryDialogControls::DeleteItem(int, int row) {
    std::lock_guard lock(m_unit);
    if (row >= 0 && row < static_cast<int>(rows.size())) rows.erase(rows.begin() + row);
}

void MemoryDialogControls::ReplaceItem(int id, int row, std::string_view text) {
    std::lock_guard lock(m_unit);
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    DeleteItem(id, row);
    InsertItem(id, row, text);
    if (selectedRow == row) selectedRow = -1;
}

void MemoryDialogControls::DeleteAllItems(int) {
    std::lock_guard lock(m_unit);
    rows.clear();
    selectedRow = -1;
}

void MemoryDialogControls::SetItemText(int, int row, int column, std::string_view text) {
    std::lock_guard lock(m_unit);
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return;
    if (column >= static_cast<int>(rows[row].size())) return;
    rows[row][column] = std::string(text);
}

std::string MemoryDialogControls::GetItemText(int, int row, int column) {
    std::lock_guard lock(m_unit);
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return {};
    if (column >= static_cast<int>(rows[row].size())) return {};
    return rows[row][column];
}

int MemoryDialogControls::GetSelectionMark(int) {
    std::lock_guard lock(m_unit);
    return selectedRow;
}
void MemoryDialogControls::AppendConsole(std::string_view text) {
    std::lock_guard lock(m_unit);
    console.append(text);
}
void MemoryDialogControls::ClearConsole() {
    std::lock_guard lock(m_unit);
    console.clear();
}
void MemoryDialogControls::ScrollConsoleTo(int firstVisibleLine) {
    std::lock_guard lock(m_unit);
    consoleFirstLine = firstVisibleLine;
}

void MemoryDialogControls::ShowMessage(std::string_view text, std::string_view caption) {
    std::lock_guard lock(m_unit);
    messages.push_back({std::string(text), std::string(caption), false});
}

bool MemoryDialogControls::AskYesNo(std::string_view text, std::string_view caption) {
    std::lock_guard lock(m_unit);
    messages.push_back({std::string(text), std::string(caption), true});
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::NextFile(const FileChoice& choice) {
    std::lock_guard lock(m_unit);
    fileChoices.push_back(choice);
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::ChooseSaveFile(const FileChoice& choice) {
    std::lock_guard lock(m_unit);
    return NextFile(choice);
}
std::optional<std::string> MemoryDialogControls::ChooseOpenFile(const FileChoice& choice) {
    std::lock_guard lock(m_unit);
    return NextFile(choice);
}
void MemoryDialogControls::EndDialog(int result) {
    std::lock_guard lock(m_unit);
    endResult = result;
}

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
