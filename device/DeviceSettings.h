#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "protocol/DeviceCommand.h"
#include "table/HomeNumberTable.h"
#include "tablefile/TableFile.h"

// Where the settings and texts a transfer writes come from, and where those it reads go: the window's
// controls, or a record of values the command line keeps. Each is asked for just before its exchange and
// given just after it, as a window's own buttons would.
class SettingsPanel {
public:
    virtual ~SettingsPanel() = default;
    // What a Set would send now: a list's selection value (0 none, 1 or 2), the Wide Band value (0 none,
    // 1 enable, 2 disable) or an edit's number.
    virtual std::int32_t Value(const protocol::DeviceCommand& command) = 0;
    virtual std::string Text(const protocol::DeviceCommand& command) = 0;
    // Shows what the device gave, in the same terms.
    virtual void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) = 0;
    virtual void ShowText(const protocol::DeviceCommand& command, const std::string& text) = 0;
};

// The entries of the list that shows a choice setting (DISP, SQUELCH, Radio Mfg): selection value 1 is
// the first.
std::array<std::string_view, 2> ChoiceEntries(const protocol::DeviceCommand& command);

// The settings as plain values, by command. They start as the window's controls do: DTMF Delay 1, Wide
// Band enabled, the rest empty or none (0).
class SettingValues : public SettingsPanel {
public:
    SettingValues();
    std::int32_t Value(const protocol::DeviceCommand& command) override;
    std::string Text(const protocol::DeviceCommand& command) override;
    void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) override;
    void ShowText(const protocol::DeviceCommand& command, const std::string& text) override;

private:
    std::map<std::uint8_t, std::int32_t> m_values;
    std::map<std::uint8_t, std::string> m_texts;
};

// What Save As writes: the table's rows and the panel's settings.
tablefile::Snapshot TakeSnapshot(const table::HomeNumberTable& table, SettingsPanel& settings);

// Loads a table file into a table and a panel, as Open does: the table is emptied and its unsaved mark
// cleared first; what was applied before a stop stays, and the log says where and why loading stopped.
tablefile::LoadResult LoadTableFile(std::string_view bytes, table::HomeNumberTable& table,
                                    SettingsPanel& settings, LogSink& log);
