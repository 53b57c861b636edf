#pragma once

// The table editor's work on the home number table, apart from any window: the checks of a cell edited in
// place, rows copied as a spreadsheet takes them and pasted back, rows cleared or filled, and the history
// that undoes and redoes each change as one step.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Outcome.h"
#include "table/HomeNumberTable.h"
#include "table/TableCsv.h"

namespace table {

// A cell of the Tx, Rx, PLL Tx or PLL Rx column typed over in place, checked as Add checks the row it
// would make. kStore: the row to store; kMessage: Add's message box text (caption kInvalidEntryCaption);
// kNotEditable: the Number column, or a PLL cell of a home number above 100, which nothing changes.
struct CellEdit {
    enum class Action { kStore, kMessage, kNotEditable };
    Action action = Action::kNotEditable;
    CsvRow row;
    std::string_view message;
};
CellEdit CheckCellEdit(const HomeNumberTable& table, std::int32_t position, Column column, std::string_view text);

// The rows at the positions as tab-separated lines (Number, Tx, Rx, PLL Tx, PLL Rx, CR LF after each),
// which spreadsheets paste as cells.
std::string CopyRows(const HomeNumberTable& table, const std::vector<std::int32_t>& positions);

// Pasted text (tabs between cells, CR LF or LF between lines) as rows from the position down, one line a
// row: Tx and Rx, then the PLL values if there are any. A line may begin with the Number column, which is
// then passed over: a header naming it, lines of five cells, or of three whose third is a code rather than
// a PLL value say so. Every row is checked as Add checks it before any is taken; a refusal is
// kInputRejected, its words naming the line ("line 3: ...").
Reading<std::vector<CsvRow>> ParsePaste(std::string_view text, std::int32_t firstPosition);

// The rows at the positions with their codes and PLL values taken away.
std::vector<CsvRow> ClearedRows(const std::vector<std::int32_t>& positions);

// Fill over rows at the positions (in order, the first giving the codes): the first row's codes in every
// row, or counting up from them one a row, each keeping its length (012, 013, ...). A count that would
// run past 99 or 999 is refused, naming the row; so is a first row without codes. PLL values stay.
enum class FillMode { kSame, kCountUp };
Reading<std::vector<CsvRow>> FillRows(const HomeNumberTable& table, const std::vector<std::int32_t>& positions,
                                      FillMode mode);

// The table's history: each change is one step, recorded as the rows it changed, before and after. A
// change is bracketed by Begin (which remembers the table) and End (which records what differs), so a
// change made by any means (Add, a cell edit, a paste, a clear, a fill, a load, a Read All) undoes as one.
// The saved mark is the step the table was last saved or loaded at; undoing or redoing back to it makes the
// table unchanged again. Used on one thread.
class TableHistory {
public:
    // How many steps are kept; the oldest goes first.
    static constexpr std::size_t kMostSteps = 200;

    void Begin(const HomeNumberTable& table);
    // Records the rows that differ from Begin's as a step (none when nothing differs) and marks the table
    // changed or not by where the step leaves it against the saved mark. Steps undone before are dropped.
    bool End(HomeNumberTable& table);
    bool Undo(HomeNumberTable& table);
    bool Redo(HomeNumberTable& table);
    bool CanUndo() const { return m_position > 0; }
    bool CanRedo() const { return m_position < m_steps.size(); }
    // The table as it stands is the one saved (or loaded).
    void MarkSaved() { m_saved = m_position; }

private:
    struct Step {
        std::vector<std::int32_t> positions;
        std::vector<TableRow> before;
        std::vector<TableRow> after;
    };
    void Apply(HomeNumberTable& table, const Step& step, bool undo);

    std::vector<TableRow> m_begun;
    std::vector<Step> m_steps;
    std::size_t m_position = 0;  // steps before it are done, from it on undone
    // The step count at the last save; none once the saved state's step has been dropped.
    std::optional<std::size_t> m_saved = 0;
};

}  // namespace table
