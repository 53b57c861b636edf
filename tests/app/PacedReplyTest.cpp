// Replies read whole at every line speed: the simulated device sends its replies at the port's speed
// (the Baud edit names the same speed), and each read gives the whole reply and the log of a reply that
// came at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using vantor::sim::DeviceState;

DeviceState Device() {
    DeviceState state;
    state.homeNumbers[6] = {"123", "456"};  // a 10-byte reply
    state.pll[6] = {1465, 1512};
    state.homeNumbers[249] = {"12", "34"};  // an 8-byte reply, which a 10-byte one would begin with
    state.serialNumber = DeviceState::TextField("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 32);  // 34 bytes
    state.userDescription = DeviceState::TextField("Desk", 12);  // a text that ends before its field
    return state;
}

struct Paced {
    explicit Paced(std::uint32_t baud, const std::vector<std::string>& faults = {})
        : device(Device(), faults, baud) {
        dialog.OnInitDialog();
        controls.SetDlgItemInt(ctl::kBaudEdit, static_cast<int>(baud));
        controls.SetDlgItemText(ctl::kSerialPortEdit, "1");
    }
    testsupport::SimulatedDevice device;
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
};

TEST(PacedReplyTest, EveryReadGivesTheWholeReplyAtEverySpeed) {
    const std::string homeNumber7 =
        "Sending Home Number Read request:\r\nHome Number: 7 Tx: 123 Rx: 456\r\nSending PLL Read request:\r\n"
        "Home Number: 7 TxPLL: 146.5 RxPLL: 151.2\r\n";
    for (const std::uint32_t baud : {19200U, 9600U, 4800U, 2400U}) {
        Paced t(baud);
        DeviceSession& session = t.dialog.Session();
        const auto seven = session.ReadHomeNumber(7);
        EXPECT_TRUE(seven.outcome.Done()) << baud;
        EXPECT_EQ(seven.value->codes, (table::Codes{"123", "456"})) << baud;
        EXPECT_EQ(seven.value->pll, (table::PllTexts{"146.5", "151.2"})) << baud;
        EXPECT_EQ(t.dialog.LogContents(), homeNumber7) << baud;

        const auto twoDigits = session.ReadHomeNumber(250);
        EXPECT_EQ(twoDigits.value->codes, (table::Codes{"12", "34"})) << baud;
        const auto serial = session.ReadText(protocol::kSerialNumber);
        EXPECT_EQ(serial.value, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345") << baud;
        const auto description = session.ReadText(protocol::kUserDescription);
        EXPECT_EQ(description.value, "Desk") << baud;
        EXPECT_EQ(t.dialog.LogContents().find("Unrecognized"), std::string::npos) << baud;
    }
}

// A text reply that pauses 30 ms after its fifth byte: well within the text read's 100 ms interval.
TEST(PacedReplyTest, AReplySplitByAPauseWithinTheWaitArrivesWhole) {
    Paced t(19200, {"37:split=30,5"});
    EXPECT_EQ(t.dialog.Session().ReadText(protocol::kSerialNumber).value, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
}

// A reply cut short is never whole: it is read once the described interval has passed, and reported.
TEST(PacedReplyTest, AShortReplyIsReadAfterTheIntervalAndReported) {
    Paced t(19200, {"36:short=2"});
    const auto start = std::chrono::steady_clock::now();
    const auto got = t.dialog.Session().Get(protocol::kDtmfDelay);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_FALSE(got.value);
    EXPECT_EQ(got.outcome.kind, Outcome::Kind::kRefused);
    EXPECT_EQ(t.dialog.LogContents(),
              "Sending DTMF Delay read request:\r\n36(DTMF Delay):\r\nDTMF Delay read Response:\r\n"
              "Unrecognized response[2]: \r\n");
}

}  // namespace
