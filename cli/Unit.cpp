#include "cli/Unit.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "device/DialogText.h"
#include "device/SafeFile.h"
#include "device/Sha256.h"
#include "table/HomeNumberRules.h"
#include "tablefile/TableFile.h"

namespace cli {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const Setting* FindSetting(std::string_view name) {
    for (const Setting& setting : kSettings) {
        if (setting.name == name) return &setting;
    }
    return nullptr;
}

std::string SettingNames() {
    std::string names;
    for (const Setting& setting : kSettings) names += (names.empty() ? "" : ", ") + std::string(setting.name);
    return names;
}

int StatusOf(const Outcome& outcome) {
    switch (outcome.kind) {
        case Outcome::Kind::kDone:
            return kDone;
        case Outcome::Kind::kRefused:
        case Outcome::Kind::kNoAnswer:
            return kDeviceFailed;
        case Outcome::Kind::kInputRejected:
            return kBadUsage;
        case Outcome::Kind::kPortInUse:
        case Outcome::Kind::kPortFailed:
            return kPortFailed;
        case Outcome::Kind::kFileFailed:
            return kOutputFailed;
    }
    return kDeviceFailed;
}

std::string FileNamePart(const std::string& text, const std::string& fallback) {
    std::string name;
    for (const char c : text)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
    return name.empty() || name.front() == '.' ? fallback + name : name;
}

std::string OutputNames::Claim(const std::string& wanted, const std::string& port) {
    std::lock_guard lock(m_mutex);
    const std::size_t slash = wanted.find_last_of('/');
    const std::size_t dot = wanted.rfind('.');
    const std::size_t split =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? dot : wanted.size();
    std::string name = wanted;
    for (int n = 1; m_taken.count(name) != 0; ++n) {
        name = wanted.substr(0, split) + "-port" + port + (n == 1 ? "" : "-" + std::to_string(n)) +
               wanted.substr(split);
    }
    m_taken.insert(name);
    return name;
}

int Session::Trace(const std::string& path) {
    auto opened = ExchangeTrace::Open(path);
    if (!opened.value) return TraceFailed(path, opened.outcome.reason);
    m_trace = std::move(*opened.value);
    m_tracePath = path;
    m_session.Link().SetTrace(m_trace.get());
    return kDone;
}

int Session::CheckTrace(int status) {
    if (!m_trace || m_trace->Failure().empty()) return status;
    return TraceFailed(m_tracePath, m_trace->Failure());
}

int Session::Get(const Setting& setting) {
    const protocol::DeviceCommand& command = setting.command;
    std::optional<std::string> value;
    Outcome outcome;
    if (command.kind == protocol::CommandKind::kText) {
        auto read = m_session.ReadText(command);
        outcome = read.outcome;
        value = read.value;
    } else {
        auto got = m_session.Get(command);
        outcome = got.outcome;
        if (got.value) value = ValueText(command, *got.value);
    }
    if (!outcome.Done()) return StatusOf(outcome);
    m_console.Value(*value + "\n");
    return kDone;
}

int Session::Set(const Setting& setting, const std::string& value) {
    const protocol::DeviceCommand& command = setting.command;
    const std::string name(setting.name);
    switch (command.kind) {
        case protocol::CommandKind::kSwitch: {
            const std::int32_t chosen = Lower(value) == "enable" || value == "1"    ? 1
                                        : Lower(value) == "disable" || value == "2" ? 2
                                                                                    : 0;
            if (chosen == 0)
                return UsageError("wide-band takes enable, disable, 1 or 2, not '" + value + "'");
            return StatusOf(m_session.Set(command, chosen));
        }
        case protocol::CommandKind::kChoice: {
            const auto entries = ChoiceEntries(command);
            std::int32_t chosen = value == "1" ? 1 : value == "2" ? 2 : 0;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (Lower(std::string(entries[i])) == Lower(value)) chosen = static_cast<std::int32_t>(i) + 1;
            }
            if (chosen == 0) {
                return UsageError(name + " takes " + std::string(entries[0]) + ", " +
                                  std::string(entries[1]) + ", 1 or 2, not '" + value + "'");
            }
            return StatusOf(m_session.Set(command, chosen));
        }
        case protocol::CommandKind::kText:
            if (value.size() > command.set.fieldSize) {
                return UsageError(name + " takes at most " + std::to_string(command.set.fieldSize) +
                                  " characters, not " + std::to_string(value.size()));
            }
            return StatusOf(m_session.WriteText(command, value));
        default: {
            const auto number = ParseDialogInt(value);
            if (!number) return UsageError(name + " takes a whole number, not '" + value + "'");
            return StatusOf(m_session.Set(command, *number));
        }
    }
}

int Session::Read(std::int32_t homeNumber) {
    const auto read = m_session.ReadHomeNumber(homeNumber);
    if (!read.outcome.Done()) return StatusOf(read.outcome);
    const HomeNumberReading& got = *read.value;
    std::string line = "tx=" + got.codes->tx + " rx=" + got.codes->rx;
    if (got.pll) line += " pll-tx=" + got.pll->tx + " pll-rx=" + got.pll->rx;
    m_console.Value(line + "\n");
    return kDone;
}

int Session::Write(std::int32_t homeNumber, const std::vector<std::string>& fields) {
    const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    const table::Entry entry{homeNumber, field(0), field(1), field(2), field(3)};
    const table::WriteDecision decision = table::CheckWrite(entry, table::HomeNumberTable::kRows, m_log);
    if (decision.action == table::WriteDecision::Action::kMessage) {
        std::string said = std::string(table::kInvalidEntryCaption) + ": ";
        for (std::size_t at = 0; at < decision.message.size(); ++at) {
            if (decision.message.compare(at, 2, "\r\n") != 0)
                said += decision.message[at];
            else
                said += '\n', ++at;
        }
        if (!said.ends_with('\n')) said += '\n';
        m_console.Message(said);
        return kBadUsage;
    }
    if (decision.action != table::WriteDecision::Action::kSend) return kBadUsage;
    return StatusOf(m_session.WriteHomeNumber(homeNumber, decision.codes, entry.pllTx, entry.pllRx));
}

int Session::ReadAll(const std::string& outputName) {
    table::HomeNumberTable table;
    SettingValues settings;
    const int status = ReadDevice(table, settings);
    if (status == kDone) m_serialNumber = settings.Text(protocol::kSerialNumber);
    std::string output = Substituted(Substituted(outputName, "{port}", m_port), "{serial}",
                                     FileNamePart(m_serialNumber, "port" + m_port));
    if (m_outputNames && !output.empty() && status == kDone) output = m_outputNames->Claim(output, m_port);
    const std::string file = tablefile::WriteTableFile(TakeSnapshot(table, settings));
    if (!output.empty() && status == kDone) {
        m_tableFile = output;
        m_tableDigest = Sha256Hex(file);
    }
    if (output.empty()) {
        m_console.Value(file);
    } else if (status != kDone) {
        m_console.Message(
            Format("vantorctl: %s left as it was: the device was not read whole\n", output.c_str()));
    } else if (const Outcome written = ReplaceFile(output, file); !written.Done()) {
        m_console.Message(Format("vantorctl: cannot write %s: %s\n", output.c_str(), written.reason.c_str()));
        return kOutputFailed;
    } else if (m_outputNames) {
        m_console.Notice(Format("vantorctl: the device was saved to %s\n", output.c_str()));
    }
    return status;
}

namespace {

// The settings of a write-all, noting whether the run came to its Serial Number write: it asks for the
// text just before it sends it.
class WatchedSettings : public SettingsPanel {
public:
    explicit WatchedSettings(SettingsPanel& settings) : m_settings(settings) {}
    std::int32_t Value(const protocol::DeviceCommand& command) override { return m_settings.Value(command); }
    std::string Text(const protocol::DeviceCommand& command) override {
        if (&command == &protocol::kSerialNumber) m_serialNumberAsked = true;
        return m_settings.Text(command);
    }
    void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) override {
        m_settings.ShowValue(command, value);
    }
    void ShowText(const protocol::DeviceCommand& command, const std::string& text) override {
        m_settings.ShowText(command, text);
    }
    bool SerialNumberAsked() const { return m_serialNumberAsked; }

private:
    SettingsPanel& m_settings;
    bool m_serialNumberAsked = false;
};

}  // namespace

int Session::WriteAll(const std::string& input, bool verify, const std::string& backupDir,
                      SerialNumbers* serialNumbers) {
    table::HomeNumberTable table;
    SettingValues settings;
    if (const int status = LoadTable(input, table, settings); status != kDone) return status;
    if (const int status = CheckWritable(input, table, settings); status != kDone) return status;
    if (serialNumbers && backupDir.empty()) {
        // What the unit held, for the record; a unit that does not give it would not take the table.
        const Reading<std::string> before = m_session.ReadText(protocol::kSerialNumber);
        if (!before.value) return StatusOf(before.outcome);
        m_serialBefore = *before.value;
    }
    std::string given;
    if (serialNumbers) {
        const Reading<std::string> taken = serialNumbers->Take();
        if (!taken.value) {
            m_console.Message(Format("vantorctl: no serial number for the unit: %s; nothing was sent\n",
                                     taken.outcome.reason.c_str()));
            return kBadUsage;
        }
        given = *taken.value;
        settings.ShowText(protocol::kSerialNumber, given);
        m_log.Text("Serial number for this unit: " + given + "\r\n", false);
    }
    WatchedSettings watched(settings);
    // A number whose write never went out is not on the device: the next unit may have it. Once the
    // request went, the device may hold it even if its reply was lost, so it counts as used.
    const auto giveBackUnsent = [&] {
        if (!given.empty() && !watched.SerialNumberAsked()) serialNumbers->GiveBack(given);
    };
    if (!backupDir.empty()) {
        if (const int status = Backup(backupDir); status != kDone) {
            giveBackUnsent();
            return status;
        }
    }
    int status = kDone;
    {
        TerminalProgress progress(m_console.ShowsProgress());
        status = TransferStatus(m_session.WriteAll(table, watched, progress));
    }
    giveBackUnsent();
    if (status == kDone && !settings.Text(protocol::kSerialNumber).empty()) {
        m_serialNumber = settings.Text(protocol::kSerialNumber);
    }
    if (status != kDone || !verify) return status;
    return Verified(table, settings);
}

int Session::CheckTableFile(const std::string& input, bool forWrite) {
    table::HomeNumberTable table;
    SettingValues settings;
    if (const int status = LoadTable(input, table, settings); status != kDone) return status;
    return forWrite ? CheckWritable(input, table, settings) : kDone;
}

int Session::Verify(const std::string& input) {
    table::HomeNumberTable table;
    SettingValues settings;
    if (const int status = LoadTable(input, table, settings); status != kDone) return status;
    return Verified(table, settings);
}

std::string Session::SerialNumber(int status) {
    if (m_serialNumber.empty() && status != kPortFailed && status != kBadUsage && status != kStopped) {
        m_serialNumber = m_session.ReadText(protocol::kSerialNumber).value.value_or("");
    }
    return m_serialNumber;
}

int Session::ReadDevice(table::HomeNumberTable& table, SettingValues& settings) {
    TerminalProgress progress(m_console.ShowsProgress());
    return TransferStatus(m_session.ReadAll(table, settings, progress));
}

int Session::Verified(const table::HomeNumberTable& table, SettingValues& settings) {
    TerminalProgress progress(m_console.ShowsProgress());
    const Reading<int> verdict = m_session.Verify(table, settings, progress);
    m_verifyResult = !verdict.value        ? "not read whole"
                     : *verdict.value == 0 ? "holds the table"
                                           : std::to_string(*verdict.value) + " differences";
    return TransferStatus(verdict.outcome);
}

std::string Session::Substituted(std::string text, std::string_view placeholder, const std::string& value) {
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

int Session::Backup(const std::string& dir) {
    table::HomeNumberTable table;
    SettingValues settings;
    const int status = ReadDevice(table, settings);
    if (status != kDone) {
        m_console.Message("vantorctl: the device was not read whole for its backup; nothing was written\n");
        return status;
    }
    // Never in place of a file already there: units with one serial number, backed up in the same
    // second, each get a name of their own.
    constexpr int kMostNames = 1000;
    const std::string base = dir + "/" + BackupName(settings.Text(protocol::kSerialNumber));
    const std::string bytes = tablefile::WriteTableFile(TakeSnapshot(table, settings));
    for (int n = 1; n <= kMostNames; ++n) {
        const std::string path = base + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt";
        const Reading<bool> created = CreateNewFile(path, bytes);
        if (created.value == false) continue;  // the name is taken
        if (!created.value) {
            m_console.Message(Format("vantorctl: cannot write the backup %s: %s; nothing was written\n",
                                     path.c_str(), created.outcome.reason.c_str()));
            return kOutputFailed;
        }
        m_console.Notice(Format("vantorctl: the device was saved to %s\n", path.c_str()));
        m_backupPath = path;
        m_serialBefore = settings.Text(protocol::kSerialNumber);
        return kDone;
    }
    m_console.Message(
        Format("vantorctl: cannot write the backup %s.txt: %d names are taken; nothing was "
               "written\n",
               base.c_str(), kMostNames));
    return kOutputFailed;
}

std::string Session::BackupName(const std::string& serialNumber) const {
    return FileNamePart(serialNumber, "port" + m_port) + "-" + UtcNow("%Y%m%dT%H%M%SZ");
}

int Session::LoadTable(const std::string& input, table::HomeNumberTable& table, SettingValues& settings) {
    const Reading<std::string> read = ReadWholeFile(input, tablefile::kLargestTableFile);
    if (!read.value) return UsageError("cannot read the table file " + input + ": " + read.outcome.reason);
    const std::string& bytes = *read.value;
    m_tableFile = input;
    m_tableDigest = Sha256Hex(bytes);
    const tablefile::LoadResult check = tablefile::CheckTableFile(bytes);
    if (!check.Whole()) {
        m_console.Message(
            Format("vantorctl: %s cannot be loaded whole: loading stops at line %zu: %s; nothing was sent\n",
                   input.c_str(), check.stopLine, check.stopReason.c_str()));
        return kBadUsage;
    }
    if (!check.channels) {
        m_console.Message(
            Format("vantorctl: %s is not a table file: it has no Channels: line; nothing was sent\n",
                   input.c_str()));
        return kBadUsage;
    }
    m_log.String(input, false);
    m_log.Text("\r\n", false);
    LoadTableFile(bytes, table, settings, m_log);
    return kDone;
}

int Session::CheckWritable(const std::string& input, const table::HomeNumberTable& table,
                           SettingsPanel& settings) {
    constexpr std::size_t kShown = 10;
    const std::vector<std::string> refusals = WriteAllRefusals(table, settings);
    if (refusals.empty()) return kDone;
    for (std::size_t i = 0; i < refusals.size() && i < kShown; ++i) {
        m_console.Message(Format("vantorctl: %s: %s\n", input.c_str(), refusals[i].c_str()));
    }
    if (refusals.size() > kShown) {
        m_console.Message(Format("vantorctl: %s: and %zu more\n", input.c_str(), refusals.size() - kShown));
    }
    m_console.Message(Format("vantorctl: %s cannot be written whole; nothing was sent\n", input.c_str()));
    return kBadUsage;
}

std::string Session::ValueText(const protocol::DeviceCommand& command, std::int32_t value) {
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            return value == 1 ? "enable" : "disable";
        case protocol::CommandKind::kChoice:
            return std::string(ChoiceEntries(command).at(static_cast<std::size_t>(value - 1)));
        default:
            return std::to_string(value);
    }
}

int Session::TraceFailed(const std::string& path, const std::string& failure) {
    m_console.Message(
        Format("vantorctl: cannot write the trace file %s: %s\n", path.c_str(), failure.c_str()));
    return kOutputFailed;
}
}  // namespace cli
