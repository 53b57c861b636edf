#pragma once

// What became of each unit of a run, told three ways: the summary a person reads, the record's CSV
// line, and one JSON object a line for a production line's systems.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Unit.h"

namespace cli {

struct UnitResult {
    std::uint32_t port = 0;
    std::string finished;  // the UTC time the unit ended, as 2026-12-07T10:15:00Z
    std::string command;
    std::string tableFile;
    std::string tableDigest;
    std::string serialNumber;
    std::string serialBefore;  // what the unit held before a write-all, where it was read
    std::string backup;
    std::string values;  // what the command printed for the unit, its line ends kept
    int errors = 0;
    int retries = 0;  // rows sent again after a failure
    std::vector<std::string> errorLines;
    std::string verify;
    double seconds = 0;
    int status = kDone;
    std::string outcome;  // the word for what became of it: done, differs, not read whole, ...
};

// What a unit's run came to, once it has ended; the serial number asked for when the run did not learn it.
UnitResult Finished(Session& session, const std::string& command, std::uint32_t port, int status,
                    std::chrono::steady_clock::time_point start);

// The word for an exit status, as the summary and the record say it.
std::string StatusWord(int status);

// --record: one line per unit appended to a CSV file, the header first when the file is new; the lines
// of one call go in as one piece, so that runs recording at once never mix their lines. The exit status
// of writing them (said on standard error when it failed).
int Record(const std::string& path, const std::vector<UnitResult>& results);

// A CSV field as a spreadsheet and a line's systems read it safely (see the definition).
std::string CsvField(const std::string& text);

// The units of a run so far, counted.
struct Tally {
    int units = 0;
    int passed = 0;
    double seconds = 0;  // since the run began
    void Add(const UnitResult& result) {
        ++units;
        passed += result.status == kDone ? 1 : 0;
    }
};

// "units 8, passed 7, failed 1, yield 87.5 %, 412.0 units per hour\n"
std::string TallyText(const Tally& tally);

// --json: one object on one line, ending "\n": a unit's record fields and its status, values, errors,
// retries and error lines; the summary's counts. The device's 8-bit texts are given as the record gives
// them, as UTF-8 (each byte its Latin-1 character), control characters escaped as JSON escapes them.
std::string UnitJson(const UnitResult& result);
std::string TallyJson(const Tally& tally);

}  // namespace cli
