#include "tests/support/MemoryDialogControls.h"

#include <algorithm>
#include <thread>

#include "device/DialogText.h"
#include "table/HomeNumberTable.h"

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

// The list shows the table as the window's does: every change is copied into the rows at once.
void MemoryDialogControls::ShowTable(int, table::HomeNumberTable* shown) {
    std::lock_guard lock(m_unit);
    if (m_table) m_table->SetChangeListener(nullptr);
    m_table = shown;
    if (!m_table) return;
    m_table->SetChangeListener(
        [this](std::int32_t first, std::int32_t last, bool replaced) { CopyRows(first, last, replaced); });
    CopyRows(0, m_table->RowCount() - 1, true);
}

void MemoryDialogControls::CopyRows(std::int32_t first, std::int32_t last, bool replaced) {
    std::lock_guard lock(m_unit);
    if (replaced && selectedRow >= first && selectedRow <= last) selectedRow = -1;
    rows.resize(static_cast<std::size_t>(m_table->RowCount()));
    for (std::int32_t p = first; p <= last; ++p) {
        const table::TableRow row = m_table->Row(p);
        rows[static_cast<std::size_t>(p)] = {row.num, row.tx, row.rx, row.pllTx, row.pllRx};
    }
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
