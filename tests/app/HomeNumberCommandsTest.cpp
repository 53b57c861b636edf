// The home number table's handlers: the in-memory window, the program's serial link and the simulated
// device. Each case asserts the bytes the device received and the exact log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using testsupport::Bytes;
using vantor::sim::DeviceState;

struct Edits {
    std::string number, tx, rx, pllTx, pllRx;
};

class Table {
public:
    explicit Table(DeviceState state = {}, const std::vector<std::string>& faults = {})
        : device(std::move(state), faults) {
        dialog.OnInitDialog();
    }
    void Type(const Edits& e) {
        controls.SetDlgItemText(ctl::kNumberEdit, e.number);
        controls.SetDlgItemText(ctl::kTxEdit, e.tx);
        controls.SetDlgItemText(ctl::kRxEdit, e.rx);
        controls.SetDlgItemText(ctl::kPllTxEdit, e.pllTx);
        controls.SetDlgItemText(ctl::kPllRxEdit, e.pllRx);
    }
    std::vector<std::string> Row(int homeNumber) {
        return controls.rows.at(static_cast<std::size_t>(homeNumber - 1));
    }
    bool AllCommandsEnabled() {
        for (int id : RadioConfigDialog::BusyLockControls()) {
            if (!controls.At(id).enabled) return false;
        }
        return true;
    }

    testsupport::SimulatedDevice device;
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
};

TEST(HomeNumberCommandsTest, WriteSendsTheEditsAndReportsEachReply) {
    struct Case {
        Edits edits;
        std::vector<Bytes> requests;
        std::string log;
    };
    const std::string written7 =
        "Sending Home Number write request:\r\nHome Number: 7 Successful\r\n"
        "Sending PLL Write request:\r\nHome Number: 7 Successful\r\n";
    const std::vector<Case> cases{
        {{"7", "12", "34", "", ""},
         {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, {0x38, 0x01, 0x00, 0x07, 0xFF, 0xFF, 0xFF, 0xFF}},
         written7},
        {{"300", "123", "456", "", ""},
         {{0x33, 0x01, 0x01, 0x2C, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}},
         "Sending Home Number write request:\r\nHome Number: 300 Successful\r\n"},
        {{"7", "5", "7", "45.5", ""},
         {{0x33, 0x01, 0x00, 0x07, 0x30, 0x35, 0x30, 0x37}, {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
         written7},
        {{"0", "12", "34", "", ""}, {}, "Please enter a home number\r\n"},
        {{"100", "12", "34", "146,5", ""}, {}, "TxPLL and RxPLL must be numbers\r\n"},
    };
    for (const Case& c : cases) {
        Table t;
        t.Type(c.edits);
        t.dialog.OnWrite();
        EXPECT_EQ(t.device.Requests(), c.requests) << c.edits.number << " " << c.edits.tx;
        EXPECT_EQ(t.dialog.LogContents(), c.log) << c.edits.number << " " << c.edits.tx;
        EXPECT_TRUE(t.AllCommandsEnabled());
        EXPECT_FALSE(t.dialog.Link().IsOpen());
    }
}

TEST(HomeNumberCommandsTest, WriteOfCodesOfTwoLengthsShowsAMessageAndSendsNothing) {
    Table t;
    t.Type({"7", "5", "123", "", ""});
    t.dialog.OnWrite();
    ASSERT_EQ(t.controls.messages.size(), 1U);
    EXPECT_EQ(t.controls.messages[0].text, "Invalid Rx/Tx value");
    EXPECT_EQ(t.controls.messages[0].caption, "Invalid entry");
    EXPECT_TRUE(t.device.Requests().empty());
    EXPECT_TRUE(t.AllCommandsEnabled());
}

// The PLL exchange follows whatever the home number exchange gave, on the port it left open.
TEST(HomeNumberCommandsTest, ReadFillsTheEditsFromTheDeviceAndNeverTheTable) {
    DeviceState state;
    state.homeNumbers[6] = {"12", "34"};
    state.pll[6] = {455, vantor::sim::kNoPll};
    state.homeNumbers[299] = {"123", "456"};
    struct Case {
        std::string number;
        std::vector<std::string> faults;
        std::vector<Bytes> requests;
        std::string log;
        Edits shown;
    };
    const std::vector<Case> cases{
        {"7",
         {},
         {{0x33, 0x02, 0x00, 0x07}, {0x38, 0x02, 0x00, 0x07}},
         "Sending Home Number Read request:\r\nHome Number: 7 Tx: 12 Rx: 34\r\n"
         "Sending PLL Read request:\r\nHome Number: 7 TxPLL: 45.5 RxPLL: \r\n",
         {"7", "12", "34", "45.5", ""}},
        {"300",
         {},
         {{0x33, 0x02, 0x01, 0x2C}},
         "Sending Home Number Read request:\r\nHome Number: 300 Tx: 123 Rx: 456\r\n",
         {"300", "123", "456", "x", "x"}},
        {"7",
         {"33:silence"},
         {{0x33, 0x02, 0x00, 0x07}, {0x38, 0x02, 0x00, 0x07}},
         "Sending Home Number Read request:\r\nTimed out waiting for response\r\n"
         "Sending PLL Read request:\r\nHome Number: 7 TxPLL: 45.5 RxPLL: \r\n",
         {"7", "x", "x", "45.5", ""}},
        {"0", {}, {}, "Please enter a Channel value\r\n", {"0", "x", "x", "x", "x"}},
    };
    for (const Case& c : cases) {
        Table t(state, c.faults);
        t.Type({c.number, "x", "x", "x", "x"});
        t.dialog.OnRead();
        EXPECT_EQ(t.device.Requests(), c.requests) << c.number;
        EXPECT_EQ(t.dialog.LogContents(), c.log) << c.number;
        const Edits& e = c.shown;
        EXPECT_EQ((std::vector<std::string>{
                      t.controls.GetDlgItemText(ctl::kNumberEdit), t.controls.GetDlgItemText(ctl::kTxEdit),
                      t.controls.GetDlgItemText(ctl::kRxEdit), t.controls.GetDlgItemText(ctl::kPllTxEdit),
                      t.controls.GetDlgItemText(ctl::kPllRxEdit)}),
                  (std::vector<std::string>{e.number, e.tx, e.rx, e.pllTx, e.pllRx}))
            << c.number;
        EXPECT_EQ(t.Row(7), (std::vector<std::string>{"7", "", "", "", ""}));
        EXPECT_FALSE(t.dialog.Link().IsOpen());
    }
}

TEST(HomeNumberCommandsTest, AddStoresWhatPassesItsChecksAndNothingElse) {
    Table t;
    const std::vector<std::pair<Edits, std::vector<std::string>>> stored{
        {{"500", "12", "34", "", ""}, {"500", "12", "34", "", ""}},
        {{"5", "5", "7", ".5", "146.52"}, {"5", "05", "07", ".5", "146.52"}},
        {{"6", "123", "456", "6553.4", ""}, {"6", "123", "456", "6553.4", ""}},
    };
    for (const auto& [edits, row] : stored) {
        t.Type(edits);
        t.dialog.OnAdd();
        EXPECT_EQ(t.Row(std::stoi(edits.number)), row);
    }
    t.Type({"5", "", "", "", ""});  // empty codes clear the row
    t.dialog.OnAdd();
    EXPECT_EQ(t.Row(5), (std::vector<std::string>{"5", "", "", "", ""}));

    const std::vector<Edits> refused{
        {"", "12", "34", "", ""},   {"501", "12", "34", "", ""},     {"6", "1", "234", "", ""},
        {"6", "", "", "146.5", ""}, {"6", "12", "34", "6553.5", ""}, {"6", "12", "34", "146.5 MHz", ""},
    };
    for (const Edits& edits : refused) {
        t.Type(edits);
        t.dialog.OnAdd();
    }
    EXPECT_EQ(t.Row(6), (std::vector<std::string>{"6", "123", "456", "6553.4", ""}));
    EXPECT_EQ(t.controls.rows.size(), 500U);
    EXPECT_EQ(t.dialog.LogContents(),
              "Please enter a valid home number\r\nInvalid Home Number.\r\nChannel must be less than 501\r\n"
              "and greater than 0\r\n");
    ASSERT_EQ(t.controls.messages.size(), 4U);
    EXPECT_EQ(t.controls.messages[2].text, "TxPLL and RxPLL must be less than 6553.5\r\n");
    EXPECT_EQ(t.controls.messages[3].text, "TxPLL and RxPLL must be numbers\r\n");
    EXPECT_EQ(t.controls.messages[3].caption, "Invalid entry");
    EXPECT_TRUE(t.device.Requests().empty());
}

// A device echo or a file line can name any number: the table keeps its 500 rows whatever it is told.
TEST(HomeNumberCommandsTest, RowOperationsIgnoreNumbersThatNameNoRow) {
    Table t;
    t.dialog.SetHomeNumberRow(0, "12", "34");
    t.dialog.SetHomeNumberRow(501, "12", "34");
    t.dialog.SetHomeNumberRow("-3", "12", "34");
    t.dialog.SetPllColumns(501, "1.0", "2.0");
    t.dialog.SetHomeNumberRow(" 007x", "12", "34");  // the row its number names, its text kept
    t.dialog.SetPllColumns("7", "1.0", "2.0");
    ASSERT_EQ(t.controls.rows.size(), 500U);
    for (int n = 1; n <= 500; ++n) {
        const std::vector<std::string> expected =
            n == 7 ? std::vector<std::string>{" 007x", "12", "34", "1.0", "2.0"}
                   : std::vector<std::string>{std::to_string(n), "", "", "", ""};
        ASSERT_EQ(t.Row(n), expected) << n;
    }
}

// What an operator does: store a row, write it, empty the edits, read it back.
TEST(HomeNumberCommandsTest, ARowAddedAndWrittenReadsBackTheSame) {
    Table t;
    t.Type({"42", "123", "456", "146.5", "151.2"});
    t.dialog.OnAdd();
    t.dialog.OnWrite();
    t.Type({"42", "", "", "", ""});
    t.dialog.OnRead();
    EXPECT_EQ(t.device.State().homeNumbers[41], (vantor::sim::HomeNumberCodes{"123", "456"}));
    EXPECT_EQ(t.controls.GetDlgItemText(ctl::kTxEdit), "123");
    EXPECT_EQ(t.controls.GetDlgItemText(ctl::kRxEdit), "456");
    EXPECT_EQ(t.controls.GetDlgItemText(ctl::kPllTxEdit), "146.5");
    EXPECT_EQ(t.controls.GetDlgItemText(ctl::kPllRxEdit), "151.2");
    EXPECT_EQ(t.Row(42), (std::vector<std::string>{"42", "123", "456", "146.5", "151.2"}));
}

}  // namespace
