// libFuzzer entry for the table file reader, one of the targets of `make fuzz` (table_file_fuzz). Crashes,
// reads outside the input and hangs are libFuzzer's and AddressSanitizer's to find; the rest is checked
// here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/tablefile/ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tablefile::test::CheckingTarget target(size);
    tablefile::ReadTableFile({reinterpret_cast<const char*>(data), size}, target);
    if (!target.m_problem.empty()) {
        std::fprintf(stderr, "table file reader: %s\n", target.m_problem.c_str());
        std::abort();
    }
    return 0;
}
