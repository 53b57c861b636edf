#include "tests/support/MemoryDialogControls.h"

#include <algorithm>
#include <thread>

#include "device/DialogText.h"
#include "table/HomeNumberTable.h"

MemoryDialogControls::Control& MemoryDialogControls::At(int id) {
    const auto lock = Enter();
    return m_controls[id];
}

int MemoryDialogControls::GetDlgItemInt(int id) {
    const auto lock = Enter();
    return DialogIntOrZero(GetDlgItemText(id));
}
void MemoryDialogControls::SetDlgItemInt(int id, int value) {
    const auto lock = Enter();
    SetDlgItemText(id, std::to_string(value));
}
std::string MemoryDialogControls::GetDlgItemText(int id) {
    const auto lock = Enter();
    return At(id).text;
}
void MemoryDialogControls::SetDlgItemText(int id, std::string_view text) {
    const auto lock = Enter();
    At(id).text = std::string(text);
}
void MemoryDialogControls::SetLimitText(int id, int limit) {
    const auto lock = Enter();
    At(id).limit = limit;
}

void MemoryDialogControls::SetSel(int id, int start, int end) {
    const auto lock = Enter();
    Control& control = At(id);
    const int length = static_cast<int>(control.text.size());
    control.selStart = std::clamp(start, 0, length);
    control.selEnd = end < 0 ? length : std::clamp(end, control.selStart, length);
}

void MemoryDialogControls::EnableWindow(int id, bool enable) {
    const auto lock = Enter();
    At(id).enabled = enable;
}
bool MemoryDialogControls::IsWindowEnabled(int id) {
    const auto lock = Enter();
    return At(id).enabled;
}
void MemoryDialogControls::SetFocus(int id) {
    const auto lock = Enter();
    focus = id;
}
int MemoryDialogControls::GetFocus() {
    const auto lock = Enter();
    return focus;
}
void MemoryDialogControls::ShowWindow(int id, bool show) {
    const auto lock = Enter();
    At(id).visible = show;
}

void MemoryDialogControls::SetProgress(int id, int value, int maximum, std::string_view text) {
    const auto lock = Enter();
    Control& control = m_controls[id];
    control.value = value;
    control.maximum = maximum;
    control.text = std::string(text);
}
bool MemoryDialogControls::GetCheck(int id) {
    const auto lock = Enter();
    return At(id).checked;
}
void MemoryDialogControls::SetCheck(int id, bool checked) {
    const auto lock = Enter();
    At(id).checked = checked;
}
void MemoryDialogControls::AddString(int id, std::string_view entry) {
    const auto lock = Enter();
    At(id).entries.emplace_back(entry);
}
int MemoryDialogControls::GetCurSel(int id) {
    const auto lock = Enter();
    return At(id).current;
}

void MemoryDialogControls::SetCurSel(int id, int index) {
    const auto lock = Enter();
    Control& control = At(id);
    control.current = index >= 0 && index < static_cast<int>(control.entries.size()) ? index : -1;
}

void MemoryDialogControls::InsertColumn(int, int column, std::string_view heading, int) {
    const auto lock = Enter();
    column = std::clamp(column, 0, static_cast<int>(columns.size()));
    columns.insert(columns.begin() + column, std::string(heading));
}

// The list shows the table as the window's does: every change is copied into the rows at once.
void MemoryDialogControls::ShowTable(int, table::HomeNumberTable* shown) {
    const auto lock = Enter();
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
    markedRows.clear();
    rows.resize(static_cast<std::size_t>(m_table->RowCount()));
    for (std::int32_t p = first; p <= last; ++p) {
        const table::TableRow row = m_table->Row(p);
        rows[static_cast<std::size_t>(p)] = {row.num, row.tx, row.rx, row.pllTx, row.pllRx};
    }
}

int MemoryDialogControls::GetSelectionMark(int) {
    const auto lock = Enter();
    return selectedRow;
}
std::vector<int> MemoryDialogControls::GetSelectedRows(int) {
    const auto lock = Enter();
    if (!selectedRows.empty()) return selectedRows;
    return selectedRow >= 0 ? std::vector<int>{selectedRow} : std::vector<int>{};
}
void MemoryDialogControls::MarkRows(int, const std::vector<int>& positions) {
    const auto lock = Enter();
    markedRows = positions;
}
std::optional<std::string> MemoryDialogControls::GetClipboardText() {
    const auto lock = Enter();
    return clipboard;
}
void MemoryDialogControls::SetClipboardText(std::string_view text) {
    const auto lock = Enter();
    clipboard = std::string(text);
}
void MemoryDialogControls::AppendConsole(std::string_view text) {
    const auto lock = Enter();
    console.append(text);
}
void MemoryDialogControls::ClearConsole() {
    const auto lock = Enter();
    console.clear();
}
void MemoryDialogControls::ScrollConsoleTo(int firstVisibleLine) {
    const auto lock = Enter();
    consoleFirstLine = firstVisibleLine;
}

void MemoryDialogControls::ShowMessage(std::string_view text, std::string_view caption) {
    const auto lock = Enter();
    messages.push_back({std::string(text), std::string(caption), false});
}

bool MemoryDialogControls::AskYesNo(std::string_view text, std::string_view caption) {
    const auto lock = Enter();
    messages.push_back({std::string(text), std::string(caption), true});
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::NextFile(const FileChoice& choice) {
    const auto lock = Enter();
    fileChoices.push_back(choice);
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> MemoryDialogControls::ChooseSaveFile(const FileChoice& choice) {
    const auto lock = Enter();
    return NextFile(choice);
}
std::optional<std::string> MemoryDialogControls::ChooseOpenFile(const FileChoice& choice) {
    const auto lock = Enter();
    return NextFile(choice);
}
void MemoryDialogControls::EndDialog(int result) {
    const auto lock = Enter();
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
    const auto lock = Enter();
    unit();
}

namespace {
thread_local bool t_posted = false;  // the thread runs posted work, which the window's thread would run
}  // namespace

void MemoryDialogControls::Post(std::function<void()> work) {
    std::lock_guard lock(m_unit);
    const bool outer = t_posted;
    t_posted = true;
    work();
    t_posted = outer;
}

std::unique_lock<std::recursive_mutex> MemoryDialogControls::Enter() {
    if (std::this_thread::get_id() != m_windowThread && !t_posted) ++m_otherThreadCalls;
    return std::unique_lock(m_unit);
}
