// The home number table in the window: its rows, the entry edits below it, Add, a click on a row, and
// the Write and Read buttons that exchange one home number with the device. The rules, requests and
// reports live in table/; what is here decides which control shows what.
#include <array>
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"

namespace {

// The entry edit of each column, in column order.
constexpr std::array<int, table::kColumnCount> kEntryEdits{ctl::kNumberEdit, ctl::kTxEdit, ctl::kRxEdit,
                                                           ctl::kPllTxEdit, ctl::kPllRxEdit};

// The Tx and Rx edits select their whole text (at most three characters) when they gain the focus.
constexpr int kCodeLength = 3;

}  // namespace

void RadioConfigDialog::SetHomeNumberRow(std::string_view homeNumberText, const std::string& tx,
                                         const std::string& rx) {
    m_table.SetRow(homeNumberText, tx, rx);
}

void RadioConfigDialog::SetHomeNumberRow(std::int32_t homeNumber, const std::string& tx,
                                         const std::string& rx) {
    m_table.SetRow(homeNumber, tx, rx);
}

void RadioConfigDialog::SetPllColumns(std::string_view homeNumberText, const std::string& pllTx,
                                      const std::string& pllRx) {
    m_table.SetPll(table::AtoiValue(homeNumberText), pllTx, pllRx);
}

void RadioConfigDialog::SetPllColumns(std::int32_t homeNumber, const std::string& pllTx,
                                      const std::string& pllRx) {
    m_table.SetPll(homeNumber, pllTx, pllRx);
}

// The Number edit is filled first: its change handler has run (disabling and emptying the PLL edits of a
// row above 100) before the PLL edits receive the row's cells.
void RadioConfigDialog::CopySelectedRowToEdits() {
    for (int column = table::kNumColumn; column < table::kColumnCount; ++column) {
        const int row = m_controls.GetSelectionMark(ctl::kHomeNumberList);
        m_controls.SetDlgItemText(kEntryEdits[column],
                                  m_table.Row(row).Cell(static_cast<table::Column>(column)));
    }
}

table::Entry RadioConfigDialog::ReadEntry() {
    return {m_controls.GetDlgItemInt(ctl::kNumberEdit), m_controls.GetDlgItemText(ctl::kTxEdit),
            m_controls.GetDlgItemText(ctl::kRxEdit), m_controls.GetDlgItemText(ctl::kPllTxEdit),
            m_controls.GetDlgItemText(ctl::kPllRxEdit)};
}

void RadioConfigDialog::OnAdd() {
    const table::Entry entry = ReadEntry();
    m_homeNumber = entry.number;
    const table::AddDecision decision = table::CheckAdd(entry, m_rowCount, m_log);
    switch (decision.action) {
        case table::AddDecision::Action::kMessage:
            m_controls.ShowMessage(decision.message, table::kInvalidEntryCaption);
            return;
        case table::AddDecision::Action::kStore:
            TableChange(
                [&] {
                    SetHomeNumberRow(entry.number, decision.codes.tx, decision.codes.rx);
                    SetPllColumns(entry.number, entry.pllTx, entry.pllRx);
                    m_table.SetChanged(true);
                },
                SameRows::kMark);
            break;
        case table::AddDecision::Action::kLogged:
            break;
    }
    UpdateData(true);
}

void RadioConfigDialog::OnTableClick() {
    CopySelectedRowToEdits();
    m_controls.SetFocus(ctl::kTxEdit);
}

// The operator walks the rows: each one shows in the edits, and the keys stay with the table.
void RadioConfigDialog::OnTableKeyMove() { CopySelectedRowToEdits(); }

void RadioConfigDialog::OnNumberChange() {
    m_homeNumber = m_controls.GetDlgItemInt(ctl::kNumberEdit);
    const bool pll = m_homeNumber <= table::kPllHomeNumbers;
    m_controls.EnableWindow(ctl::kPllTxEdit, pll);
    m_controls.EnableWindow(ctl::kPllRxEdit, pll);
    if (!pll) {
        m_controls.SetDlgItemText(ctl::kPllRxEdit, "");
        m_controls.SetDlgItemText(ctl::kPllTxEdit, "");
    }
}

void RadioConfigDialog::OnTxSetFocus() { m_controls.SetSel(ctl::kTxEdit, 0, kCodeLength); }

void RadioConfigDialog::OnRxSetFocus() { m_controls.SetSel(ctl::kRxEdit, 0, kCodeLength); }

// The PLL exchange runs whatever the home number exchange gave.
void RadioConfigDialog::OnWrite() {
    CommandCycle cycle(*this, CommandCycle::Unlock::kAlways);
    const table::Entry entry = ReadEntry();
    const table::WriteDecision decision = table::CheckWrite(entry, m_rowCount, m_log);
    if (decision.action == table::WriteDecision::Action::kMessage) {
        m_controls.ShowMessage(decision.message, table::kInvalidEntryCaption);
        return;
    }
    m_homeNumber = entry.number;
    if (decision.action != table::WriteDecision::Action::kSend) return;
    m_session.WriteHomeNumber(m_homeNumber, decision.codes, entry.pllTx, entry.pllRx);
}

// Read fills only the entry edits; the operator stores what came with Add.
void RadioConfigDialog::OnRead() {
    CommandCycle cycle(*this, CommandCycle::Unlock::kAlways);
    m_homeNumber = m_controls.GetDlgItemInt(ctl::kNumberEdit);
    if (!table::CheckReadNumber(m_homeNumber, m_rowCount, m_log)) return;
    const HomeNumberReading read = *m_session.ReadHomeNumber(m_homeNumber).value;
    if (read.codes) {
        m_controls.SetDlgItemText(ctl::kTxEdit, read.codes->tx);
        m_controls.SetDlgItemText(ctl::kRxEdit, read.codes->rx);
    }
    if (read.pll) {
        m_controls.SetDlgItemText(ctl::kPllTxEdit, read.pll->tx);
        m_controls.SetDlgItemText(ctl::kPllRxEdit, read.pll->rx);
    }
}
