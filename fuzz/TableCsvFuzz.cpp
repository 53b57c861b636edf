// The CSV reader on any bytes. What it takes must be rows that Add would store, and stored in a table and
// written out again they must read back as the same rows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "table/TableCsv.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "table CSV: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Reading<std::vector<table::CsvRow>> read = table::ReadCsv(text);
    if (!read.value) {
        if (read.outcome.Done() || read.outcome.reason.empty()) Fail("a refusal without its reason");
        return 0;
    }
    table::HomeNumberTable first;
    for (const table::CsvRow& row : *read.value) {
        if (table::CsvRowRefusal(row)) Fail("a row taken that Add would refuse");
    }
    table::StoreCsvRows(*read.value, first);
    const std::string written = table::WriteCsv(first);
    const Reading<std::vector<table::CsvRow>> again = table::ReadCsv(written);
    if (!again.value) Fail("what was written does not read back");
    table::HomeNumberTable second;
    table::StoreCsvRows(*again.value, second);
    for (std::int32_t i = 0; i < table::HomeNumberTable::kRows; ++i) {
        if (first.Row(i) != second.Row(i)) Fail("a row changed on its way round");
    }
    if (table::WriteCsv(second) != written) Fail("written twice, the bytes differ");
    return 0;
}
