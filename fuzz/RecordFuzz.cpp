// A field of vantorctl's record on any bytes: read back as a spreadsheet reads CSV, it is one field on one
// line, UTF-8, and gives back the text as the record promises to write it: each control character as
// \xNN, the rest as Latin-1 characters, behind a ' when it would start a formula.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/Report.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "record field: %s\n", what);
    std::abort();
}

// RFC 4180: one field, quoted or not; none when the text is not one field.
std::optional<std::string> ReadField(const std::string& csv) {
    if (!csv.starts_with('"')) {
        if (csv.find_first_of(",\"\r\n") != std::string::npos) return std::nullopt;
        return csv;
    }
    std::string field;
    for (std::size_t i = 1; i < csv.size(); ++i) {
        if (csv[i] != '"') {
            field += csv[i];
        } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
            field += '"';
            ++i;
        } else {
            return i + 1 == csv.size() ? std::optional(field) : std::nullopt;
        }
    }
    return std::nullopt;
}

// The field's UTF-8 as the bytes it stands for: none when it is not UTF-8 of Latin-1 characters.
std::optional<std::string> Latin1(const std::string& utf8) {
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() &&
                   (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string csv = cli::CsvField(text);
    if (csv.find_first_of("\r\n") != std::string::npos) Fail("a line end in the record");
    const std::optional<std::string> field = ReadField(csv);
    if (!field) Fail("not one CSV field");
    const std::optional<std::string> bytes = Latin1(*field);
    if (!bytes) Fail("not UTF-8 of Latin-1 characters");
    std::string promised;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        promised += byte < 0x20 || byte == 0x7F ? std::string(escaped) : std::string(1, c);
    }
    if (!text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos) promised.insert(0, "'");
    if (*bytes != promised) Fail("the field reads back otherwise than written");
    return 0;
}
