#include "cli/Files.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "cli/Output.h"
#include "device/DeviceSession.h"
#include "device/DeviceSettings.h"
#include "device/SafeFile.h"
#include "protocol/LogSink.h"
#include "table/TableCsv.h"
#include "tablefile/TableFile.h"

namespace cli {
namespace {

// A CSV file is one by its name; whatever else is taken as a table file.
bool IsCsvName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
    return end == ".csv";
}

std::optional<std::string> Read(const std::string& path, std::size_t largest) {
    const Reading<std::string> read = ReadWholeFile(path, largest);
    if (!read.value) {
        UsageError("cannot read " + path + ": " + read.outcome.reason);
        return std::nullopt;
    }
    return *read.value;
}

// A table file loaded whole into the table and the settings, as write-all takes one; false once said why.
bool LoadWhole(const std::string& path, table::HomeNumberTable& table, SettingValues& settings) {
    const std::optional<std::string> bytes = Read(path, tablefile::kLargestTableFile);
    if (!bytes) return false;
    const tablefile::LoadResult check = tablefile::CheckTableFile(*bytes);
    if (!check.Whole()) {
        UsageError(Format("%s cannot be loaded whole: loading stops at line %zu: %s", path.c_str(), check.stopLine,
                          check.stopReason.c_str()));
        return false;
    }
    if (!check.channels) {
        UsageError(path + " is not a table file: it has no Channels: line");
        return false;
    }
    SilentLog log;
    LoadTableFile(*bytes, table, settings, log);
    return true;
}

int Write(const std::string& path, const std::string& bytes) {
    if (const Outcome written = ReplaceFile(path, bytes); !written.Done()) {
        std::fprintf(stderr, "vantorctl: cannot write %s: %s\n", path.c_str(), written.reason.c_str());
        return kOutputFailed;
    }
    return kDone;
}

}  // namespace

int Convert(const std::string& input, const std::string& output) {
    table::HomeNumberTable table;
    SettingValues settings;
    if (!IsCsvName(input)) {
        if (!LoadWhole(input, table, settings)) return kBadUsage;
        return Write(output, table::WriteCsv(table));
    }
    // A CSV file of a spreadsheet's is not larger than a table file.
    const std::optional<std::string> bytes = Read(input, tablefile::kLargestTableFile);
    if (!bytes) return kBadUsage;
    const Reading<std::vector<table::CsvRow>> rows = table::ReadCsv(*bytes);
    if (!rows.value) return UsageError(input + ": " + rows.outcome.reason);
    table::StoreCsvRows(*rows.value, table);
    return Write(output, tablefile::WriteTableFile(TakeSnapshot(table, settings)));
}

int Diff(const std::string& a, const std::string& b) {
    table::HomeNumberTable tableA, tableB;
    SettingValues settingsA, settingsB;
    if (!LoadWhole(a, tableA, settingsA) || !LoadWhole(b, tableB, settingsB)) return kBadUsage;
    std::string text;
    const std::vector<std::string> lines = Differences(tableA, settingsA, tableB, settingsB);
    for (const std::string& line : lines) text += line.substr(0, line.size() - 2) + "\n";  // "\r\n" as a terminal shows it
    text += lines.empty() ? "Verify: the device holds the table\n"
                          : "Verify: " + std::to_string(lines.size()) + " differences\n";
    Print(text);
    return lines.empty() ? kDone : kDeviceFailed;
}

}  // namespace cli
