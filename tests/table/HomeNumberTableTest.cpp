#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "table/HomeNumberTable.h"

namespace {

using table::HomeNumberTable;
using table::TableRow;

// Each operation on a table holding row 7 {"7", "12", "34", "45.5", "1.5"}: the rows it leaves, and the
// ranges it reports as changed (none for a number that names no row).
TEST(HomeNumberTable, RowOperationsKeepFiveHundredRowsAndReportWhatChanged) {
    using Operation = void (*)(HomeNumberTable&);
    const struct {
        const char* name;
        Operation operation;
        std::vector<std::pair<int, TableRow>> rows;       // position, row
        std::vector<std::tuple<int, int, bool>> changes;  // first, last, replaced whole
    } cases[] = {
        {"row 500",
         [](HomeNumberTable& t) { t.SetRow(500, "98", "76"); },
         {{499, {"500", "98", "76", "", ""}}},
         {{499, 499, true}}},
        {"row 1 by text",
         [](HomeNumberTable& t) { t.SetRow("001", "1", "2"); },
         {{0, {"001", "1", "2", "", ""}}},
         {{0, 0, true}}},
        {"a row empties its PLL cells",
         [](HomeNumberTable& t) { t.SetRow(7, "", ""); },
         {{6, {"7", "", "", "", ""}}},
         {{6, 6, true}}},
        {"PLL cells alone",
         [](HomeNumberTable& t) { t.SetPll(7, "", "2.5"); },
         {{6, {"7", "12", "34", "", "2.5"}}},
         {{6, 6, false}}},
        {"PLL on row 100",
         [](HomeNumberTable& t) { t.SetPll(100, "146.5", ""); },
         {{99, {"100", "", "", "146.5", ""}}},
         {{99, 99, false}}},
        {"row 501",
         [](HomeNumberTable& t) { t.SetRow(501, "12", "34"); },
         {{6, {"7", "12", "34", "45.5", "1.5"}}},
         {}},
        {"row 0 by text", [](HomeNumberTable& t) { t.SetRow("abc", "12", "34"); }, {}, {}},
        {"PLL of row -1", [](HomeNumberTable& t) { t.SetPll(-1, "1", "2"); }, {}, {}},
        {"reset",
         [](HomeNumberTable& t) { t.Reset(); },
         {{0, {"1", "", "", "", ""}}, {6, {"7", "", "", "", ""}}, {499, {"500", "", "", "", ""}}},
         {{0, 499, true}}},
    };
    for (const auto& c : cases) {
        HomeNumberTable table;
        table.SetRow(7, "12", "34");
        table.SetPll(7, "45.5", "1.5");
        table.SetChanged(true);
        std::vector<std::tuple<int, int, bool>> changes;
        table.SetChangeListener(
            [&](int first, int last, bool replaced) { changes.emplace_back(first, last, replaced); });
        c.operation(table);
        EXPECT_EQ(table.RowCount(), 500) << c.name;
        EXPECT_EQ(table.Rows().size(), 500U) << c.name;
        for (const auto& [position, row] : c.rows) EXPECT_EQ(table.Row(position), row) << c.name;
        EXPECT_EQ(changes, c.changes) << c.name;
        EXPECT_TRUE(table.Changed()) << c.name << ": the mark is the caller's to set";
    }
    HomeNumberTable table;
    EXPECT_EQ(table.Row(500), TableRow{});
    EXPECT_EQ(table.Row(-1), TableRow{});
    EXPECT_FALSE(table.Changed());
}

// A writer and a reader on two threads: a reader sees each row whole, its PLL cells empty (between the
// row and its PLL values) or from the same round.
TEST(HomeNumberTable, AReaderOnAnotherThreadSeesRowsWhole) {
    HomeNumberTable table;
    std::thread writer([&] {
        for (int round = 0; round < 200; ++round) {
            for (int n = 1; n <= 100; ++n) {
                const std::string code = std::to_string(100 + round % 900);
                table.SetRow(n, code, code);
                table.SetPll(n, code, code);
            }
        }
    });
    int rowsRead = 0;
    while (table.Row(99).tx != "299") {
        const TableRow row = table.Row(rowsRead++ % 100);
        ASSERT_EQ(row.tx, row.rx);
        ASSERT_TRUE(row.pllRx.empty() || row.pllRx == row.tx) << row.tx << " " << row.pllRx;
    }
    writer.join();
    EXPECT_EQ(table.Row(99), (TableRow{"100", "299", "299", "299", "299"}));
}

}  // namespace
