// The Get and Set handlers of the device's one-byte settings and the Write and Read handlers of its two
// texts. Each is one command cycle around one session operation; what differs between them (codes,
// texts, checks, decoding) lives in the protocol's command table, and what differs in the window (which
// control shows the value) lives in the rows below.
#include <algorithm>
#include <array>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "protocol/SettingExchange.h"

namespace {

using D = RadioConfigDialog;

// The control that shows a setting. A list's selection value is refreshed from the list before it is
// read, so that a Set sends what the list shows.
struct SettingControl {
    const protocol::DeviceCommand& command;
    int control;
    void (D::*refresh)() = nullptr;
    std::int32_t (D::*choice)() const = nullptr;
};
const std::array<SettingControl, 8> kSettingControls{{
    {protocol::kWideBand, ctl::kWideBandEnable},
    {protocol::kDisp, ctl::kDispList, &D::OnDispSelChange, &D::DispChoice},
    {protocol::kSquelch, ctl::kSquelchList, &D::OnSquelchSelChange, &D::SquelchChoice},
    {protocol::kRadioMfg, ctl::kRadioMfgList, &D::OnRadioMfgSelChange, &D::MfgChoice},
    {protocol::kDtmfDelay, ctl::kDtmfDelayEdit},
    {protocol::kMinVolume, ctl::kMinVolumeEdit},
    {protocol::kSerialNumber, ctl::kSerialNumberEdit},
    {protocol::kUserDescription, ctl::kUserDescriptionEdit},
}};

const SettingControl& ControlOf(const protocol::DeviceCommand& command) {
    return *std::find_if(kSettingControls.begin(), kSettingControls.end(),
                         [&](const SettingControl& c) { return c.command.code == command.code; });
}

}  // namespace

std::int32_t RadioConfigDialog::WindowSettings::Value(const protocol::DeviceCommand& command) {
    const SettingControl& shown = ControlOf(command);
    DialogControls& controls = m_dialog.m_controls;
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            return protocol::WideBandValue(controls.GetCheck(ctl::kWideBandEnable),
                                           controls.GetCheck(ctl::kWideBandDisable));
        case protocol::CommandKind::kChoice:
            (m_dialog.*shown.refresh)();
            return (m_dialog.*shown.choice)();
        default:
            return controls.GetDlgItemInt(shown.control);
    }
}

std::string RadioConfigDialog::WindowSettings::Text(const protocol::DeviceCommand& command) {
    return m_dialog.m_controls.GetDlgItemText(ControlOf(command).control);
}

// A list shows the value as its entry; it leaves the selection value alone, so the next Set refreshes it
// from the list.
void RadioConfigDialog::WindowSettings::ShowValue(const protocol::DeviceCommand& command, std::int32_t value) {
    const int control = ControlOf(command).control;
    switch (command.kind) {
        case protocol::CommandKind::kSwitch:
            value == 1 ? m_dialog.OnWideBandEnable() : m_dialog.OnWideBandDisable();
            break;
        case protocol::CommandKind::kChoice:
            m_dialog.m_controls.SetCurSel(control, value - 1);
            break;
        default:
            m_dialog.m_controls.SetDlgItemInt(control, value);
            break;
    }
}

void RadioConfigDialog::WindowSettings::ShowText(const protocol::DeviceCommand& command, const std::string& text) {
    m_dialog.m_controls.SetDlgItemText(ControlOf(command).control, text);
}

void RadioConfigDialog::OnWideBandEnable() {
    m_controls.SetCheck(ctl::kWideBandEnable, true);
    m_controls.SetCheck(ctl::kWideBandDisable, false);
}

void RadioConfigDialog::OnWideBandDisable() {
    m_controls.SetCheck(ctl::kWideBandDisable, true);
    m_controls.SetCheck(ctl::kWideBandEnable, false);
}

void RadioConfigDialog::RunGet(const protocol::DeviceCommand& command) {
    CommandCycle cycle(*this);
    if (const auto got = m_session.Get(command); got.value) m_settings.ShowValue(command, *got.value);
}

// A number over its limit is refused before the busy lock is taken: it never touches it.
void RadioConfigDialog::RunSet(const protocol::DeviceCommand& command) {
    if (command.kind == protocol::CommandKind::kNumber) {
        const std::int32_t value = m_settings.Value(command);
        if (!protocol::SetInputAccepted(command, value, m_log)) return;
        CommandCycle cycle(*this);
        m_session.Set(command, value);
        return;
    }
    CommandCycle cycle(*this);
    m_session.Set(command, m_settings.Value(command));
}

void RadioConfigDialog::RunTextWrite(const protocol::DeviceCommand& command) {
    CommandCycle cycle(*this);
    m_session.WriteText(command, m_settings.Text(command));
}

void RadioConfigDialog::RunTextRead(const protocol::DeviceCommand& command) {
    CommandCycle cycle(*this);
    if (const auto read = m_session.ReadText(command); read.value) m_settings.ShowText(command, *read.value);
}

void RadioConfigDialog::OnWideBandGet() { RunGet(protocol::kWideBand); }
void RadioConfigDialog::OnWideBandSet() { RunSet(protocol::kWideBand); }
void RadioConfigDialog::OnDispGet() { RunGet(protocol::kDisp); }
void RadioConfigDialog::OnDispSet() { RunSet(protocol::kDisp); }
void RadioConfigDialog::OnRadioMfgGet() { RunGet(protocol::kRadioMfg); }
void RadioConfigDialog::OnRadioMfgSet() { RunSet(protocol::kRadioMfg); }
void RadioConfigDialog::OnSquelchGet() { RunGet(protocol::kSquelch); }
void RadioConfigDialog::OnSquelchSet() { RunSet(protocol::kSquelch); }
void RadioConfigDialog::OnDtmfDelayGet() { RunGet(protocol::kDtmfDelay); }
void RadioConfigDialog::OnDtmfDelaySet() { RunSet(protocol::kDtmfDelay); }
void RadioConfigDialog::OnMinVolumeGet() { RunGet(protocol::kMinVolume); }
void RadioConfigDialog::OnMinVolumeSet() { RunSet(protocol::kMinVolume); }
void RadioConfigDialog::OnSerialNumberWrite() { RunTextWrite(protocol::kSerialNumber); }
void RadioConfigDialog::OnSerialNumberRead() { RunTextRead(protocol::kSerialNumber); }
void RadioConfigDialog::OnUserDescriptionWrite() { RunTextWrite(protocol::kUserDescription); }
void RadioConfigDialog::OnUserDescriptionRead() { RunTextRead(protocol::kUserDescription); }
