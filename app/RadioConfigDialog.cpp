#include "app/RadioConfigDialog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "app/ControlIds.h"
#include "device/DialogText.h"
#include "app/ProgramInfo.h"

namespace {

// The lists of the choice settings.
struct ChoiceList {
    int id;
    const protocol::DeviceCommand& command;
};
const std::array<ChoiceList, 3> kChoiceLists{{
    {ctl::kDispList, protocol::kDisp},
    {ctl::kSquelchList, protocol::kSquelch},
    {ctl::kRadioMfgList, protocol::kRadioMfg},
}};
struct Column {
    std::string_view heading;
    int width;
};
constexpr std::array<Column, table::kColumnCount> kColumns{{
    {"Num", 40},
    {"Tx", 40},
    {"Rx", 40},
    {"PLL Tx", 52},
    {"PLL Rx", 52},
}};

using D = RadioConfigDialog;
const EventBinding kEvents[] = {
    {ctl::kAdd, DialogEvent::Click, &D::OnAdd},
    {ctl::kSaveAs, DialogEvent::Click, &D::OnSaveAs},
    {ctl::kHomeNumberList, DialogEvent::TableClick, &D::OnTableClick},
    {ctl::kHomeNumberList, DialogEvent::TableKeyMove, &D::OnTableKeyMove},
    {ctl::kWrite, DialogEvent::Click, &D::OnWrite},
    {ctl::kRead, DialogEvent::Click, &D::OnRead},
    {ctl::kOpen, DialogEvent::Click, &D::OnOpen},
    {ctl::kWideBandEnable, DialogEvent::Click, &D::OnWideBandEnable},
    {ctl::kWideBandDisable, DialogEvent::Click, &D::OnWideBandDisable},
    {ctl::kWideBandSet, DialogEvent::Click, &D::OnWideBandSet},
    {ctl::kWideBandGet, DialogEvent::Click, &D::OnWideBandGet},
    {ctl::kDispList, DialogEvent::SelectionChange, &D::OnDispSelChange},
    {ctl::kDispGet, DialogEvent::Click, &D::OnDispGet},
    {ctl::kDispSet, DialogEvent::Click, &D::OnDispSet},
    {ctl::kClearScreen, DialogEvent::Click, &D::OnClearScreen},
    {ctl::kWriteAll, DialogEvent::Click, &D::OnWriteAll},
    {ctl::kReadAll, DialogEvent::Click, &D::OnReadAll},
    {ctl::kTxEdit, DialogEvent::GainFocus, &D::OnTxSetFocus},
    {ctl::kRxEdit, DialogEvent::GainFocus, &D::OnRxSetFocus},
    {ctl::kSerialNumberWrite, DialogEvent::Click, &D::OnSerialNumberWrite},
    {ctl::kDtmfDelaySet, DialogEvent::Click, &D::OnDtmfDelaySet},
    {ctl::kDtmfDelayGet, DialogEvent::Click, &D::OnDtmfDelayGet},
    {ctl::kSerialNumberRead, DialogEvent::Click, &D::OnSerialNumberRead},
    {ctl::kRadioMfgGet, DialogEvent::Click, &D::OnRadioMfgGet},
    {ctl::kRadioMfgSet, DialogEvent::Click, &D::OnRadioMfgSet},
    {ctl::kRadioMfgList, DialogEvent::SelectionChange, &D::OnRadioMfgSelChange},
    {ctl::kNumberEdit, DialogEvent::TextChange, &D::OnNumberChange},
    {ctl::kMinVolumeGet, DialogEvent::Click, &D::OnMinVolumeGet},
    {ctl::kMinVolumeSet, DialogEvent::Click, &D::OnMinVolumeSet},
    {ctl::kSquelchGet, DialogEvent::Click, &D::OnSquelchGet},
    {ctl::kSquelchSet, DialogEvent::Click, &D::OnSquelchSet},
    {ctl::kSquelchList, DialogEvent::SelectionChange, &D::OnSquelchSelChange},
    {ctl::kUserDescriptionRead, DialogEvent::Click, &D::OnUserDescriptionRead},
    {ctl::kUserDescriptionWrite, DialogEvent::Click, &D::OnUserDescriptionWrite},
    {ctl::kStop, DialogEvent::Click, &D::OnStop},
    {ctl::kVerify, DialogEvent::Click, &D::OnVerify},
};

// The window's own wording of the data exchange's refusals.
std::string TooLongMessage(int limit) {
    return "Enter no more than " + std::to_string(limit) + " characters.";
}
constexpr std::string_view kNotANumberMessage = "Enter a whole number.";
std::string OutOfRangeMessage(int low, int high) {
    return "Enter a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ".";
}

}  // namespace

// One row of the data exchange: a control and the member it fills. A text member has a length limit, a
// number member a range.
struct RadioConfigDialog::ExchangeRule {
    int controlId;
    std::string RadioConfigDialog::*text;
    std::int32_t RadioConfigDialog::*number;
    int maxChars;
    std::int32_t low;
    std::int32_t high;
};

const std::array<RadioConfigDialog::ExchangeRule, 6> RadioConfigDialog::kExchangeRules{{
    {ctl::kNumberEdit, &RadioConfigDialog::m_number, nullptr, 3, 0, 0},
    {ctl::kRxEdit, &RadioConfigDialog::m_rx, nullptr, 3, 0, 0},
    {ctl::kTxEdit, &RadioConfigDialog::m_tx, nullptr, 3, 0, 0},
    {ctl::kDtmfDelayEdit, nullptr, &RadioConfigDialog::m_dtmfDelay, 0, 1, 20},
    {ctl::kSerialNumberEdit, &RadioConfigDialog::m_serialNumber, nullptr, 32, 0, 0},
    {ctl::kUserDescriptionEdit, &RadioConfigDialog::m_userDescription, nullptr, 12, 0, 0},
}};

// The session sends on the port and speed the window names at each request, or during a transfer on those
// it took at its start. A wait on the window's
// thread keeps the window painting (and dropping input) between short slices of it; a worker's blocks.
RadioConfigDialog::RadioConfigDialog(DialogControls& controls)
    : m_controls(controls),
      m_session(
          m_log, [this](int ms) { m_controls.Sleep(ms); },
          [this] {
              if (m_transferPort) return *m_transferPort;
              return DeviceSession::PortChoice{m_controls.GetDlgItemText(ctl::kSerialPortEdit),
                                               m_controls.GetDlgItemInt(ctl::kBaudEdit)};
          },
          [this](SerialLink& link, std::chrono::microseconds span) {
              if (!m_controls.IsWindowThread()) return link.WaitForInput(span);
              constexpr std::chrono::microseconds kSlice{2000};
              const auto deadline = std::chrono::steady_clock::now() + span;
              for (;;) {
                  m_controls.DiscardPendingInput();
                  const auto left = std::chrono::ceil<std::chrono::microseconds>(
                      deadline - std::chrono::steady_clock::now());
                  if (left <= std::chrono::microseconds(0)) return link.InputCount() > 0;
                  if (link.WaitForInput(std::min(left, kSlice))) return true;
              }
          }) {}

// A transfer still running has been stopped and waited for by now (the runner goes first).
RadioConfigDialog::~RadioConfigDialog() {
    m_session.Link().Disconnect();
    m_controls.ShowTable(ctl::kHomeNumberList, nullptr);
}

std::span<const EventBinding> RadioConfigDialog::EventTable() { return kEvents; }

bool RadioConfigDialog::OnInitDialog() {
    for (const ChoiceList& list : kChoiceLists) {
        for (std::string_view entry : ChoiceEntries(list.command)) m_controls.AddString(list.id, entry);
    }
    UpdateData(false);

    for (int c = 0; c < static_cast<int>(kColumns.size()); ++c) {
        m_controls.InsertColumn(ctl::kHomeNumberList, c, kColumns[c].heading, kColumns[c].width);
    }
    m_controls.SetDlgItemInt(ctl::kSerialPortEdit, 1);
    m_controls.SetDlgItemInt(ctl::kBaudEdit, 19200);
    m_controls.ShowTable(ctl::kHomeNumberList, &m_table);
    ResetHomeNumberTable();
    m_homeNumber = 1;
    m_controls.SetCheck(ctl::kWideBandEnable, true);
    // A transfer's progress and Stop button show only while one runs.
    m_controls.ShowWindow(ctl::kTransferProgress, false);
    m_controls.EnableWindow(ctl::kStop, false);
    return true;
}

bool RadioConfigDialog::UpdateData(bool saveAndValidate) {
    for (const ExchangeRule& rule : kExchangeRules) {
        if (!saveAndValidate) {
            if (rule.text) {
                m_controls.SetDlgItemText(rule.controlId, this->*rule.text);
                m_controls.SetLimitText(rule.controlId, rule.maxChars);
            } else {
                m_controls.SetDlgItemInt(rule.controlId, this->*rule.number);
            }
            continue;
        }

        std::string value = m_controls.GetDlgItemText(rule.controlId);
        std::string refusal;
        if (rule.text) {
            if (static_cast<int>(value.size()) > rule.maxChars) refusal = TooLongMessage(rule.maxChars);
        } else {
            std::optional<std::int32_t> number = ParseDialogInt(value);
            if (!number) {
                refusal = kNotANumberMessage;
            } else if (*number < rule.low || *number > rule.high) {
                refusal = OutOfRangeMessage(rule.low, rule.high);
            }
        }
        if (!refusal.empty()) {
            m_controls.ShowMessage(refusal, kProgramName);
            m_controls.SetFocus(rule.controlId);
            m_controls.SetSel(rule.controlId, 0, -1);
            return false;
        }
        if (rule.text) {
            this->*rule.text = std::move(value);
        } else {
            this->*rule.number = *ParseDialogInt(value);
        }
    }
    return true;
}

void RadioConfigDialog::OnOK() {
    if (!CloseAllowedDuringTransfer() || !CanClose()) return;
    if (UpdateData(true) && UnsavedChangesMayGo()) m_controls.EndDialog(ctl::kIdOk);
}

void RadioConfigDialog::OnCancel() {
    if (!CloseAllowedDuringTransfer() || !CanClose() || !UnsavedChangesMayGo()) return;
    m_controls.EndDialog(ctl::kIdCancel);
}

bool RadioConfigDialog::UnsavedChangesMayGo() {
    return !m_table.Changed() ||
           m_controls.AskYesNo("The table has changes that are not saved. Close anyway?", kProgramName);
}

bool RadioConfigDialog::CloseWithoutAsking() {
    if (m_transfers.Running()) {
        StopTransfer(AfterStop::kClose);
        return true;
    }
    if (!CanClose()) return false;
    m_controls.EndDialog(ctl::kIdCancel);
    return true;
}

bool RadioConfigDialog::CanClose() const {
    return m_commandsRunning.load() == 0 && !m_workerFlag.load() && !m_transfers.Running();
}

RadioConfigDialog::CommandCycle::CommandCycle(RadioConfigDialog& dialog, Unlock unlock)
    : m_dialog(dialog), m_unlock(unlock) {
    ++m_dialog.m_commandsRunning;
    m_dialog.LockCommands();
}

RadioConfigDialog::CommandCycle::~CommandCycle() {
    if (m_unlock == Unlock::kAlways || !m_dialog.m_workerFlag) m_dialog.UnlockCommands();
    --m_dialog.m_commandsRunning;
}
