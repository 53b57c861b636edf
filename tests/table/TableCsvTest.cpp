// The table as CSV: what a spreadsheet gets, and what it may give back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "table/TableCsv.h"

namespace {

using table::CsvRow;
using table::HomeNumberTable;

TEST(TableCsvTest, WritesTheFilledRowsQuotedWhereNeededAndReadsThemBackWhole) {
    HomeNumberTable table;
    table.SetRow(1, "123", "456");
    table.SetPll(1, "146.5", "151.2");
    table.SetRow(100, "12", "34");
    table.SetRow(500, "FFF", "FFF");
    table.SetRow(250, "", "");
    table.SetPll(7, "1,5", "");  // a cell holding the separator, as a table file may give it
    const std::string csv = table::WriteCsv(table);
    EXPECT_EQ(csv,
              "Number,Tx,Rx,PLL Tx,PLL Rx\r\n1,123,456,146.5,151.2\r\n7,,,\"1,5\",\r\n100,12,34,,\r\n"
              "500,FFF,FFF,,\r\n");
    // Every row goes back as it was, but the one a window could never have taken (a PLL value without
    // codes and not a number).
    const auto read = table::ReadCsv("Number,Tx,Rx,PLL Tx,PLL Rx\r\n1,123,456,146.5,151.2\r\n100,12,34,,\r\n500,FFF,FFF,,\r\n");
    ASSERT_TRUE(read.value) << read.outcome.reason;
    HomeNumberTable back;
    table::StoreCsvRows(*read.value, back);
    for (const int n : {1, 100, 500}) EXPECT_EQ(back.Row(n - 1), table.Row(n - 1)) << n;
    EXPECT_TRUE(back.Changed());
}

TEST(TableCsvTest, ReadsWhatSpreadsheetsWrite) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<CsvRow> rows;
    };
    const std::vector<Case> cases{
        {"the header and LF line ends", "Number,Tx,Rx,PLL Tx,PLL Rx\n7,123,456,146.5,\n",
         {{7, "123", "456", "146.5", ""}}},
        {"no header, semicolons and decimal commas, CR LF", "7;123;456;146,5;\r\n8;12;34;;\r\n",
         {{7, "123", "456", "146.5", ""}, {8, "12", "34", "", ""}}},
        {"a byte order mark, quotes, empty lines", "\xEF\xBB\xBFNumber,Tx,Rx\r\n\r\n\"9\",\"123\",\"456\"\r\n\r\n",
         {{9, "123", "456", "", ""}}},
        {"no PLL columns, one digit codes as Add takes them", "500,5,6\n", {{500, "5", "6", "", ""}}},
        {"no line end after the last line", "1,11,22", {{1, "11", "22", "", ""}}},
    };
    for (const Case& c : cases) {
        const auto read = table::ReadCsv(c.text);
        ASSERT_TRUE(read.value) << c.what << ": " << read.outcome.reason;
        EXPECT_EQ(*read.value, c.rows) << c.what;
    }
}

TEST(TableCsvTest, RefusesTheWholeFileAndNamesTheLine) {
    struct Case {
        std::string text;
        std::string why;
    };
    const std::vector<Case> cases{
        {"Number,Tx,Rx\n1,123,456\n501,123,456\n", "line 3: home number 501 is not one of 1 to 500"},
        {"1,123,456\n0,1,2\n", "line 2: home number 0 is not one of 1 to 500"},
        {"1,123\n", "line 1: a row needs Number, Tx and Rx"},
        {"1,123,456,1,2,3\n", "line 1: a row has at most 5 columns"},
        {"x,123,456\n", "line 1: 'x' is not a home number"},
        {"Number,Tx,Rx\nseven,123,456\n", "line 2: 'seven' is not a home number"},
        {"1,12a,456\n", "line 1: '12a' is not a code of 2 or 3 digits"},
        {"1,1234,456\n", "line 1: '1234' is not a code of 2 or 3 digits"},
        {"1,12,456\n", "line 1: Invalid Rx/Tx value"},
        {"101,12,34,146.5,\n", "line 1: only home numbers 1 to 100 have PLL values"},
        {"1,12,34,abc,\n", "line 1: TxPLL and RxPLL must be numbers"},
        {"1,12,34,\"146.5\n", "line 1: a quote is not closed"},
        {"1,\xE2\x82\xAC,34\n", "line 1: a character beyond the program's 8-bit texts"},
    };
    for (const Case& c : cases) {
        const auto read = table::ReadCsv(c.text);
        EXPECT_FALSE(read.value) << c.text;
        EXPECT_EQ(read.outcome.kind, Outcome::Kind::kInputRejected) << c.text;
        EXPECT_EQ(read.outcome.reason, c.why) << c.text;
    }
}

}  // namespace
