// The Get and Set handlers of the device's one-byte settings and the Write and Read handlers of its two
// texts. Each is one command cycle around one session operation; what differs between them (codes,
// texts, checks, decoding) lives in the protocol's command table, and what differs in the window (which
// control shows the value) lives in WindowSettings.
#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "protocol/SettingExchange.h"

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
