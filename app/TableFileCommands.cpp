// Save As and Open: the table and the settings to a table file and back. The file's format is
// tablefile/'s; what is here gathers the window's values, asks for the path and moves the bytes.
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "app/SafeFile.h"
#include "table/HomeNumberRules.h"
#include "tablefile/TableFile.h"

namespace {

constexpr DialogControls::FileChoice kTableFileChoice{"Text files (*.txt)|*.txt|All files (*.*)|*.*||", "txt",
                                                      "*.txt"};

}  // namespace

// The window as the table file's reader changes it.
class RadioConfigDialog::FileLoad : public tablefile::LoadTarget {
public:
    explicit FileLoad(RadioConfigDialog& dialog) : m_dialog(dialog), m_controls(dialog.m_controls) {}
    void SetSerialNumber(std::string_view text) override {
        m_controls.SetDlgItemText(ctl::kSerialNumberEdit, text);
    }
    void SetUserDescription(std::string_view text) override {
        m_controls.SetDlgItemText(ctl::kUserDescriptionEdit, text);
    }
    void SetDtmfDelay(std::int32_t value) override { m_controls.SetDlgItemInt(ctl::kDtmfDelayEdit, value); }
    void SetMinVolume(std::int32_t value) override { m_controls.SetDlgItemInt(ctl::kMinVolumeEdit, value); }
    void SetWideBand(bool enable) override {
        enable ? m_dialog.OnWideBandEnable() : m_dialog.OnWideBandDisable();
    }
    void SelectSquelch(int index) override { m_controls.SetCurSel(ctl::kSquelchList, index); }
    void SelectDisp(int index) override { m_controls.SetCurSel(ctl::kDispList, index); }
    void SelectRadioMfg(int index) override { m_controls.SetCurSel(ctl::kRadioMfgList, index); }
    void SetHomeNumberRow(std::string_view number, std::string_view tx, std::string_view rx) override {
        // The reader passes only numbers from 1 up; a row beyond the table would vanish without a word.
        if (const std::int32_t homeNumber = table::AtoiValue(number); !m_dialog.IsRow(homeNumber)) {
            m_dialog.LogText("Home number " + std::to_string(homeNumber) + " ignored: the table has " +
                             std::to_string(m_dialog.m_rowCount) + " rows\r\n");
            return;
        }
        m_dialog.SetHomeNumberRow(number, std::string(tx), std::string(rx));
    }
    void SetPllColumns(std::string_view number, std::string_view pllTx, std::string_view pllRx) override {
        m_dialog.SetPllColumns(number, std::string(pllTx), std::string(pllRx));
    }

private:
    RadioConfigDialog& m_dialog;
    DialogControls& m_controls;
};

// What Save As writes; the three selection values are refreshed from their lists on the way.
tablefile::Snapshot RadioConfigDialog::TableSnapshot() {
    tablefile::Snapshot snapshot;
    snapshot.serialNumber = m_controls.GetDlgItemText(ctl::kSerialNumberEdit);
    snapshot.userDescription = m_controls.GetDlgItemText(ctl::kUserDescriptionEdit);
    snapshot.minVolume = m_controls.GetDlgItemInt(ctl::kMinVolumeEdit);
    snapshot.dtmfDelay = m_controls.GetDlgItemInt(ctl::kDtmfDelayEdit);
    snapshot.wideBandEnabled = m_controls.GetCheck(ctl::kWideBandEnable);
    OnSquelchSelChange();
    OnDispSelChange();
    OnRadioMfgSelChange();
    snapshot.squelch = m_squelchChoice;
    snapshot.disp = m_dispChoice;
    snapshot.radioMfg = m_mfgChoice;
    for (const table::TableRow& row : m_table.Rows())
        snapshot.rows.push_back({row.tx, row.rx, row.pllTx, row.pllRx});
    return snapshot;
}

void RadioConfigDialog::OnSaveAs() {
    const std::optional<std::string> path = m_controls.ChooseSaveFile(kTableFileChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");

    const tablefile::Snapshot snapshot = TableSnapshot();
    // Written whole or not at all: a failed save leaves the old file as it was, and says why.
    if (auto failure = ReplaceFile(*path, tablefile::WriteTableFile(snapshot))) {
        LogText("Save failed: " + *failure + "\r\n");
        return;
    }
    m_table.SetChanged(false);
}

// The table goes only once the chosen file is in memory: No, Cancel or a file that cannot be read leave
// the table, the settings and the unsaved mark as they were.
void RadioConfigDialog::OnOpen() {
    if (!m_controls.AskYesNo("This will delete your current table.\r\nDo you wish to continue?",
                             "Open File Notice")) {
        return;
    }
    const std::optional<std::string> path = m_controls.ChooseOpenFile(kTableFileChoice);
    if (!path) return;
    LogString(*path);
    LogText("\r\n");
    auto bytes = ReadWholeFile(*path, tablefile::kLargestTableFile);
    if (bytes.index() == 1) {
        LogText("Cannot open file: " + std::get<1>(bytes) + "\r\n");
        return;
    }
    LoadTableFile(std::get<0>(bytes));
}

// What was applied before a stop stays; the log says where the loading stopped and why.
tablefile::LoadResult RadioConfigDialog::LoadTableFile(std::string_view bytes) {
    ResetHomeNumberTable();
    m_table.SetChanged(false);
    FileLoad load(*this);
    tablefile::LoadResult result = tablefile::ReadTableFile(bytes, load);
    if (!result.Whole()) {
        LogText("Loading stopped at line " + std::to_string(result.stopLine) + ": " + result.stopReason +
                "\r\n");
    }
    return result;
}
