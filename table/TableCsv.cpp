#include "table/TableCsv.h"

#include <algorithm>
#include <optional>

#include "table/HomeNumberRules.h"

namespace table {

namespace {

constexpr std::string_view kHeader = "Number,Tx,Rx,PLL Tx,PLL Rx\r\n";

// A home number as a spreadsheet writes it: digits alone, at most nine of them.
std::optional<std::int32_t> ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int32_t number = 0;
    for (const char c : text) number = number * 10 + (c - '0');
    return number;
}

std::string Utf8FromLatin1(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

// None when the text holds a character beyond Latin-1 or is not UTF-8.
std::optional<std::string> Latin1FromUtf8(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F)));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

std::string Field(std::string_view cell) {
    const std::string text = Utf8FromLatin1(cell);
    if (text.find_first_of(",;\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The fields of each line that holds any; a quoted field may hold separators and line ends.
struct Line {
    std::size_t number = 0;
    std::vector<std::string> fields;
};
// Where ';' separates, ',' is the decimal mark ("146,5"): a first line with a ';' has it.
char SeparatorOf(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n")).find(';') != std::string_view::npos ? ';' : ',';
}

Reading<std::vector<Line>> SplitLines(std::string_view text) {
    const char separator = SeparatorOf(text);
    std::vector<Line> lines;
    Line line{1, {}};
    std::string field;
    bool quoted = false, fieldStarted = false, any = false;
    const auto endField = [&] {
        line.fields.push_back(field);
        field.clear();
        fieldStarted = false;
    };
    const auto endLine = [&](std::size_t next) {
        endField();
        if (any) lines.push_back(line);
        line = Line{next, {}};
        any = false;
    };
    std::size_t number = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n') ++number;
                field.push_back(c);
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = any = true;
        } else if (c == separator) {
            endField();
            any = true;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endLine(++number);
        } else {
            field.push_back(c);
            fieldStarted = any = true;
        }
    }
    if (quoted) {
        return Reading<std::vector<Line>>::Failed(Outcome::Failed(
            Outcome::Kind::kInputRejected, "line " + std::to_string(line.number) + ": a quote is not closed"));
    }
    endLine(number + 1);
    return Reading<std::vector<Line>>::Of(std::move(lines));
}

}  // namespace

std::optional<std::string> CsvRowRefusal(const CsvRow& row) {
    if (row.number < 1 || row.number > HomeNumberTable::kRows) {
        return "home number " + std::to_string(row.number) + " is not one of 1 to " +
               std::to_string(HomeNumberTable::kRows);
    }
    for (const std::string* code : {&row.tx, &row.rx}) {
        if (!IsWireCode(StoredCode(*code)) && *code != "FFF") return "'" + *code + "' is not a code of 2 or 3 digits";
    }
    if (row.number > kPllHomeNumbers && (!row.pllTx.empty() || !row.pllRx.empty())) {
        return "only home numbers 1 to " + std::to_string(kPllHomeNumbers) + " have PLL values";
    }
    SilentLog log;
    const AddDecision decision = CheckAdd({row.number, row.tx, row.rx, row.pllTx, row.pllRx}, HomeNumberTable::kRows, log);
    if (decision.action == AddDecision::Action::kMessage) {
        std::string why(decision.message);
        while (why.ends_with("\r\n")) why.resize(why.size() - 2);
        return why;
    }
    return std::nullopt;
}


std::string WriteCsv(const HomeNumberTable& table) {
    std::string text(kHeader);
    const std::vector<TableRow> rows = table.Rows();
    for (std::size_t p = 0; p < rows.size(); ++p) {
        const TableRow& row = rows[p];
        if (row.tx.empty() && row.rx.empty() && row.pllTx.empty() && row.pllRx.empty()) continue;
        text += std::to_string(p + 1) + "," + Field(row.tx) + "," + Field(row.rx) + "," + Field(row.pllTx) + "," +
                Field(row.pllRx) + "\r\n";
    }
    return text;
}

Reading<std::vector<CsvRow>> ReadCsv(std::string_view text) {
    using Read = Reading<std::vector<CsvRow>>;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const Reading<std::vector<Line>> lines = SplitLines(text);
    if (!lines.value) return Read::Failed(lines.outcome);
    const auto refused = [](std::size_t line, const std::string& why) {
        return Read::Failed(Outcome::Failed(Outcome::Kind::kInputRejected, "line " + std::to_string(line) + ": " + why));
    };
    std::vector<CsvRow> rows;
    for (std::size_t i = 0; i < lines.value->size(); ++i) {
        const Line& line = (*lines.value)[i];
        std::vector<std::string> fields = line.fields;
        // A header names the columns: neither its first field is a number nor its second a code.
        if (i == 0 && !ParseNumber(fields.front()) && (fields.size() < 2 || !ParseNumber(fields[1]))) continue;
        if (fields.size() < 3) return refused(line.number, "a row needs Number, Tx and Rx");
        if (fields.size() > 5) return refused(line.number, "a row has at most 5 columns");
        fields.resize(5);
        std::vector<std::string> cells;
        for (const std::string& field : fields) {
            auto bytes = Latin1FromUtf8(field);
            if (!bytes) return refused(line.number, "a character beyond the program's 8-bit texts");
            cells.push_back(std::move(*bytes));
        }
        const std::optional<std::int32_t> number = ParseNumber(cells[0]);
        if (!number) return refused(line.number, "'" + cells[0] + "' is not a home number");
        if (SeparatorOf(text) == ';') {
            for (std::string* pll : {&cells[3], &cells[4]}) std::replace(pll->begin(), pll->end(), ',', '.');
        }
        CsvRow row{*number, cells[1], cells[2], cells[3], cells[4]};
        if (auto why = CsvRowRefusal(row)) return refused(line.number, *why);
        rows.push_back(std::move(row));
    }
    return Read::Of(std::move(rows));
}

void StoreCsvRows(const std::vector<CsvRow>& rows, HomeNumberTable& table) {
    for (const CsvRow& row : rows) {
        const Codes codes{StoredCode(row.tx), StoredCode(row.rx)};
        table.SetRow(row.number, codes.tx, codes.rx);
        table.SetPll(row.number, row.pllTx, row.pllRx);
    }
    if (!rows.empty()) table.SetChanged(true);
}

}  // namespace table
