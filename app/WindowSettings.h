#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "app/DialogControls.h"
#include "device/DeviceSettings.h"

// The settings controls as the setting handlers, a transfer and the table file see them. On the window's
// thread.
class WindowSettings : public SettingsPanel {
public:
    explicit WindowSettings(DialogControls& controls) : m_controls(controls) {}

    // A list's value is its selection value, taken from the list as it is read, so that a Set sends what
    // the list shows.
    std::int32_t Value(const protocol::DeviceCommand& command) override;
    std::string Text(const protocol::DeviceCommand& command) override;
    // A list shows the value as its entry; its selection value stays until the list is read again.
    void ShowValue(const protocol::DeviceCommand& command, std::int32_t value) override;
    void ShowText(const protocol::DeviceCommand& command, const std::string& text) override;

    // Selection values of the three drop-down lists: 1 and 2 for the first and second entry, 0 for none.
    static std::int32_t SelectionValue(int listIndex);
    // A list's selection value as its change handler last took it, and the taking.
    std::int32_t Choice(const protocol::DeviceCommand& command) const;
    void TakeChoice(const protocol::DeviceCommand& command);

    void ShowWideBand(bool enabled);

    // Every setting and text as the controls hold them now, for a transfer to take along.
    SettingValues Values();

private:
    DialogControls& m_controls;
    // By the command's code: DISP, SQUELCH and Radio Mfg.
    std::map<std::uint8_t, std::int32_t> m_choices;
};
