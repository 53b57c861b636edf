#include "app/DialogTemplate.h"

#include "app/ControlIds.h"
#include "app/ProgramInfo.h"

namespace {

using K = ControlKind;
using namespace ctl;

// Right-hand column: six groups of the same shape, each a value control over a Get and a Set button.
constexpr int kColumnX = 238;
constexpr int kColumnWidth = 49;

const ControlTemplate kControls[] = {
    // Home Numbers
    {K::GroupBox, kStatic, "Home Numbers", 7, 7, 228, 193, "Home Numbers"},
    {K::ReportList, kHomeNumberList, "", 13, 17, 173, 143, "Home Numbers"},
    {K::PushButton, kSaveAs, "Save As...", 191, 18, 40, 14, "Save As..."},
    {K::PushButton, kOpen, "Open...", 191, 34, 40, 14, "Open..."},
    {K::PushButton, kWriteAll, "Write All", 190, 73, 41, 12, "Write All"},
    {K::PushButton, kReadAll, "Read All", 190, 86, 41, 12, "Read All"},
    // Beyond the template: a transfer's progress and its Stop, in the free space below Read All.
    {K::Progress, kTransferProgress, "", 190, 101, 41, 10, "Progress"},
    {K::PushButton, kStop, "Stop", 190, 113, 41, 12, "Stop"},
    {K::PushButton, kVerify, "Verify", 190, 127, 41, 12, "Verify"},
    {K::Label, kStatic, "Number:", 13, 162, 36, 8, "Number:"},
    {K::DigitsEdit, kNumberEdit, "", 13, 170, 34, 12, "Number"},
    {K::Label, kStatic, "Tx:", 51, 162, 20, 8, "Tx:"},
    {K::DigitsEdit, kTxEdit, "", 51, 170, 20, 12, "Tx"},
    {K::Label, kStatic, "Rx:", 74, 162, 20, 8, "Rx:"},
    {K::DigitsEdit, kRxEdit, "", 74, 170, 25, 12, "Rx"},
    {K::Label, kStatic, "PLL Tx:", 103, 162, 30, 8, "PLL Tx:"},
    {K::Edit, kPllTxEdit, "", 103, 170, 29, 12, "PLL Tx"},
    {K::Label, kStatic, "PLL Rx:", 135, 162, 30, 8, "PLL Rx:"},
    {K::Edit, kPllRxEdit, "", 135, 170, 29, 12, "PLL Rx"},
    {K::PushButton, kAdd, "Add", 13, 185, 40, 12, "Add"},
    {K::PushButton, kRead, "Read", 62, 185, 40, 12, "Home Numbers Read"},
    {K::PushButton, kWrite, "Write", 115, 185, 40, 12, "Home Numbers Write"},

    // The two texts
    {K::Label, kStatic, "Serial Number:", 7, 200, 60, 8, "Serial Number:"},
    {K::Edit, kSerialNumberEdit, "", 7, 209, 136, 12, "Serial Number"},
    {K::PushButton, kSerialNumberWrite, "Write", 7, 223, 32, 11, "Serial Number Write"},
    {K::PushButton, kSerialNumberRead, "Read", 41, 223, 32, 11, "Serial Number Read"},
    {K::Label, kStatic, "User Description:", 144, 200, 70, 8, "User Description:"},
    {K::Edit, kUserDescriptionEdit, "", 143, 209, 68, 12, "User Description"},
    {K::PushButton, kUserDescriptionWrite, "Write", 144, 222, 32, 12, "User Description Write"},
    {K::PushButton, kUserDescriptionRead, "Read", 177, 222, 32, 12, "User Description Read"},

    // Log console and port
    {K::Console, kLogConsole, "", 7, 235, 174, 63, "Log"},
    {K::PushButton, kClearScreen, "Clear Screen", 7, 299, 50, 12, "Clear Screen"},
    {K::Label, kStatic, "Serial Port:", 185, 251, 45, 8, "Serial Port:"},
    {K::DigitsEdit, kSerialPortEdit, "", 185, 261, 45, 12, "Serial Port"},
    {K::Label, kStatic, "Baud:", 185, 275, 45, 8, "Baud:"},
    {K::DigitsEdit, kBaudEdit, "", 185, 285, 45, 12, "Baud"},

    // Settings
    {K::GroupBox, kStatic, "Wide Band", kColumnX, 16, kColumnWidth, 48, "Wide Band"},
    {K::RadioButton, kWideBandEnable, "Enable", 243, 26, 40, 10, "Enable"},
    {K::RadioButton, kWideBandDisable, "Disable", 243, 37, 40, 10, "Disable"},
    {K::PushButton, kWideBandGet, "Get", 241, 50, 21, 12, "Wide Band Get"},
    {K::PushButton, kWideBandSet, "Set", 264, 50, 21, 12, "Wide Band Set"},

    {K::GroupBox, kStatic, "DISP", kColumnX, 124, kColumnWidth, 35, "DISP"},
    {K::DropList, kDispList, "", 242, 134, 41, 12, "DISP"},
    {K::PushButton, kDispGet, "Get", 241, 147, 21, 11, "DISP Get"},
    {K::PushButton, kDispSet, "Set", 264, 147, 21, 11, "DISP Set"},

    {K::GroupBox, kStatic, "SQUELCH", kColumnX, 164, kColumnWidth, 35, "SQUELCH"},
    {K::DropList, kSquelchList, "", 242, 174, 41, 12, "SQUELCH"},
    {K::PushButton, kSquelchGet, "Get", 241, 187, 21, 11, "SQUELCH Get"},
    {K::PushButton, kSquelchSet, "Set", 264, 187, 21, 11, "SQUELCH Set"},

    {K::GroupBox, kStatic, "Radio Mfg", kColumnX, 201, kColumnWidth, 35, "Radio Mfg"},
    {K::DropList, kRadioMfgList, "", 242, 211, 41, 12, "Radio Mfg"},
    {K::PushButton, kRadioMfgGet, "Get", 241, 224, 21, 11, "Radio Mfg Get"},
    {K::PushButton, kRadioMfgSet, "Set", 264, 224, 21, 11, "Radio Mfg Set"},

    {K::GroupBox, kStatic, "DTMF Delay", kColumnX, 239, kColumnWidth, 35, "DTMF Delay"},
    {K::DigitsEdit, kDtmfDelayEdit, "", 242, 249, 41, 12, "DTMF Delay"},
    {K::PushButton, kDtmfDelayGet, "Get", 241, 262, 21, 11, "DTMF Delay Get"},
    {K::PushButton, kDtmfDelaySet, "Set", 264, 262, 21, 11, "DTMF Delay Set"},

    {K::GroupBox, kStatic, "Min Volume", kColumnX, 276, kColumnWidth, 35, "Min Volume"},
    {K::DigitsEdit, kMinVolumeEdit, "", 242, 286, 41, 12, "Min Volume"},
    {K::PushButton, kMinVolumeGet, "Get", 241, 299, 21, 11, "Min Volume Get"},
    {K::PushButton, kMinVolumeSet, "Set", 264, 299, 21, 11, "Min Volume Set"},
};

const DialogTemplate kMainDialog{kWindowTitle, 292, 314, 8, kControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }

Growth GrowthOf(const ControlTemplate& control) {
    constexpr int kSettingsColumn = 238;  // the settings start here
    constexpr int kBesideTable = 185;     // the table's and the log's buttons and edits start here
    constexpr int kBelowTable = 160;  // below the table: its entry edits, the texts, the log, Clear Screen
    constexpr int kBelowLog = 299;
    if (control.x >= kSettingsColumn) return Growth::kMoveRight;
    if (control.id == ctl::kHomeNumberList || (control.kind == ControlKind::GroupBox && control.y < kBelowTable)) {
        return Growth::kGrowWithTable;
    }
    if (control.id == ctl::kLogConsole) return Growth::kGrowWithLog;
    if (control.x >= kBesideTable) return control.y < kBelowTable ? Growth::kMoveRight : Growth::kMoveRightBelowTable;
    if (control.y >= kBelowLog) return Growth::kMoveBelowLog;
    if (control.y >= kBelowTable) return Growth::kMoveBelowTable;
    return Growth::kStay;
}

PixelRect Grown(const PixelRect& placed, Growth growth, int dx, int dy) {
    dx = dx > 0 ? dx : 0;
    dy = dy > 0 ? dy : 0;
    const int tableDy = dy * 4 / 5;
    const int logDy = dy - tableDy;
    PixelRect r = placed;
    switch (growth) {
        case Growth::kStay:
            break;
        case Growth::kMoveRight:
            r.x += dx;
            break;
        case Growth::kMoveRightBelowTable:
            r.x += dx;
            r.y += tableDy;
            break;
        case Growth::kMoveBelowTable:
            r.y += tableDy;
            break;
        case Growth::kMoveBelowLog:
            r.y += dy;
            break;
        case Growth::kGrowWithTable:
            r.width += dx;
            r.height += tableDy;
            break;
        case Growth::kGrowWithLog:
            r.y += tableDy;
            r.width += dx;
            r.height += logDy;
            break;
    }
    return r;
}
