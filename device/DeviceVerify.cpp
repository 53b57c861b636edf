// Verify: the device read back and compared with the table and settings Write All writes from.
#include <array>
#include <string>

#include "device/DeviceSession.h"

namespace {

// The settings Write All writes, with the name each difference line gives them.
struct VerifiedSetting {
    const protocol::DeviceCommand& command;
    std::string_view name;
};
const std::array<VerifiedSetting, 6> kVerifiedSettings{{
    {protocol::kDisp, "DISP"},
    {protocol::kSquelch, "SQUELCH"},
    {protocol::kWideBand, "Wide Band"},
    {protocol::kSerialNumber, "Serial Number"},
    {protocol::kUserDescription, "User Description"},
    {protocol::kDtmfDelay, "DTMF Delay"},
}};

// A value as the window shows it: a list's entry, Enable or Disable, the number; "none" for no choice.
std::string Shown(const protocol::DeviceCommand& command, std::int32_t value) {
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            return value == 1 ? "Enable" : value == 2 ? "Disable" : "none";
        case protocol::CommandKind::kChoice:
            return value == 1 || value == 2 ? std::string(ChoiceEntries(command)[value - 1]) : "none";
        default:
            return std::to_string(value);
    }
}

}  // namespace

namespace {

bool CodesDiffer(const table::TableRow& mine, const table::TableRow& theirs) {
    const table::Codes sent = table::CodesForSending(mine.tx, mine.rx);
    return sent.tx != theirs.tx || sent.rx != theirs.rx;
}

bool PllDiffers(std::int32_t position, const table::TableRow& mine, const table::TableRow& theirs) {
    return position < table::kPllHomeNumbers &&
           (table::PllWireValue(mine.pllTx) != table::PllWireValue(theirs.pllTx) ||
            table::PllWireValue(mine.pllRx) != table::PllWireValue(theirs.pllRx));
}

}  // namespace

std::vector<std::int32_t> DifferingRows(const table::HomeNumberTable& table, const table::HomeNumberTable& device) {
    std::vector<std::int32_t> positions;
    for (std::int32_t position = 0; position < std::min(table.RowCount(), device.RowCount()); ++position) {
        const table::TableRow mine = table.Row(position), theirs = device.Row(position);
        if (CodesDiffer(mine, theirs) || PllDiffers(position, mine, theirs)) positions.push_back(position);
    }
    return positions;
}

std::vector<std::string> Differences(const table::HomeNumberTable& table, SettingsPanel& settings,
                                     const table::HomeNumberTable& device, SettingsPanel& deviceSettings) {
    std::vector<std::string> lines;
    const std::int32_t rows = std::min(table.RowCount(), device.RowCount());
    for (std::int32_t position = 0; position < rows; ++position) {
        const table::TableRow mine = table.Row(position);
        const table::TableRow theirs = device.Row(position);
        const table::Codes sent = table::CodesForSending(mine.tx, mine.rx);
        if (CodesDiffer(mine, theirs)) {
            lines.push_back("Home Number " + std::to_string(position + 1) + ": table " + sent.tx + "/" +
                            sent.rx + ", device " + theirs.tx + "/" + theirs.rx + "\r\n");
        }
    }
    for (std::int32_t position = 0; position < std::min(rows, table::kPllHomeNumbers); ++position) {
        const table::TableRow mine = table.Row(position);
        const table::TableRow theirs = device.Row(position);
        if (PllDiffers(position, mine, theirs)) {
            lines.push_back("PLL " + std::to_string(position + 1) + ": table " + mine.pllTx + "/" +
                            mine.pllRx + ", device " + theirs.pllTx + "/" + theirs.pllRx + "\r\n");
        }
    }
    for (const VerifiedSetting& setting : kVerifiedSettings) {
        const protocol::DeviceCommand& command = setting.command;
        std::string mine, theirs;
        if (command.kind == protocol::CommandKind::kText) {
            mine = settings.Text(command);
            if (mine.empty()) continue;  // Write All leaves the device's text as it is
            theirs = deviceSettings.Text(command);
            // The device keeps what fits its field.
            mine.resize(std::min(mine.size(), command.set.fieldSize));
        } else {
            mine = Shown(command, settings.Value(command));
            theirs = Shown(command, deviceSettings.Value(command));
        }
        if (mine != theirs) {
            lines.push_back(std::string(setting.name) + ": table " + mine + ", device " + theirs + "\r\n");
        }
    }
    return lines;
}

Reading<int> DeviceSession::Verify(const table::HomeNumberTable& table, SettingsPanel& settings,
                                   Progress& progress, std::vector<std::int32_t>* differingRows) {
    table::HomeNumberTable device(table.RowCount());
    SettingValues deviceSettings;
    Reading<int> verdict;
    verdict.outcome = ReadAll(device, deviceSettings, progress);
    if (!verdict.outcome.Done()) {
        m_log.Text("Verify: the device could not be read whole\r\n");
        return verdict;
    }
    const std::vector<std::string> lines = Differences(table, settings, device, deviceSettings);
    if (differingRows) *differingRows = DifferingRows(table, device);
    for (const std::string& line : lines) m_log.Text(line);
    verdict.value = static_cast<int>(lines.size());
    if (lines.empty()) {
        m_log.Text("Verify: the device holds the table\r\n");
    } else {
        m_log.Text("Verify: " + std::to_string(lines.size()) + " differences\r\n");
        verdict.outcome.Note(Outcome::Kind::kRefused, std::to_string(lines.size()) + " differences");
    }
    return verdict;
}
