#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "tablefile/TableFile.h"
#include "tests/tablefile/ReaderCheck.h"
#include "tests/tablefile/TestSupport.h"

// Random bytes and damaged table files through the reader, from a fixed seed so that a failure comes back
// the same. The normal suite runs 20,000 inputs in well under a second; a long run sets the count:
//   VANTOR_FUZZ_RUNS=1000000 tests/tablefile/tablefile_tests --gtest_filter='TableFileReaderFuzz.*'
// Coverage-guided search is the table_file_fuzz target of `make fuzz` (fuzz/CMakeLists.txt).
namespace {

using namespace tablefile;

// Pieces that take random input into the reader's branches far more often than random bytes would.
const std::string kPieces[] = {
    "SerialNumber:",
    "UserDescript:",
    "DTMFDelay:",
    "MINvolume:",
    "WideBand:",
    "'SQUELCH':",
    "'DISP':",
    "RadioMfg:",
    "Channels:",
    "PLTX",
    "PLRX",
    " ",
    "\r\n",
    "\n",
    "\r",
    "\t",
    "0",
    "07",
    "-",
    "+",
    "501",
    "2147483648",
    "4294967296",
    "99999999999999999999",
    std::string(1, '\0'),
    std::string(40, 'x'),
};

std::string Piece(std::mt19937& random) { return kPieces[random() % std::size(kPieces)]; }

std::string RandomBytes(std::mt19937& random) {
    std::string bytes;
    const std::size_t length = random() % 300;
    while (bytes.size() < length) bytes += random() % 3 ? std::string(1, char(random())) : Piece(random);
    return bytes;
}

// One to four changes: a byte replaced, a piece put in, a stretch taken out or doubled.
std::string Damaged(std::string file, std::mt19937& random) {
    for (int edits = 1 + random() % 4; edits > 0; --edits) {
        const std::size_t at = random() % (file.size() + 1);
        const int kind = random() % 4;
        if (kind == 0 && at < file.size()) file[at] = char(random());
        if (kind == 1) file.insert(at, Piece(random));
        if (kind == 2) file.erase(at, random() % 16);
        if (kind == 3) file.insert(at, file.substr(at, random() % 64));
    }
    return file;
}

TEST(TableFileReaderFuzz, AnyBytesLoadSafelyAndQuickly) {
    const char* runsText = std::getenv("VANTOR_FUZZ_RUNS");
    const long runs = runsText ? std::max(1L, std::atol(runsText)) : 20000;
    Snapshot snapshot = test::WorkedExample();
    snapshot.minVolume = -16;
    const Row shapes[] = {{"77", "88", "", "2.5"}, {"FFF", "12", "1.5", "234.5"}, {"", "34", "", ""}};
    for (int i = 0; i < 30; ++i) snapshot.rows[10 + i] = shapes[i % std::size(shapes)];
    const std::string valid = WriteTableFile(snapshot);

    std::mt19937 random(20240611);
    std::chrono::steady_clock::duration longest{};
    for (long run = 0; run < runs; ++run) {
        const std::string input = run % 2 ? RandomBytes(random) : Damaged(valid, random);
        // An exact-size copy: a std::string has a zero after its end that would hide a read past it.
        const auto bytes = std::make_unique<char[]>(input.size());
        std::copy(input.begin(), input.end(), bytes.get());
        test::CheckingTarget target(input.size());
        const auto start = std::chrono::steady_clock::now();
        const LoadResult result = ReadTableFile({bytes.get(), input.size()}, target);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        ASSERT_EQ(target.m_problem, "") << "input " << run << ": " << testing::PrintToString(input);
        // A stop names a line of the file and says what it found in one short line of the log.
        const auto lines = 1 + static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n'));
        ASSERT_LE(result.stopLine, lines) << "input " << run << ": " << testing::PrintToString(input);
        ASSERT_EQ(result.Whole(), result.stopReason.empty()) << "input " << run;
        ASSERT_LE(result.stopReason.size(), 200U) << result.stopReason;
        ASSERT_TRUE(std::none_of(result.stopReason.begin(), result.stopReason.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        })) << testing::PrintToString(result.stopReason);
        ASSERT_LT(longest, std::chrono::seconds(1))
            << "input " << run << ": " << testing::PrintToString(input);
    }
    std::printf(
        "%ld inputs, longest %lld us\n", runs,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(longest).count()));
}

}  // namespace
