// The table editor's commands in the window's logic, against the in-memory window: what each change does to
// the table and the unsaved mark, what a refusal says, and how each undoes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

using Row = std::vector<std::string>;

class TableEditorTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.OnInitDialog(); }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void Add(const std::string& number, const std::string& tx, const std::string& rx) {
        controls.SetDlgItemText(ctl::kNumberEdit, number);
        controls.SetDlgItemText(ctl::kTxEdit, tx);
        controls.SetDlgItemText(ctl::kRxEdit, rx);
        dialog.OnAdd();
    }
    void Select(std::vector<int> rows) {
        controls.selectedRow = rows.front();
        controls.selectedRows = std::move(rows);
    }
    std::string LastMessage() const { return controls.messages.empty() ? "" : controls.messages.back().text; }
    std::string File(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories(folder);
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vantor-editor-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// Every kind of change is one step: undoing them all comes back to the saved table, and the unsaved
// mark with it; redoing them gives each back.
TEST_F(TableEditorTest, EachChangeIsOneStepAndUndoingToTheSavedTableClearsTheMark) {
    Add("7", "12", "34");
    EXPECT_TRUE(dialog.OnCellEdited(6, table::kRxColumn, "35"));
    controls.clipboard = "Number\tTx\tRx\tPLL Tx\tPLL Rx\r\n1\t56\t78\t146.5\t\r\n2\t57\t79\t\t\r\n";
    Select({99});
    dialog.OnPasteRows();  // rows 100 and 101: the PLL value goes to 100
    Select({6, 99});
    dialog.OnFillCountUp();
    Select({6});
    dialog.OnClearRows();
    const std::vector<std::pair<int, Row>> after = {
        {6, {"7", "", "", "", ""}}, {99, {"100", "13", "36", "146.5", ""}}, {100, {"101", "57", "79", "", ""}}};
    for (const auto& [p, row] : after) EXPECT_EQ(controls.rows[p], row) << p;
    EXPECT_TRUE(dialog.TableChanged());

    const std::vector<std::vector<std::pair<int, Row>>> undone = {
        {{6, {"7", "12", "35", "", ""}}},                                       // the clear
        {{6, {"7", "12", "35", "", ""}}, {99, {"100", "56", "78", "146.5", ""}}},  // the fill
        {{99, {"100", "", "", "", ""}}, {100, {"101", "", "", "", ""}}},          // the paste
        {{6, {"7", "12", "34", "", ""}}},                                       // the cell
        {{6, {"7", "", "", "", ""}}},                                           // the Add
    };
    for (const auto& rows : undone) {
        dialog.OnUndo();
        for (const auto& [p, row] : rows) EXPECT_EQ(controls.rows[p], row) << p;
    }
    EXPECT_FALSE(dialog.TableChanged());
    EXPECT_FALSE(dialog.CanUndo());
    for (std::size_t i = 0; i < undone.size(); ++i) dialog.OnRedo();
    for (const auto& [p, row] : after) EXPECT_EQ(controls.rows[p], row) << p;
    EXPECT_TRUE(dialog.TableChanged());
    EXPECT_TRUE(controls.messages.empty());
}

// A refusal says why in Add's message box and changes nothing, the unsaved mark included.
TEST_F(TableEditorTest, ARefusedEditPasteOrFillChangesNothingAndSaysWhy) {
    Add("500", "98", "76");
    dialog.OnSaveAs();  // no file chosen: the table stays unsaved
    const struct {
        const char* name;
        std::function<void()> run;
        std::string message;
    } cases[] = {
        {"a cell of other length", [&] { EXPECT_FALSE(dialog.OnCellEdited(499, table::kTxColumn, "987")); }, "Invalid Rx/Tx value"},
        {"a PLL value too large", [&] { EXPECT_FALSE(dialog.OnCellEdited(0, table::kPllTxColumn, "6553.5")); },
         "TxPLL and RxPLL must be less than 6553.5\r\n"},
        {"a paste past 500",
         [&] {
             controls.clipboard = "11\t22\r\n33\t44\r\n";
             Select({499});
             dialog.OnPasteRows();
         },
         "Nothing was pasted.\r\nline 2: the rows would run past home number 500"},
        {"a paste into nothing chosen",
         [&] {
             controls.selectedRow = -1;
             controls.selectedRows.clear();
             dialog.OnPasteRows();
         },
         "Choose the row to paste at first."},
        {"a fill from a row without codes",
         [&] {
             Select({498, 499});
             dialog.OnFillCountUp();
         },
         "Nothing was filled.\r\nhome number 499 has no codes to fill with"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controls.messages.clear();
        const std::vector<Row> before = controls.rows;
        c.run();
        EXPECT_EQ(LastMessage(), c.message);
        EXPECT_EQ(controls.messages.back().caption, "Invalid entry");
        EXPECT_EQ(controls.rows, before);
    }
    EXPECT_FALSE(dialog.OnCellEdited(100, table::kPllTxColumn, "45.5"));  // no PLL cells above 100
    EXPECT_FALSE(dialog.OnCellEdited(0, table::kNumColumn, "2"));
}

// Export writes the rows as CSV; Import takes them back in place of the whole table, after Open's
// question, and is undone as one step. A file with a refused row changes nothing.
TEST_F(TableEditorTest, CsvGoesOutAndComesBackAsOneStep) {
    Add("1", "12", "34");
    controls.SetDlgItemText(ctl::kNumberEdit, "100");
    controls.SetDlgItemText(ctl::kPllTxEdit, "146.5");
    Add("100", "123", "456");
    const std::string exported = (folder / "table.csv").string();
    std::filesystem::create_directories(folder);
    controls.fileAnswers = {exported};
    dialog.OnExportCsv();
    EXPECT_EQ(Contents(exported), "Number,Tx,Rx,PLL Tx,PLL Rx\r\n1,12,34,,\r\n100,123,456,146.5,\r\n");
    EXPECT_TRUE(dialog.TableChanged());  // settings are not in a CSV: the table is not saved

    const std::string bad = File("bad.csv", "Number;Tx;Rx\r\n7;12;34\r\n501;12;34\r\n");
    controls.yesNoAnswers = {true};
    controls.fileAnswers = {bad};
    dialog.OnImportCsv();
    EXPECT_EQ(LastMessage(), "Nothing was imported.\r\nline 3: home number 501 is not one of 1 to 500");
    EXPECT_EQ(controls.rows[0], (Row{"1", "12", "34", "", ""}));

    const std::string good = File("good.csv", "7;12;34\r\n");
    controls.yesNoAnswers = {false, true};
    controls.fileAnswers = {good};
    dialog.OnImportCsv();  // No: nothing asked for, nothing read
    EXPECT_EQ(controls.fileAnswers.size(), 1U);
    dialog.OnImportCsv();
    EXPECT_EQ(controls.rows[0], (Row{"1", "", "", "", ""}));
    EXPECT_EQ(controls.rows[6], (Row{"7", "12", "34", "", ""}));
    EXPECT_EQ(controls.rows[99], (Row{"100", "", "", "", ""}));
    EXPECT_EQ(controls.messages.back().caption, "Import CSV Notice");
    dialog.OnUndo();
    EXPECT_EQ(controls.rows[99], (Row{"100", "123", "456", "146.5", ""}));
    EXPECT_EQ(controls.rows[6], (Row{"7", "", "", "", ""}));
}

// Open and Save mark the saved table: undoing an Open brings the old rows back as unsaved, and undoing
// back to what was saved clears the mark.
TEST_F(TableEditorTest, OpenIsAStepAndSaveMarksTheSavedTable) {
    Add("3", "12", "34");
    const std::string saved = (folder / "saved.txt").string();
    std::filesystem::create_directories(folder);
    controls.fileAnswers = {saved};
    dialog.OnSaveAs();
    EXPECT_FALSE(dialog.TableChanged());
    Add("4", "56", "78");
    dialog.OnUndo();
    EXPECT_FALSE(dialog.TableChanged());
    dialog.OnRedo();
    EXPECT_TRUE(dialog.TableChanged());

    const std::string other = File("other.txt", "SerialNumber: S\r\nChannels: \r\n9 11 22 \r\n");
    controls.yesNoAnswers = {true};
    controls.fileAnswers = {other};
    dialog.OnOpen();
    EXPECT_EQ(controls.rows[8], (Row{"9", "11", "22", "", ""}));
    EXPECT_FALSE(dialog.TableChanged());
    dialog.OnUndo();
    EXPECT_EQ(controls.rows[3], (Row{"4", "56", "78", "", ""}));
    EXPECT_EQ(controls.rows[8], (Row{"9", "", "", "", ""}));
    EXPECT_TRUE(dialog.TableChanged());
    dialog.OnRedo();
    EXPECT_FALSE(dialog.TableChanged());
}

}  // namespace
