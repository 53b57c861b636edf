// The Get and Set handlers of the device's one-byte settings and the Write and Read handlers of its two
// texts. Each is one command cycle; what differs between them (codes, texts, checks, decoding) lives in
// the protocol's command table, and what differs in the window (which control shows the value) lives in
// the rows below.
#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "protocol/DeviceCommand.h"
#include "protocol/SettingExchange.h"

// A drop-down list whose entry is one of the settings.
struct RadioConfigDialog::ListSetting {
    const protocol::DeviceCommand& command;
    int listId;
    void (RadioConfigDialog::*refresh)();
    std::atomic<std::int32_t> RadioConfigDialog::*choice;
};

namespace {

// The text reads wait longer than every other command: the device takes its time over them.
constexpr std::int32_t kTextReadPollCount = 20;
constexpr std::int32_t kTextReadIntervalMs = 100;

}  // namespace

void RadioConfigDialog::OnWideBandEnable() {
    m_controls.SetCheck(ctl::kWideBandEnable, true);
    m_controls.SetCheck(ctl::kWideBandDisable, false);
}

void RadioConfigDialog::OnWideBandDisable() {
    m_controls.SetCheck(ctl::kWideBandDisable, true);
    m_controls.SetCheck(ctl::kWideBandEnable, false);
}

void RadioConfigDialog::OnWideBandGet() {
    CommandCycle cycle(*this);
    const auto request = protocol::BeginGet(protocol::kWideBand, m_log);
    const std::int32_t n = cycle.Exchange(request);
    if (auto value = protocol::DecodeSettingReply(protocol::kWideBand, cycle.Reply(), n, m_log)) {
        *value == 1 ? OnWideBandEnable() : OnWideBandDisable();
    } else {
        NoteOutcome(Outcome::kRefused);
    }
}

void RadioConfigDialog::OnWideBandSet() {
    CommandCycle cycle(*this);
    const auto value = [this] {
        return protocol::WideBandValue(m_controls.GetCheck(ctl::kWideBandEnable),
                                       m_controls.GetCheck(ctl::kWideBandDisable));
    };
    if (auto request = protocol::BeginSet(protocol::kWideBand, value, m_log)) {
        const std::int32_t n = cycle.Exchange(*request);
        NoteWriteReply(protocol::CheckWriteReply(protocol::kWideBand, *request, cycle.Reply(), n, m_log));
    } else {
        NoteOutcome(Outcome::kInputRejected);
    }
}

// A list Get shows the device's value as the list's entry; it leaves the selection value alone, so the
// next Set refreshes it from the list.
void RadioConfigDialog::RunListGet(const ListSetting& list) {
    CommandCycle cycle(*this);
    const auto request = protocol::BeginGet(list.command, m_log);
    const std::int32_t n = cycle.Exchange(request);
    if (auto value = protocol::DecodeSettingReply(list.command, cycle.Reply(), n, m_log)) {
        m_controls.SetCurSel(list.listId, *value - 1);
    } else {
        NoteOutcome(Outcome::kRefused);
    }
}

void RadioConfigDialog::RunListSet(const ListSetting& list) {
    CommandCycle cycle(*this);
    (this->*list.refresh)();
    if (auto request = protocol::BeginSet(
            list.command, [&] { return (this->*list.choice).load(); }, m_log)) {
        const std::int32_t n = cycle.Exchange(*request);
        NoteWriteReply(protocol::CheckWriteReply(list.command, *request, cycle.Reply(), n, m_log));
    } else {
        NoteOutcome(Outcome::kInputRejected);
    }
}

void RadioConfigDialog::RunNumberGet(const protocol::DeviceCommand& command, int editId) {
    CommandCycle cycle(*this);
    const auto request = protocol::BeginGet(command, m_log);
    const std::int32_t n = cycle.Exchange(request);
    if (auto value = protocol::DecodeSettingReply(command, cycle.Reply(), n, m_log)) {
        m_controls.SetDlgItemInt(editId, *value);
    } else {
        NoteOutcome(Outcome::kRefused);
    }
}

// The limit is checked before the busy lock is taken: a refused number never touches it.
void RadioConfigDialog::RunNumberSet(const protocol::DeviceCommand& command, int editId) {
    const std::int32_t value = m_controls.GetDlgItemInt(editId);
    if (!protocol::SetInputAccepted(command, value, m_log)) {
        NoteOutcome(Outcome::kInputRejected);
        return;
    }
    CommandCycle cycle(*this);
    if (auto request = protocol::BeginSet(
            command, [value] { return value; }, m_log)) {
        const std::int32_t n = cycle.Exchange(*request);
        NoteWriteReply(protocol::CheckWriteReply(command, *request, cycle.Reply(), n, m_log));
    }
}

void RadioConfigDialog::RunTextWrite(const protocol::DeviceCommand& command, int editId) {
    CommandCycle cycle(*this);
    const std::vector<std::uint8_t> request =
        protocol::BeginTextWrite(command, m_controls.GetDlgItemText(editId), m_log);
    const std::int32_t n = cycle.Exchange(request);
    NoteWriteReply(protocol::CheckWriteReply(command, request, cycle.Reply(), n, m_log));
}

void RadioConfigDialog::RunTextRead(const protocol::DeviceCommand& command, int editId) {
    CommandCycle cycle(*this);
    const auto request = protocol::BeginGet(command, m_log);
    const std::int32_t n = cycle.Exchange(request, kTextReadPollCount, kTextReadIntervalMs);
    if (auto text = protocol::DecodeTextReply(command, cycle.Reply(), n, m_log)) {
        m_controls.SetDlgItemText(editId, *text);
    } else {
        NoteOutcome(Outcome::kRefused);
    }
}

const RadioConfigDialog::ListSetting RadioConfigDialog::kDispSetting{
    protocol::kDisp, ctl::kDispList, &RadioConfigDialog::OnDispSelChange, &RadioConfigDialog::m_dispChoice};
const RadioConfigDialog::ListSetting RadioConfigDialog::kRadioMfgSetting{
    protocol::kRadioMfg, ctl::kRadioMfgList, &RadioConfigDialog::OnRadioMfgSelChange,
    &RadioConfigDialog::m_mfgChoice};
const RadioConfigDialog::ListSetting RadioConfigDialog::kSquelchSetting{
    protocol::kSquelch, ctl::kSquelchList, &RadioConfigDialog::OnSquelchSelChange,
    &RadioConfigDialog::m_squelchChoice};

void RadioConfigDialog::OnDispGet() { RunListGet(kDispSetting); }
void RadioConfigDialog::OnDispSet() { RunListSet(kDispSetting); }
void RadioConfigDialog::OnRadioMfgGet() { RunListGet(kRadioMfgSetting); }
void RadioConfigDialog::OnRadioMfgSet() { RunListSet(kRadioMfgSetting); }
void RadioConfigDialog::OnSquelchGet() { RunListGet(kSquelchSetting); }
void RadioConfigDialog::OnSquelchSet() { RunListSet(kSquelchSetting); }
void RadioConfigDialog::OnDtmfDelayGet() { RunNumberGet(protocol::kDtmfDelay, ctl::kDtmfDelayEdit); }
void RadioConfigDialog::OnDtmfDelaySet() { RunNumberSet(protocol::kDtmfDelay, ctl::kDtmfDelayEdit); }
void RadioConfigDialog::OnMinVolumeGet() { RunNumberGet(protocol::kMinVolume, ctl::kMinVolumeEdit); }
void RadioConfigDialog::OnMinVolumeSet() { RunNumberSet(protocol::kMinVolume, ctl::kMinVolumeEdit); }
void RadioConfigDialog::OnSerialNumberWrite() {
    RunTextWrite(protocol::kSerialNumber, ctl::kSerialNumberEdit);
}
void RadioConfigDialog::OnSerialNumberRead() { RunTextRead(protocol::kSerialNumber, ctl::kSerialNumberEdit); }
void RadioConfigDialog::OnUserDescriptionWrite() {
    RunTextWrite(protocol::kUserDescription, ctl::kUserDescriptionEdit);
}
void RadioConfigDialog::OnUserDescriptionRead() {
    RunTextRead(protocol::kUserDescription, ctl::kUserDescriptionEdit);
}
