// Verify: the device read back and compared with what Write All would write, line by line.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using vantor::sim::DeviceState;

// What a table and its settings hold, and a device that holds the same: home numbers 1, 100 and 500,
// PLL values of 1 and 100, every setting Write All writes.
struct Unit {
    Unit() {
        table.SetRow(1, "12", "34");
        table.SetPll(1, "146.5", "");
        table.SetRow(100, "123", "456");
        table.SetPll(100, "", "6553.4");
        table.SetRow(500, "9", "FFF");  // goes out as no codes
        settings.ShowValue(protocol::kDisp, 2);
        settings.ShowValue(protocol::kSquelch, 1);
        settings.ShowValue(protocol::kWideBand, 2);
        settings.ShowValue(protocol::kDtmfDelay, 7);
        settings.ShowText(protocol::kSerialNumber, "SN-7");
        settings.ShowText(protocol::kUserDescription, "Bench 3");
        device.homeNumbers[0] = {"12", "34"};
        device.pll[0] = {1465, vantor::sim::kNoPll};
        device.homeNumbers[99] = {"123", "456"};
        device.pll[99] = {vantor::sim::kNoPll, 65534};
        device.disp = 2;
        device.squelch = 1;
        device.wideBand = 2;
        device.dtmfDelay = 7;
        device.serialNumber = DeviceState::TextField("SN-7", 32);
        device.userDescription = DeviceState::TextField("Bench 3", 12);
    }
    table::HomeNumberTable table;
    SettingValues settings;
    DeviceState device;
};

struct Verified {
    explicit Verified(const Unit& unit, const std::vector<std::string>& faults = {})
        : simulated(unit.device, faults) {
        dialog.OnInitDialog();
    }
    testsupport::SimulatedDevice simulated;
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
};

class NoProgress : public DeviceSession::Progress {
public:
    void RowsDone(std::int32_t) override {}
    void SettingsNext() override {}
    bool StopRequested() override { return false; }
};

// The device side as read back: the same rows and settings as the unit's device.
struct ReadBack {
    explicit ReadBack(const DeviceState& state) {
        for (int n = 1; n <= 500; ++n) {
            const auto& codes = state.homeNumbers[static_cast<std::size_t>(n - 1)];
            table.SetRow(n, codes.tx, codes.rx);
            if (n <= 100) {
                const auto& pll = state.pll[static_cast<std::size_t>(n - 1)];
                table.SetPll(n, table::PllText(pll.tx), table::PllText(pll.rx));
            }
        }
        settings.ShowValue(protocol::kDisp, state.disp);
        settings.ShowValue(protocol::kSquelch, state.squelch);
        settings.ShowValue(protocol::kWideBand, state.wideBand);
        settings.ShowValue(protocol::kDtmfDelay, state.dtmfDelay);
        settings.ShowText(protocol::kSerialNumber,
                          state.serialNumber.substr(0, state.serialNumber.find('\0')));
        settings.ShowText(protocol::kUserDescription,
                          state.userDescription.substr(0, state.userDescription.find('\0')));
    }
    table::HomeNumberTable table;
    SettingValues settings;
};

// One difference of each kind, each alone, is one line.
TEST(VerifyTest, EachDifferenceIsOneLine) {
    struct Case {
        std::function<void(Unit&)> change;
        std::string line;
    };
    const std::vector<Case> cases{
        {[](Unit&) {}, ""},
        {[](Unit& u) {
             u.device.homeNumbers[99] = {"123", "457"};
         },
         "Home Number 100: table 123/456, device 123/457\r\n"},
        {[](Unit& u) {
             u.device.homeNumbers[499] = {"09", "11"};
         },
         "Home Number 500: table /, device 09/11\r\n"},
        {[](Unit& u) { u.table.SetRow(7, "55", "66"); }, "Home Number 7: table 55/66, device /\r\n"},
        {[](Unit& u) {
             u.device.pll[99] = {vantor::sim::kNoPll, vantor::sim::kNoPll};
         },
         "PLL 100: table /6553.4, device /\r\n"},
        {[](Unit& u) {
             u.device.pll[0] = {1466, vantor::sim::kNoPll};
         },
         "PLL 1: table 146.5/, device 146.6/\r\n"},
        {[](Unit& u) { u.device.disp = 1; }, "DISP: table TBD, device NONE\r\n"},
        {[](Unit& u) { u.settings.ShowValue(protocol::kSquelch, 0); },
         "SQUELCH: table none, device NONE\r\n"},
        {[](Unit& u) { u.device.wideBand = 1; }, "Wide Band: table Disable, device Enable\r\n"},
        {[](Unit& u) { u.device.serialNumber = DeviceState::TextField("SN-8", 32); },
         "Serial Number: table SN-7, device SN-8\r\n"},
        {[](Unit& u) { u.settings.ShowText(protocol::kUserDescription, "Bench 3 of 12"); },
         "User Description: table Bench 3 of 1, device Bench 3\r\n"},
        {[](Unit& u) { u.settings.ShowText(protocol::kSerialNumber, ""); }, ""},  // not written, not compared
        {[](Unit& u) { u.device.dtmfDelay = 5; }, "DTMF Delay: table 7, device 5\r\n"},
    };
    for (const Case& c : cases) {
        Unit unit;
        c.change(unit);
        ReadBack device(unit.device);
        const std::vector<std::string> lines =
            Differences(unit.table, unit.settings, device.table, device.settings);
        EXPECT_EQ(lines, c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line})
            << c.line;
    }
}

// Against the device: the same unit holds the table; one that differs says so and counts; one that stops
// answering is not verified.
TEST(VerifyTest, TheDeviceIsReadBackAndJudged) {
    struct Case {
        std::vector<std::string> faults;
        std::function<void(Unit&)> change;
        std::optional<int> differences;
        Outcome::Kind kind;
        std::string ending;
    };
    const std::vector<Case> cases{
        {{},
         [](Unit&) {},
         0,
         Outcome::Kind::kDone,
         "DTMF Delay read Response:\r\nVerify: the device holds the table\r\n"},
        {{},
         [](Unit& u) { u.device.dtmfDelay = 5; },
         1,
         Outcome::Kind::kRefused,
         "DTMF Delay: table 7, device 5\r\nVerify: 1 differences\r\n"},
        {{"3C/r:silence"},
         [](Unit&) {},
         std::nullopt,
         Outcome::Kind::kNoAnswer,
         "Verify: the device could not be read whole\r\n"},
    };
    for (const Case& c : cases) {
        Unit unit;
        c.change(unit);
        Verified v(unit, c.faults);
        NoProgress progress;
        const Reading<int> verdict = v.dialog.Session().Verify(unit.table, unit.settings, progress);
        EXPECT_EQ(verdict.value, c.differences) << c.ending;
        EXPECT_EQ(verdict.outcome.kind, c.kind) << c.ending;
        EXPECT_TRUE(v.dialog.LogContents().ends_with(c.ending)) << c.ending;
        EXPECT_TRUE(v.simulated.State() == unit.device) << c.ending;  // verifying changes nothing
    }
}

}  // namespace
