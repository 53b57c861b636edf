// The main window's state and rules, driven through the in-memory window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "device/DialogText.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

// Records the order in which controls are enabled and disabled.
class RecordingControls : public MemoryDialogControls {
public:
    std::vector<std::pair<int, bool>> enables;
    void EnableWindow(int id, bool enable) override {
        enables.emplace_back(id, enable);
        MemoryDialogControls::EnableWindow(id, enable);
    }
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        controls.realSleep = false;
        dialog.OnInitDialog();
        controls.enables.clear();
    }
    RecordingControls controls;
    RadioConfigDialog dialog{controls};
};

TEST_F(DialogTest, StartsWithPortOneAt19200AndNothingChosen) {
    EXPECT_EQ(controls.At(ctl::kSerialPortEdit).text, "1");
    EXPECT_EQ(controls.At(ctl::kBaudEdit).text, "19200");
    EXPECT_EQ(controls.At(ctl::kDtmfDelayEdit).text, "1");
    EXPECT_EQ(controls.At(ctl::kMinVolumeEdit).text, "");
    EXPECT_TRUE(controls.At(ctl::kWideBandEnable).checked);
    EXPECT_FALSE(controls.At(ctl::kWideBandDisable).checked);
    EXPECT_EQ(dialog.HomeNumber(), 1);
    EXPECT_EQ(dialog.DispChoice(), 0);
    EXPECT_EQ(dialog.SquelchChoice(), 0);
    EXPECT_EQ(dialog.MfgChoice(), 0);
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(DialogTest, ListsHoldTheirEntriesInOrderWithNoneChosen) {
    const std::vector<std::pair<int, std::vector<std::string>>> lists{
        {ctl::kDispList, {"NONE", "TBD"}},
        {ctl::kSquelchList, {"NONE", "SQLCH"}},
        {ctl::kRadioMfgList, {"KENWOOD", "ICOM"}},
    };
    for (const auto& [id, entries] : lists) {
        EXPECT_EQ(controls.At(id).entries, entries) << id;
        EXPECT_EQ(controls.At(id).current, -1) << id;
    }
}

TEST_F(DialogTest, TableHasFiveColumnsAndFiveHundredEmptyRows) {
    EXPECT_EQ(controls.columns, (std::vector<std::string>{"Num", "Tx", "Rx", "PLL Tx", "PLL Rx"}));
    ASSERT_EQ(controls.rows.size(), 500u);
    for (int p = 0; p < 500; ++p) {
        EXPECT_EQ(controls.rows[p], (std::vector<std::string>{std::to_string(p + 1), "", "", "", ""})) << p;
    }
}

TEST_F(DialogTest, TextEditsGetTheirTypingLimits) {
    const std::vector<std::pair<int, int>> limits{
        {ctl::kNumberEdit, 3},           {ctl::kTxEdit, 3}, {ctl::kRxEdit, 3}, {ctl::kSerialNumberEdit, 32},
        {ctl::kUserDescriptionEdit, 12},
    };
    for (const auto& [id, limit] : limits) EXPECT_EQ(controls.At(id).limit, limit) << id;
}

TEST_F(DialogTest, SelectionValuesFollowTheChosenEntry) {
    const std::vector<std::pair<int, std::int32_t>> cases{{-1, 0}, {0, 1}, {1, 2}, {2, 0}};
    for (const auto& [index, value] : cases) {
        controls.At(ctl::kDispList).current = index;
        controls.At(ctl::kSquelchList).current = index;
        controls.At(ctl::kRadioMfgList).current = index;
        dialog.OnDispSelChange();
        dialog.OnSquelchSelChange();
        dialog.OnRadioMfgSelChange();
        EXPECT_EQ(dialog.DispChoice(), value) << index;
        EXPECT_EQ(dialog.SquelchChoice(), value) << index;
        EXPECT_EQ(dialog.MfgChoice(), value) << index;
    }
}

const std::vector<int> kLockOrder{1038, 1039, 1036, 1037, 1034, 1033, 1029, 1030, 1031, 1027, 1023, 1024,
                                  1020, 1021, 1014, 1010, 1018, 1019, 1000, 1001, 1009, 1015, 1042, 1043,
                                  1046};  // and Verify, beyond the template

TEST_F(DialogTest, BusyLockDisablesExactlyTheCommandControlsInOrder) {
    dialog.LockCommands();
    ASSERT_EQ(controls.enables.size(), kLockOrder.size());
    for (std::size_t i = 0; i < kLockOrder.size(); ++i) {
        EXPECT_EQ(controls.enables[i], std::make_pair(kLockOrder[i], false)) << i;
    }
    controls.enables.clear();
    dialog.UnlockCommands();
    ASSERT_EQ(controls.enables.size(), kLockOrder.size());
    for (std::size_t i = 0; i < kLockOrder.size(); ++i) {
        EXPECT_EQ(controls.enables[i], std::make_pair(kLockOrder[i], true)) << i;
    }
}

TEST_F(DialogTest, BusyLockLeavesEditsListsRadiosConsoleAndClearScreenAlone) {
    dialog.LockCommands();
    for (int id : {1002, 1003, 1004, 1006, 1008, 1011, 1012, 1013, 1016, 1017, 1022, 1025, 1026, 1028, 1032,
                   1035, 1040, 1041}) {
        EXPECT_TRUE(controls.At(id).enabled) << id;
    }
    dialog.LogText("busy\r\n");
    dialog.OnClearScreen();
    EXPECT_EQ(dialog.LogContents(), "");
}

// --- data exchange ----------------------------------------------------------------------------------

TEST_F(DialogTest, EnterWithDtmfDelayOutsideOneToTwentyIsRefusedAndFocusesIt) {
    for (const char* value : {"0", "21"}) {
        controls.messages.clear();
        controls.At(ctl::kDtmfDelayEdit).text = value;
        dialog.OnOK();
        ASSERT_EQ(controls.messages.size(), 1u) << value;
        EXPECT_EQ(controls.messages[0].text, "Enter a whole number from 1 to 20.");
        EXPECT_EQ(controls.focus, ctl::kDtmfDelayEdit);
        EXPECT_FALSE(controls.endResult.has_value());
        EXPECT_EQ(dialog.DtmfDelay(), 1);
    }
    controls.At(ctl::kDtmfDelayEdit).text = "5";
    dialog.OnOK();
    EXPECT_EQ(controls.endResult, ctl::kIdOk);
    EXPECT_EQ(dialog.DtmfDelay(), 5);
}

TEST_F(DialogTest, EmptyDtmfDelayIsNotANumber) {
    controls.At(ctl::kDtmfDelayEdit).text = "";
    EXPECT_FALSE(dialog.UpdateData(true));
    ASSERT_EQ(controls.messages.size(), 1u);
    EXPECT_EQ(controls.messages[0].text, "Enter a whole number.");
    EXPECT_EQ(controls.messages[0].caption, "Vantor Radio Config");
}

TEST_F(DialogTest, ExchangeStopsAtTheFirstFailingControlAndKeepsLaterMembers) {
    controls.At(ctl::kNumberEdit).text = "42";
    controls.At(ctl::kRxEdit).text = "12";
    controls.At(ctl::kTxEdit).text = "1234";  // set by the program, longer than may be typed
    controls.At(ctl::kDtmfDelayEdit).text = "0";
    controls.At(ctl::kSerialNumberEdit).text = "SN";
    EXPECT_FALSE(dialog.UpdateData(true));
    ASSERT_EQ(controls.messages.size(), 1u);
    EXPECT_EQ(controls.messages[0].text, "Enter no more than 3 characters.");
    EXPECT_EQ(controls.focus, ctl::kTxEdit);
    EXPECT_EQ(dialog.NumberText(), "42");
    EXPECT_EQ(dialog.RxText(), "12");
    EXPECT_EQ(dialog.TxText(), "");
    EXPECT_EQ(dialog.DtmfDelay(), 1);
    EXPECT_EQ(dialog.SerialNumberText(), "");
}

TEST_F(DialogTest, TextLimitsAreInclusive) {
    controls.At(ctl::kSerialNumberEdit).text = std::string(32, 'S');
    controls.At(ctl::kUserDescriptionEdit).text = std::string(12, 'U');
    EXPECT_TRUE(dialog.UpdateData(true));
    controls.At(ctl::kUserDescriptionEdit).text = std::string(13, 'U');
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(controls.focus, ctl::kUserDescriptionEdit);
    EXPECT_EQ(controls.messages.back().text, "Enter no more than 12 characters.");
}

TEST_F(DialogTest, EscapeClosesAtOnceWithoutValidating) {
    controls.At(ctl::kDtmfDelayEdit).text = "0";
    dialog.OnCancel();
    EXPECT_EQ(controls.endResult, ctl::kIdCancel);
    EXPECT_TRUE(controls.messages.empty());
}

TEST(DialogIntTest, ReadsSignedDecimalsAndNothingElse) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases{
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"12", 12},
        {"-16", -16},
        {" 5 ", 5},
        {"12abc", std::nullopt},
        {"-", std::nullopt},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseDialogInt(text), value) << '"' << text << '"';
    EXPECT_EQ(DialogIntOrZero("COM1"), 0);
}

}  // namespace
