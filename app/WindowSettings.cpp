#include "app/WindowSettings.h"

#include <algorithm>
#include <array>

#include "app/ControlIds.h"
#include "protocol/SettingExchange.h"

namespace {

// The control that shows each setting.
struct SettingControl {
    const protocol::DeviceCommand& command;
    int control;
};
const std::array<SettingControl, 8> kSettingControls{{
    {protocol::kWideBand, ctl::kWideBandEnable},
    {protocol::kDisp, ctl::kDispList},
    {protocol::kSquelch, ctl::kSquelchList},
    {protocol::kRadioMfg, ctl::kRadioMfgList},
    {protocol::kDtmfDelay, ctl::kDtmfDelayEdit},
    {protocol::kMinVolume, ctl::kMinVolumeEdit},
    {protocol::kSerialNumber, ctl::kSerialNumberEdit},
    {protocol::kUserDescription, ctl::kUserDescriptionEdit},
}};

int ControlOf(const protocol::DeviceCommand& command) {
    return std::find_if(kSettingControls.begin(), kSettingControls.end(),
                        [&](const SettingControl& c) { return c.command.code == command.code; })
        ->control;
}

}  // namespace

std::int32_t WindowSettings::SelectionValue(int listIndex) { return listIndex == 0 ? 1 : listIndex == 1 ? 2 : 0; }

std::int32_t WindowSettings::Choice(const protocol::DeviceCommand& command) const {
    const auto found = m_choices.find(command.code);
    return found == m_choices.end() ? 0 : found->second;
}

void WindowSettings::TakeChoice(const protocol::DeviceCommand& command) {
    m_choices[command.code] = SelectionValue(m_controls.GetCurSel(ControlOf(command)));
}

std::int32_t WindowSettings::Value(const protocol::DeviceCommand& command) {
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            return protocol::WideBandValue(m_controls.GetCheck(ctl::kWideBandEnable),
                                           m_controls.GetCheck(ctl::kWideBandDisable));
        case protocol::CommandKind::kChoice:
            TakeChoice(command);
            return Choice(command);
        default:
            return m_controls.GetDlgItemInt(ControlOf(command));
    }
}

std::string WindowSettings::Text(const protocol::DeviceCommand& command) {
    return m_controls.GetDlgItemText(ControlOf(command));
}

void WindowSettings::ShowValue(const protocol::DeviceCommand& command, std::int32_t value) {
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            ShowWideBand(value == 1);
            break;
        case protocol::CommandKind::kChoice:
            m_controls.SetCurSel(ControlOf(command), value - 1);
            break;
        default:
            m_controls.SetDlgItemInt(ControlOf(command), value);
            break;
    }
}

void WindowSettings::ShowText(const protocol::DeviceCommand& command, const std::string& text) {
    m_controls.SetDlgItemText(ControlOf(command), text);
}

void WindowSettings::ShowWideBand(bool enabled) {
    m_controls.SetCheck(enabled ? ctl::kWideBandEnable : ctl::kWideBandDisable, true);
    m_controls.SetCheck(enabled ? ctl::kWideBandDisable : ctl::kWideBandEnable, false);
}

SettingValues WindowSettings::Values() {
    SettingValues values;
    for (const SettingControl& setting : kSettingControls) {
        const protocol::DeviceCommand& command = setting.command;
        if (command.kind == protocol::CommandKind::kText) {
            values.ShowText(command, Text(command));
        } else {
            values.ShowValue(command, Value(command));
        }
    }
    return values;
}
