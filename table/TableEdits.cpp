#include "table/TableEdits.h"

#include <algorithm>

#include "table/HomeNumberRules.h"

namespace table {

namespace {

using Rows = Reading<std::vector<CsvRow>>;

Rows Refused(std::string why) { return Rows::Failed(Outcome::Failed(Outcome::Kind::kInputRejected, std::move(why))); }

CsvRow RowAt(const HomeNumberTable& table, std::int32_t position) {
    const TableRow row = table.Row(position);
    return {position + 1, row.tx, row.rx, row.pllTx, row.pllRx};
}

bool IsDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The cells of pasted text, line by line; a line of nothing but white space holds none.
std::vector<std::vector<std::string>> PastedLines(std::string_view text) {
    std::vector<std::vector<std::string>> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        std::vector<std::string> cells;
        for (;;) {
            const std::size_t tab = line.find('\t');
            std::string_view cell = line.substr(0, tab);
            // A spreadsheet may quote a cell; the codes and values never hold a quote.
            if (cell.size() >= 2 && cell.front() == '"' && cell.back() == '"') cell = cell.substr(1, cell.size() - 2);
            while (!cell.empty() && cell.front() == ' ') cell.remove_prefix(1);
            while (!cell.empty() && cell.back() == ' ') cell.remove_suffix(1);
            cells.emplace_back(cell);
            if (tab == std::string_view::npos) break;
            line.remove_prefix(tab + 1);
        }
        lines.push_back(std::move(cells));
    }
    return lines;
}

// Whether the lines begin with the Number column: five cells, or three whose third is a code (a PLL value
// has a decimal mark or is not a code's two or three digits).
bool HasNumberColumn(const std::vector<std::vector<std::string>>& lines) {
    return std::all_of(lines.begin(), lines.end(), [](const std::vector<std::string>& cells) {
        if (cells.size() == 5) return true;
        return cells.size() == 3 && IsDigits(cells[0]) && (cells[2].empty() || IsWireCode(cells[2]));
    });
}

// The next code counting up from one, keeping its length; none past its largest.
std::optional<std::string> Counted(const std::string& code, std::int32_t step) {
    std::int32_t value = 0;
    for (const char c : code) value = value * 10 + (c - '0');
    value += step;
    const std::int32_t largest = code.size() == 2 ? 99 : 999;
    if (value > largest) return std::nullopt;
    std::string text = std::to_string(value);
    return std::string(code.size() - text.size(), '0') + text;
}

}  // namespace

CellEdit CheckCellEdit(const HomeNumberTable& table, std::int32_t position, Column column, std::string_view text) {
    CellEdit edit;
    if (position < 0 || position >= table.RowCount() || column == kNumColumn || column >= kColumnCount) return edit;
    const bool pll = column == kPllTxColumn || column == kPllRxColumn;
    if (pll && position + 1 > kPllHomeNumbers) return edit;
    CsvRow row = RowAt(table, position);
    std::string* cells[] = {nullptr, &row.tx, &row.rx, &row.pllTx, &row.pllRx};
    *cells[column] = text;
    SilentLog log;
    const AddDecision decision = CheckAdd({row.number, row.tx, row.rx, row.pllTx, row.pllRx}, table.RowCount(), log);
    if (decision.action == AddDecision::Action::kMessage) {
        edit.action = CellEdit::Action::kMessage;
        edit.message = decision.message;
        return edit;
    }
    // Add's edits take digits only; a cell typed over by other means is held to the same.
    if (const auto why = RowRefusal(decision.codes, row.pllTx, row.pllRx, position + 1 <= kPllHomeNumbers)) {
        edit.action = CellEdit::Action::kMessage;
        edit.message = *why;
        return edit;
    }
    edit.action = CellEdit::Action::kStore;
    edit.row = std::move(row);
    return edit;
}

std::string CopyRows(const HomeNumberTable& table, const std::vector<std::int32_t>& positions) {
    std::string text;
    for (const std::int32_t position : positions) {
        if (position < 0 || position >= table.RowCount()) continue;
        const TableRow row = table.Row(position);
        text += std::to_string(position + 1) + "\t" + row.tx + "\t" + row.rx + "\t" + row.pllTx + "\t" + row.pllRx +
                "\r\n";
    }
    return text;
}

Rows ParsePaste(std::string_view text, std::int32_t firstPosition) {
    std::vector<std::vector<std::string>> lines = PastedLines(text);
    std::size_t lineNumber = 1;  // of the first line kept, counting lines with cells
    std::optional<bool> numbered;  // as a header says
    if (!lines.empty() && (lines.front().front() == "Number" || lines.front().front() == "Tx")) {
        numbered = lines.front().front() == "Number";
        lines.erase(lines.begin());
        lineNumber = 2;
    }
    if (lines.empty()) return Refused("nothing to paste: the clipboard holds no rows");
    if (!numbered) numbered = HasNumberColumn(lines);
    std::vector<CsvRow> rows;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string where = "line " + std::to_string(lineNumber + i) + ": ";
        std::vector<std::string> cells = lines[i];
        if (*numbered) cells.erase(cells.begin());
        if (cells.size() < 2) return Refused(where + "a row needs Tx and Rx");
        if (cells.size() > 4) return Refused(where + "a row has at most Number, Tx, Rx, PLL Tx and PLL Rx");
        cells.resize(4);
        const std::int32_t number = firstPosition + 1 + static_cast<std::int32_t>(i);
        if (number > HomeNumberTable::kRows) {
            return Refused(where + "the rows would run past home number " + std::to_string(HomeNumberTable::kRows));
        }
        CsvRow row{number, cells[0], cells[1], cells[2], cells[3]};
        if (const auto why = CsvRowRefusal(row)) return Refused(where + *why);
        rows.push_back(std::move(row));
    }
    return Rows::Of(std::move(rows));
}

std::vector<CsvRow> ClearedRows(const std::vector<std::int32_t>& positions) {
    std::vector<CsvRow> rows;
    for (const std::int32_t position : positions) {
        if (position >= 0 && position < HomeNumberTable::kRows) rows.push_back({position + 1, "", "", "", ""});
    }
    return rows;
}

Rows FillRows(const HomeNumberTable& table, const std::vector<std::int32_t>& positions, FillMode mode) {
    if (positions.empty()) return Refused("no rows are selected");
    const CsvRow first = RowAt(table, positions.front());
    const Codes codes{StoredCode(first.tx), StoredCode(first.rx)};
    if (codes.tx.empty() || codes.rx.empty() || !IsWireCode(codes.tx) || !IsWireCode(codes.rx)) {
        return Refused("home number " + std::to_string(first.number) + " has no codes to fill with");
    }
    std::vector<CsvRow> rows;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        CsvRow row = RowAt(table, positions[i]);
        row.tx = codes.tx;
        row.rx = codes.rx;
        if (mode == FillMode::kCountUp) {
            const auto step = static_cast<std::int32_t>(i);
            const std::optional<std::string> tx = Counted(codes.tx, step), rx = Counted(codes.rx, step);
            if (!tx || !rx) {
                return Refused("home number " + std::to_string(row.number) + " would need a code past " +
                               (!tx ? std::string(codes.tx.size(), '9') : std::string(codes.rx.size(), '9')));
            }
            row.tx = *tx;
            row.rx = *rx;
        }
        rows.push_back(std::move(row));
    }
    return Rows::Of(std::move(rows));
}

void TableHistory::Begin(const HomeNumberTable& table) { m_begun = table.Rows(); }

bool TableHistory::End(HomeNumberTable& table) {
    const std::vector<TableRow> now = table.Rows();
    Step step;
    for (std::size_t p = 0; p < now.size() && p < m_begun.size(); ++p) {
        if (now[p] == m_begun[p]) continue;
        step.positions.push_back(static_cast<std::int32_t>(p));
        step.before.push_back(m_begun[p]);
        step.after.push_back(now[p]);
    }
    m_begun.clear();
    if (step.positions.empty()) return false;
    m_steps.resize(m_position);
    if (m_saved && *m_saved > m_position) m_saved.reset();
    m_steps.push_back(std::move(step));
    if (m_steps.size() > kMostSteps) {
        m_steps.erase(m_steps.begin());
        if (m_saved) m_saved = *m_saved == 0 ? std::nullopt : std::optional<std::size_t>(*m_saved - 1);
    }
    m_position = m_steps.size();
    table.SetChanged(m_saved != m_position);
    return true;
}

bool TableHistory::Undo(HomeNumberTable& table) {
    if (!CanUndo()) return false;
    Apply(table, m_steps[--m_position], true);
    return true;
}

bool TableHistory::Redo(HomeNumberTable& table) {
    if (!CanRedo()) return false;
    Apply(table, m_steps[m_position++], false);
    return true;
}

void TableHistory::Apply(HomeNumberTable& table, const Step& step, bool undo) {
    table.PutRows(step.positions, undo ? step.before : step.after);
    table.SetChanged(m_saved != m_position);
}

}  // namespace table
