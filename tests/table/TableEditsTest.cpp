#include "table/TableEdits.h"

#include <gtest/gtest.h>

namespace table {
namespace {

// A table with home numbers 1, 100, 101 and 500 filled, the first two with PLL values.
void Fill(HomeNumberTable& t) {
    t.SetRow(1, "12", "34");
    t.SetPll(1, "45.5", "");
    t.SetRow(100, "123", "456");
    t.SetPll(100, "146.5", "400.0");
    t.SetRow(101, "56", "78");
    t.SetRow(500, "98", "76");
}

TEST(TableEditsTest, ACellEditIsCheckedAsAddChecksTheRowItMakes) {
    HomeNumberTable t;
    Fill(t);
    const struct {
        std::int32_t position;
        Column column;
        const char* text;
        CellEdit::Action action;
        std::string_view message;
        CsvRow row;
    } cases[] = {
        {0, kTxColumn, "21", CellEdit::Action::kStore, "", {1, "21", "34", "45.5", ""}},
        {0, kRxColumn, "345", CellEdit::Action::kMessage, "Invalid Rx/Tx value", {}},
        {0, kPllRxColumn, "6553.4", CellEdit::Action::kStore, "", {1, "12", "34", "45.5", "6553.4"}},
        {0, kPllTxColumn, "6553.5", CellEdit::Action::kMessage, "TxPLL and RxPLL must be less than 6553.5\r\n", {}},
        {0, kPllTxColumn, "146,5", CellEdit::Action::kMessage, "TxPLL and RxPLL must be numbers\r\n", {}},
        {0, kTxColumn, "1a", CellEdit::Action::kMessage, "Invalid Rx/Tx value", {}},
        {99, kPllTxColumn, "", CellEdit::Action::kStore, "", {100, "123", "456", "", "400.0"}},
        {100, kPllTxColumn, "45.5", CellEdit::Action::kNotEditable, "", {}},
        {499, kRxColumn, "77", CellEdit::Action::kStore, "", {500, "98", "77", "", ""}},
        {1, kTxColumn, "12", CellEdit::Action::kMessage, "Invalid Rx/Tx value", {}},  // Rx still empty
        {1, kPllTxColumn, "45.5", CellEdit::Action::kMessage, "Invalid Rx/Tx value", {}},
        {0, kNumColumn, "7", CellEdit::Action::kNotEditable, "", {}},
        {500, kTxColumn, "12", CellEdit::Action::kNotEditable, "", {}},
        {-1, kTxColumn, "12", CellEdit::Action::kNotEditable, "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.position) + " " + std::to_string(c.column) + " " + c.text);
        const CellEdit edit = CheckCellEdit(t, c.position, c.column, c.text);
        EXPECT_EQ(edit.action, c.action);
        EXPECT_EQ(edit.message, c.message);
        if (c.action == CellEdit::Action::kStore) {
            EXPECT_EQ(edit.row, c.row);
        }
    }
}

TEST(TableEditsTest, PastedLinesFillRowsFromTheSelectedOneDownOrSayWhichLineIsRefused) {
    const struct {
        const char* name;
        std::string text;
        std::int32_t position;
        std::vector<CsvRow> rows;
        std::string refusal;
    } cases[] = {
        {"our own copy, to other rows", "1\t12\t34\t45.5\t\r\n2\t\t\t\t\r\n", 9, {{10, "12", "34", "45.5", ""}, {11, "", "", "", ""}}, ""},
        {"codes alone, LF", "12\t34\n567\t890\n", 0, {{1, "12", "34", "", ""}, {2, "567", "890", "", ""}}, ""},
        {"codes and PLL values", "12\t34\t146.5\t400\r\n", 99, {{100, "12", "34", "146.5", "400"}}, ""},
        {"three cells: number, codes", "7\t12\t34", 0, {{1, "12", "34", "", ""}}, ""},
        {"three cells: codes, a PLL value", "12\t34\t45.5", 0, {{1, "12", "34", "45.5", ""}}, ""},
        {"a header and quoted cells", "Number\tTx\tRx\tPLL Tx\tPLL Rx\r\n5\t\"12\"\t34\t\t\r\n", 0, {{1, "12", "34", "", ""}}, ""},
        {"a header without Number", "Tx\tRx\r\n12\t34\r\n", 4, {{5, "12", "34", "", ""}}, ""},
        {"one-digit codes, stored as Add stores them", "5\t7\r\n", 0, {{1, "5", "7", "", ""}}, ""},
        {"the last row", "12\t34\r\n", 499, {{500, "12", "34", "", ""}}, ""},
        {"past the last row", "12\t34\r\n\r\n56\t78\r\n", 499, {}, "line 2: the rows would run past home number 500"},
        {"PLL values above 100", "12\t34\t45.5\t\r\n", 100, {}, "line 1: only home numbers 1 to 100 have PLL values"},
        {"codes of two lengths", "Tx\tRx\r\n12\t34\r\n12\t345\r\n", 0, {}, "line 3: Invalid Rx/Tx value"},
        {"a word for a code", "12\tab\r\n", 0, {}, "line 1: 'ab' is not a code of 2 or 3 digits"},
        {"one cell", "12\r\n", 0, {}, "line 1: a row needs Tx and Rx"},
        {"six cells", "1\t2\t3\t4\t5\t6\r\n", 0, {}, "line 1: a row has at most Number, Tx, Rx, PLL Tx and PLL Rx"},
        {"nothing", " \r\n\t\r\n", 0, {}, "nothing to paste: the clipboard holds no rows"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reading<std::vector<CsvRow>> got = ParsePaste(c.text, c.position);
        EXPECT_EQ(got.value.value_or(std::vector<CsvRow>{}), c.rows);
        EXPECT_EQ(got.outcome.reason, c.refusal);
        if (!c.refusal.empty()) {
            EXPECT_EQ(got.outcome.kind, Outcome::Kind::kInputRejected);
        }
    }
}

TEST(TableEditsTest, CopiedRowsPasteBackAsTheyWere) {
    HomeNumberTable from, to;
    Fill(from);
    const std::string text = CopyRows(from, {0, 99, 100, 499});
    EXPECT_EQ(text, "1\t12\t34\t45.5\t\r\n100\t123\t456\t146.5\t400.0\r\n101\t56\t78\t\t\r\n500\t98\t76\t\t\r\n");
    const auto rows = ParsePaste(text, 0);
    ASSERT_TRUE(rows.value) << rows.outcome.reason;
    StoreCsvRows(*rows.value, to);
    EXPECT_EQ(to.Row(1), (TableRow{"2", "123", "456", "146.5", "400.0"}));
    EXPECT_EQ(to.Row(3), (TableRow{"4", "98", "76", "", ""}));
}

TEST(TableEditsTest, FillGivesTheFirstRowsCodesOrCountsUpToTheLargestCode) {
    const struct {
        const char* name;
        std::string tx, rx;
        std::vector<std::int32_t> positions;
        FillMode mode;
        std::vector<std::pair<std::string, std::string>> codes;
        std::string refusal;
    } cases[] = {
        {"the same codes", "12", "34", {0, 1, 2}, FillMode::kSame, {{"12", "34"}, {"12", "34"}, {"12", "34"}}, ""},
        {"counting, leading zeros kept", "012", "998", {0, 5, 6}, FillMode::kCountUp, {{"012", "998"}, {"013", "999"}, {"014", ""}}, "home number 7 would need a code past 999"},
        {"up to 99", "97", "10", {0, 1, 2}, FillMode::kCountUp, {{"97", "10"}, {"98", "11"}, {"99", "12"}}, ""},
        {"past 99", "98", "10", {0, 1, 2}, FillMode::kCountUp, {}, "home number 3 would need a code past 99"},
        {"up to 999 at home number 500", "997", "100", {497, 498, 499}, FillMode::kCountUp, {{"997", "100"}, {"998", "101"}, {"999", "102"}}, ""},
        {"a first row without codes", "", "", {0, 1}, FillMode::kSame, {}, "home number 1 has no codes to fill with"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HomeNumberTable t;
        t.SetRow(c.positions.front() + 1, c.tx, c.rx);
        if (c.positions.front() < 100) t.SetPll(c.positions.front() + 1, "45.5", "");
        const auto got = FillRows(t, c.positions, c.mode);
        EXPECT_EQ(got.outcome.reason, c.refusal);
        if (!c.refusal.empty()) continue;
        ASSERT_TRUE(got.value);
        ASSERT_EQ(got.value->size(), c.codes.size());
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            EXPECT_EQ((*got.value)[i].number, c.positions[i] + 1);
            EXPECT_EQ((*got.value)[i].tx, c.codes[i].first);
            EXPECT_EQ((*got.value)[i].rx, c.codes[i].second);
        }
        EXPECT_EQ(got.value->front().pllTx, c.positions.front() < 100 ? "45.5" : "");
    }
}

TEST(TableEditsTest, EachChangeUndoesAsOneStepAndTheSavedStateIsUnchanged) {
    HomeNumberTable t;
    TableHistory history;
    const auto change = [&](auto&& what) {
        history.Begin(t);
        what();
        return history.End(t);
    };
    t.SetRow(7, "12", "34");  // as a table file left it
    history.MarkSaved();
    t.SetChanged(false);

    EXPECT_FALSE(change([] {}));  // nothing changed: no step
    EXPECT_FALSE(history.CanUndo());
    EXPECT_TRUE(change([&] { StoreCsvRows(ClearedRows({6}), t); }));
    EXPECT_TRUE(change([&] {
        for (std::int32_t n = 1; n <= 500; ++n) t.SetRow(n, "55", "66");  // as a Read All fills it
    }));
    EXPECT_TRUE(t.Changed());
    EXPECT_TRUE(history.Undo(t));
    EXPECT_EQ(t.Row(499), (TableRow{"500", "", "", "", ""}));
    EXPECT_TRUE(t.Changed());
    EXPECT_TRUE(history.Undo(t));
    EXPECT_EQ(t.Row(6), (TableRow{"7", "12", "34", "", ""}));
    EXPECT_FALSE(t.Changed());  // back at the saved state
    EXPECT_FALSE(history.Undo(t));
    EXPECT_TRUE(history.Redo(t));
    EXPECT_TRUE(t.Changed());
    // A new change drops the step undone; the saved state can then no longer be reached by redo.
    EXPECT_TRUE(change([&] { t.SetRow(1, "11", "22"); }));
    EXPECT_FALSE(history.CanRedo());
    EXPECT_TRUE(history.Undo(t));
    EXPECT_EQ(t.Row(0), (TableRow{"1", "", "", "", ""}));
    EXPECT_EQ(t.Row(6), (TableRow{"7", "", "", "", ""}));
    EXPECT_TRUE(t.Changed());

    // The oldest steps go past the limit, and with them a saved state before them.
    history.MarkSaved();
    for (std::size_t i = 0; i <= TableHistory::kMostSteps; ++i) {
        change([&] { t.SetRow(2, i % 2 ? "12" : "21", "34"); });
    }
    std::size_t undone = 0;
    while (history.Undo(t)) ++undone;
    EXPECT_EQ(undone, TableHistory::kMostSteps);
    EXPECT_TRUE(t.Changed());
}

}  // namespace
}  // namespace table
