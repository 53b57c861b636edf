#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The home number table itself: 500 rows of five texts, the row at position p holding home number p + 1.
// It is the one copy of the table; the window's list shows it, the transfers, the table file and the
// command line read and write it.
//
// Thread safety: every operation takes the table's one mutex for its whole length, and the change
// notification is called after the mutex is released, on the thread that made the change, with only the
// range of rows that changed; whoever shows the table reads it again from there.
namespace table {

enum Column { kNumColumn, kTxColumn, kRxColumn, kPllTxColumn, kPllRxColumn, kColumnCount };

struct TableRow {
    std::string num;  // the home number as shown: its decimal form, or the text a table file gave
    std::string tx;
    std::string rx;
    std::string pllTx;
    std::string pllRx;
    bool operator==(const TableRow&) const = default;
    const std::string& Cell(Column column) const;
};

class HomeNumberTable {
public:
    static constexpr std::int32_t kRows = 500;

    explicit HomeNumberTable(std::int32_t rows = kRows);
    HomeNumberTable(const HomeNumberTable&) = delete;
    HomeNumberTable& operator=(const HomeNumberTable&) = delete;

    std::int32_t RowCount() const { return static_cast<std::int32_t>(m_rows.size()); }
    bool IsRow(std::int32_t homeNumber) const { return homeNumber >= 1 && homeNumber <= RowCount(); }

    // Every row empty again, its Num cell the decimal form of its home number.
    void Reset();
    // Replaces the row of a home number (its atoi value, for a text): Num as given, the codes as given,
    // the PLL cells empty. A home number outside 1 to the row count names no row and changes nothing.
    void SetRow(std::string_view homeNumberText, std::string_view tx, std::string_view rx);
    void SetRow(std::int32_t homeNumber, std::string_view tx, std::string_view rx);
    // Sets the two PLL cells of a home number's row; its other cells stay.
    void SetPll(std::int32_t homeNumber, std::string_view pllTx, std::string_view pllRx);

    // Puts whole rows (their Num cells too) at the positions, each position with the row of the same
    // index, and notifies once for the range they span. Positions outside the table are passed over.
    void PutRows(const std::vector<std::int32_t>& positions, const std::vector<TableRow>& rows);

    // A row by position (0 is home number 1); an empty row outside the table.
    TableRow Row(std::int32_t position) const;
    std::vector<TableRow> Rows() const;

    // Whether a row has been stored by the operator or from the device since the start, the last save or
    // the last load. Row operations leave it alone: their callers say what a change means.
    bool Changed() const { return m_changed.load(); }
    void SetChanged(bool changed) { m_changed = changed; }

    // Called after rows firstPosition to lastPosition changed: replaced whole (a row stored, the table reset:
    // a list shows new rows, not selected), or only in their PLL cells. Set it before the table is shared.
    using ChangeListener =
        std::function<void(std::int32_t firstPosition, std::int32_t lastPosition, bool replaced)>;
    void SetChangeListener(ChangeListener listener) { m_listener = std::move(listener); }

private:
    void Notify(std::int32_t first, std::int32_t last, bool replaced) const;

    mutable std::mutex m_mutex;
    std::vector<TableRow> m_rows;  // guarded by m_mutex
    std::atomic<bool> m_changed{false};
    ChangeListener m_listener;
};

}  // namespace table
