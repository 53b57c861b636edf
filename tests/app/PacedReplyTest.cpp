// Replies read whole on real lines: the simulated device sends its replies at the port's speed (the Baud
// edit names the same speed), slow ones included, and behind a USB adapter that hands them over in
// pieces at its latency timer's ticks; each read gives the whole reply and the log of a reply that came
// at once.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using std::chrono::milliseconds;
using vantor::sim::DeviceState;

DeviceState Device() {
    DeviceState state;
    state.homeNumbers[6] = {"123", "456"};  // a 10-byte reply
    state.pll[6] = {1465, 1512};
    state.homeNumbers[149] = {"123", "456"};  // the same without PLL values
    state.homeNumbers[249] = {"12", "34"};    // an 8-byte reply, which a 10-byte one would begin with
    state.serialNumber = DeviceState::TextField("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 32);  // 34 bytes
    state.userDescription = DeviceState::TextField("Desk", 12);  // a text that ends before its field
    return state;
}

struct Paced {
    explicit Paced(std::uint32_t baud, const std::vector<std::string>& faults = {}, milliseconds latency = {})
        : device(Device(), faults, baud, latency) {
        dialog.OnInitDialog();
        controls.SetDlgItemInt(ctl::kBaudEdit, static_cast<int>(baud));
        controls.SetDlgItemText(ctl::kSerialPortEdit, "1");
    }
    // What one command logged. Each command starts a few ms later than the one before would have, in
    // steps of 7 ms out of 16, so that an adapter's ticks, which would otherwise keep step with the
    // exchanges, fall at every point of the replies.
    template <class Command>
    std::string Logged(Command command) {
        std::this_thread::sleep_for(milliseconds(m_offset));
        m_offset = (m_offset + 7) % 16;
        dialog.LogText("");
        command(dialog.Session());
        return dialog.LogContents();
    }
    testsupport::SimulatedDevice device;
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};

private:
    int m_offset = 0;
};

const std::string kHomeNumber7 =
    "Sending Home Number Read request:\r\nHome Number: 7 Tx: 123 Rx: 456\r\nSending PLL Read request:\r\n"
    "Home Number: 7 TxPLL: 146.5 RxPLL: 151.2\r\n";
const std::string kHomeNumber150 = "Sending Home Number Read request:\r\nHome Number: 150 Tx: 123 Rx: 456\r\n";
const std::string kHomeNumber250 = "Sending Home Number Read request:\r\nHome Number: 250 Tx: 12 Rx: 34\r\n";
const std::string kHomeNumber300 = "Sending Home Number Read request:\r\nHome Number: 300 Tx: FFF Rx: FFF\r\n";
const std::string kSerialNumber =
    "Sending Serial Number read request:\r\nReceived : 34 bytes\r\n37(Serial Number):\r\n"
    "Serial Number read Response:\r\nSerial Number Received:\r\nABCDEFGHIJKLMNOPQRSTUVWXYZ012345\r\n";
const std::string kDescription =
    "Sending read request:\r\nReceived : 14 bytes\r\n(User Descript):\r\nUser Descript read Response:\r\n"
    "User Desciption Received:\r\nDesk\r\n";

// Every kind of reply at every speed, down to 300 baud, where one character takes 33 ms: an 8-byte home
// number reply is not taken for a whole one while the ninth byte is on its way.
TEST(PacedReplyTest, EveryReadGivesTheWholeReplyAtEverySpeed) {
    for (const std::uint32_t baud : {19200U, 9600U, 2400U, 600U, 300U}) {
        Paced t(baud);
        const auto read = [](std::int32_t n) { return [n](DeviceSession& s) { s.ReadHomeNumber(n); }; };
        EXPECT_EQ(t.Logged(read(7)), kHomeNumber7) << baud;
        EXPECT_EQ(t.Logged(read(150)), kHomeNumber150) << baud;
        EXPECT_EQ(t.Logged(read(250)), kHomeNumber250) << baud;
        EXPECT_EQ(t.Logged([](DeviceSession& s) { s.ReadText(protocol::kSerialNumber); }), kSerialNumber)
            << baud;
        EXPECT_EQ(t.Logged([](DeviceSession& s) { s.ReadText(protocol::kUserDescription); }), kDescription)
            << baud;
    }
}

// Behind a USB adapter at 19200 baud the ticks of its timer fall anywhere in a reply, so each kind is
// read several times: a 10-byte reply cut after 8 bytes, a text in two pieces, a write's status.
TEST(PacedReplyTest, BehindAUsbAdapterEveryReplyIsReadWholeWhereverItsPiecesBreak) {
    constexpr int kTries = 8;
    const std::string kWrite7 =
        "Sending Home Number write request:\r\nHome Number: 7 Successful\r\nSending PLL Write request:\r\n"
        "Home Number: 7 Successful\r\n";
    for (const int latency : {0, 4, 16}) {
        Paced t(19200, {}, milliseconds(latency));
        for (int i = 0; i < kTries; ++i) {
            const auto read = [](std::int32_t n) { return [n](DeviceSession& s) { s.ReadHomeNumber(n); }; };
            EXPECT_EQ(t.Logged(read(7)), kHomeNumber7) << latency;
            EXPECT_EQ(t.Logged(read(250)), kHomeNumber250) << latency;
            EXPECT_EQ(t.Logged(read(300)), kHomeNumber300) << latency;
            EXPECT_EQ(t.Logged([](DeviceSession& s) { s.ReadText(protocol::kSerialNumber); }), kSerialNumber)
                << latency;
            EXPECT_EQ(t.Logged([](DeviceSession& s) {
                          s.WriteHomeNumber(7, {"123", "456"}, "146.5", "151.2");
                      }),
                      kWrite7)
                << latency;
        }
    }
}

// A device (or an adapter) that pauses inside a reply, just before its last byte or where a shorter form
// would end: a home number reply waits out what the port may hold back, and a text waits for its end as
// long as the read waits for its first byte.
TEST(PacedReplyTest, AReplyThatPausesBeforeItsEndIsReadWhole) {
    struct Case {
        std::string fault;
        std::function<void(DeviceSession&)> command;
        const std::string& log;
    };
    const auto read7 = [](DeviceSession& s) { EXPECT_TRUE(s.ReadHomeNumber(7).outcome.Done()); };
    const auto text = [](const protocol::DeviceCommand& command) {
        return [&command](DeviceSession& s) { EXPECT_TRUE(s.ReadText(command).outcome.Done()); };
    };
    for (const Case& c : {Case{"33/r:split=20,9", read7, kHomeNumber7}, Case{"33/r:split=20,8", read7, kHomeNumber7},
                          Case{"37/r:split=150,12", text(protocol::kSerialNumber), kSerialNumber},
                          Case{"3C/r:split=150,4", text(protocol::kUserDescription), kDescription}}) {
        Paced t(19200, {c.fault});
        EXPECT_EQ(t.Logged(c.command), c.log) << c.fault;
    }
}

// A reply cut short is never whole: it is read once the described interval has passed, and reported.
TEST(PacedReplyTest, AShortReplyIsReadAfterTheIntervalAndReported) {
    Paced t(19200, {"36:short=2"});
    const auto start = std::chrono::steady_clock::now();
    const auto got = t.dialog.Session().Get(protocol::kDtmfDelay);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(10));
    EXPECT_FALSE(got.value);
    EXPECT_EQ(got.outcome.kind, Outcome::Kind::kRefused);
    EXPECT_EQ(t.dialog.LogContents(),
              "Sending DTMF Delay read request:\r\n36(DTMF Delay):\r\nDTMF Delay read Response:\r\n"
              "Unrecognized response[2]: \r\n");
}

}  // namespace
