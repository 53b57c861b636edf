#include "device/DeviceSettings.h"

#include <string>

#include "table/HomeNumberRules.h"

std::array<std::string_view, 2> ChoiceEntries(const protocol::DeviceCommand& command) {
    switch (command.code) {
        case protocol::kDisp.code:
            return {"NONE", "TBD"};
        case protocol::kSquelch.code:
            return {"NONE", "SQLCH"};
        case protocol::kRadioMfg.code:
            return {"KENWOOD", "ICOM"};
        default:
            return {};
    }
}

SettingValues::SettingValues() {
    m_values[protocol::kDtmfDelay.code] = 1;
    m_values[protocol::kWideBand.code] = 1;
}

std::int32_t SettingValues::Value(const protocol::DeviceCommand& command) {
    const auto found = m_values.find(command.code);
    return found == m_values.end() ? 0 : found->second;
}

std::string SettingValues::Text(const protocol::DeviceCommand& command) {
    const auto found = m_texts.find(command.code);
    return found == m_texts.end() ? std::string() : found->second;
}

void SettingValues::ShowValue(const protocol::DeviceCommand& command, std::int32_t value) {
    m_values[command.code] = value;
}

void SettingValues::ShowText(const protocol::DeviceCommand& command, const std::string& text) {
    m_texts[command.code] = text;
}

tablefile::Snapshot TakeSnapshot(const table::HomeNumberTable& table, SettingsPanel& settings) {
    tablefile::Snapshot snapshot;
    snapshot.serialNumber = settings.Text(protocol::kSerialNumber);
    snapshot.userDescription = settings.Text(protocol::kUserDescription);
    snapshot.minVolume = settings.Value(protocol::kMinVolume);
    snapshot.dtmfDelay = settings.Value(protocol::kDtmfDelay);
    snapshot.wideBandEnabled = settings.Value(protocol::kWideBand) == 1;
    snapshot.squelch = settings.Value(protocol::kSquelch);
    snapshot.disp = settings.Value(protocol::kDisp);
    snapshot.radioMfg = settings.Value(protocol::kRadioMfg);
    for (const table::TableRow& row : table.Rows())
        snapshot.rows.push_back({row.tx, row.rx, row.pllTx, row.pllRx});
    return snapshot;
}

namespace {

// The table and the panel as the table file's reader changes them. A list index of -1 (no entry) is the
// selection value 0.
class TableLoad : public tablefile::LoadTarget {
public:
    TableLoad(table::HomeNumberTable& table, SettingsPanel& settings, LogSink& log)
        : m_table(table), m_settings(settings), m_log(log) {}
    void SetSerialNumber(std::string_view text) override {
        m_settings.ShowText(protocol::kSerialNumber, std::string(text));
    }
    void SetUserDescription(std::string_view text) override {
        m_settings.ShowText(protocol::kUserDescription, std::string(text));
    }
    void SetDtmfDelay(std::int32_t value) override { m_settings.ShowValue(protocol::kDtmfDelay, value); }
    void SetMinVolume(std::int32_t value) override { m_settings.ShowValue(protocol::kMinVolume, value); }
    void SetWideBand(bool enable) override { m_settings.ShowValue(protocol::kWideBand, enable ? 1 : 2); }
    void SelectSquelch(int index) override { m_settings.ShowValue(protocol::kSquelch, index + 1); }
    void SelectDisp(int index) override { m_settings.ShowValue(protocol::kDisp, index + 1); }
    void SelectRadioMfg(int index) override { m_settings.ShowValue(protocol::kRadioMfg, index + 1); }
    void SetHomeNumberRow(std::string_view number, std::string_view tx, std::string_view rx) override {
        // The reader passes only numbers from 1 up; a row beyond the table would vanish without a word.
        if (const std::int32_t homeNumber = table::AtoiValue(number); !m_table.IsRow(homeNumber)) {
            m_log.Text("Home number " + std::to_string(homeNumber) + " ignored: the table has " +
                       std::to_string(m_table.RowCount()) + " rows\r\n");
            return;
        }
        m_table.SetRow(number, tx, rx);
    }
    void SetPllColumns(std::string_view number, std::string_view pllTx, std::string_view pllRx) override {
        m_table.SetPll(table::AtoiValue(number), pllTx, pllRx);
    }

private:
    table::HomeNumberTable& m_table;
    SettingsPanel& m_settings;
    LogSink& m_log;
};

}  // namespace

tablefile::LoadResult LoadTableFile(std::string_view bytes, table::HomeNumberTable& table,
                                    SettingsPanel& settings, LogSink& log) {
    table.Reset();
    table.SetChanged(false);
    TableLoad load(table, settings, log);
    tablefile::LoadResult result = tablefile::ReadTableFile(bytes, load);
    if (!result.Whole()) {
        log.Text("Loading stopped at line " + std::to_string(result.stopLine) + ": " + result.stopReason +
                 "\r\n");
    }
    return result;
}
