#pragma once

// The home number table as CSV, for spreadsheets: a header line, then one line for each row that holds
// anything: Number, Tx, Rx, PLL Tx, PLL Rx. Settings and texts are not part of it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Outcome.h"
#include "table/HomeNumberTable.h"

namespace table {

// UTF-8 without a byte order mark (the table's 8-bit cells read as Latin-1), fields quoted as RFC 4180
// asks where they hold a separator, a quote or a line end, CR LF line ends.
std::string WriteCsv(const HomeNumberTable& table);

// One row of a CSV file, checked as Add checks what is typed: a home number 1 to 500, codes of two or
// three digits (or none), both of one length, PLL values only for home numbers 1 to 100.
struct CsvRow {
    std::int32_t number = 0;
    std::string tx;
    std::string rx;
    std::string pllTx;
    std::string pllRx;
    bool operator==(const CsvRow&) const = default;
};

// Why a row cannot be stored as Add would store it (its home number, its codes of digits, Add's checks);
// none when it can.
std::optional<std::string> CsvRowRefusal(const CsvRow& row);

// Reads CSV as WriteCsv writes it or as a spreadsheet saves it: ',' or ';' (';' when the first line has one),
// CR LF or LF, quoted fields, a byte order mark, empty lines, the header line or none, the PLL columns or
// none (where ';' separates, a PLL value's ',' is its decimal mark). Every row is checked before any is taken: a refusal is kInputRejected, its words naming the line
// ("line 7: ...").
Reading<std::vector<CsvRow>> ReadCsv(std::string_view text);

// The rows into the table, each as Add stores it, and the table marked changed when there were any.
void StoreCsvRows(const std::vector<CsvRow>& rows, HomeNumberTable& table);

}  // namespace table
