// The device session's request exchange and the window's command cycle against a real pseudo-terminal, the device's end driven by
// the test at chosen polling rounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/FarEnd.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

using testsupport::Bytes;
using testsupport::FarEnd;
using testsupport::PortsDirectory;

// Sleeps are recorded, not slept; the test acts at the sleep it chooses, as the device would during
// that wait.
class ScriptedWaits : public MemoryDialogControls {
public:
    std::function<void(std::size_t sleepIndex)> during;
    void Sleep(int ms) override {
        sleeps.push_back(ms);
        if (during) during(sleeps.size() - 1);
    }
};

// The pty hands the device's bytes to the link a moment after they are written: wait until the link
// sees them all, so the round they belong to is the one the test chose.
void Settle(SerialLink& link, int count) {
    const auto deadline = testsupport::Clock::now() + testsupport::kHangBound;
    while (link.InputCount() < count && testsupport::Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.OnInitDialog();
        controls.sleeps.clear();
    }
    Bytes Sent(std::size_t count) { return far.Read(count); }

    PortsDirectory ports;
    FarEnd far{ports.Path(), 1};
    ScriptedWaits controls;
    RadioConfigDialog dialog{controls};
    DeviceSession& session = dialog.Session();
    Outcome outcome;
    const Bytes request{0x35, 0x02};
};

std::vector<int> Repeat(int ms, int times) { return std::vector<int>(static_cast<std::size_t>(times), ms); }

TEST_F(ExchangeTest, NoReplyTimesOutAfter101RoundsWithOneLineAndAPause) {
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(Sent(2), request);
    EXPECT_EQ(session.AwaitReply(50, 10, outcome), -1);
    std::vector<int> expected = Repeat(5, 101);
    expected.push_back(100);  // the log's pause after the time-out line
    EXPECT_EQ(controls.sleeps, expected);
    EXPECT_EQ(dialog.LogContents(), "Timed out waiting for response\r\n");
}

TEST_F(ExchangeTest, ReplyInTheFirstRoundIsReadAfterOneMoreInterval) {
    const auto answer = [&](const Bytes& reply) {
        controls.sleeps.clear();
        controls.during = [&, reply](std::size_t i) {
            if (i == 0) {
                far.Send(reply);
                Settle(dialog.Link(), static_cast<int>(reply.size()));
            }
        };
        EXPECT_TRUE(session.SendRequest(request, outcome));
        return session.AwaitReply(50, 10, outcome);
    };
    ASSERT_EQ(answer(Bytes(12, 0xAA)), 12);
    EXPECT_EQ(answer({0x35, 0x02, 0x02}), 3);
    EXPECT_EQ(controls.sleeps, (std::vector<int>{5, 10}));
    // The reply, then nothing left over from before.
    const auto buffer = session.Reply(40);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{0x35, 0x02, 0x02}));
    EXPECT_EQ(Bytes(buffer.begin() + 3, buffer.end()), Bytes(37, 0x00));
    EXPECT_EQ(dialog.LogContents(), "");
    EXPECT_TRUE(outcome.Done());
}

TEST_F(ExchangeTest, ReplyFirstSeenInTheLastRoundStillTimesOutAndStaysUnread) {
    controls.during = [&](std::size_t i) {
        if (i == 100) {  // the round with r = 100
            far.Send({0x35, 0x02, 0x01});
            Settle(dialog.Link(), 3);
        }
    };
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(session.AwaitReply(50, 10, outcome), -1);
    std::vector<int> expected = Repeat(5, 101);
    expected.push_back(10);
    expected.push_back(100);
    EXPECT_EQ(controls.sleeps, expected);
    EXPECT_EQ(dialog.LogContents(), "Timed out waiting for response\r\n");
    EXPECT_EQ(dialog.Link().InputCount(), 3);
}

TEST_F(ExchangeTest, ReplyFirstSeenInTheRoundBeforeIsRead) {
    controls.during = [&](std::size_t i) {
        if (i == 99) {
            far.Send({0x35, 0x02, 0x01});
            Settle(dialog.Link(), 3);
        }
    };
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(session.AwaitReply(50, 10, outcome), 3);
    EXPECT_EQ(controls.sleeps.size(), 101u);
}

TEST_F(ExchangeTest, TextReadsPollTwentyTimesAHundredMilliseconds) {
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(session.AwaitReply(20, 100, outcome), -1);
    std::vector<int> expected = Repeat(50, 41);
    expected.push_back(100);
    EXPECT_EQ(controls.sleeps, expected);
}

TEST_F(ExchangeTest, PollCountZeroWaitsUntilTheReplyComes) {
    controls.during = [&](std::size_t i) {
        if (i == 500) {
            far.Send({0x36, 0x02, 0x05});
            Settle(dialog.Link(), 3);
        }
    };
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(session.AwaitReply(0, 10, outcome), 3);
    EXPECT_EQ(controls.sleeps.size(), 502u);
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(ExchangeTest, FiftyBytesWaitingGiveFortyAndLeaveTen) {
    controls.during = [&](std::size_t i) {
        if (i == 0) {
            far.Send(Bytes(50, 0x42));
            Settle(dialog.Link(), 50);
        }
    };
    ASSERT_TRUE(session.SendRequest(request, outcome));
    EXPECT_EQ(session.AwaitReply(50, 10, outcome), 40);
    EXPECT_EQ(dialog.Link().InputCount(), 10);
}

// Each failure says, after the line every failure shares, what was tried and why it did not open.
TEST_F(ExchangeTest, PortFailuresAreLoggedInPlainWordsAndNothingIsSent) {
    struct Case {
        const char* port;
        const char* baud;
        std::string why;
    };
    const std::string missing = ports.Path() + "/com3";
    std::filesystem::create_symlink(ports.Path() + "/missing", missing);  // an adapter not plugged in
    const std::string file = ports.Path() + "/com4";
    std::ofstream(file) << "not a terminal";
    const std::string pty = ports.Path() + "/com1";
    const std::vector<Case> cases{
        {"COM1", "19200", "Serial Port \"COM1\" names no port: type a number such as 1\r\n"},
        {"3", "19200", missing + ": no such device\r\n"},
        {"4", "19200", file + ": not a serial port\r\n"},
        {"1", "", pty + ": the speed 0 was refused\r\n"},
        {"1", "-5", pty + ": the speed -5 was refused\r\n"},
    };
    for (const Case& c : cases) {
        dialog.LogText("");
        controls.SetDlgItemText(ctl::kSerialPortEdit, c.port);
        controls.SetDlgItemText(ctl::kBaudEdit, c.baud);
        outcome = {};
        EXPECT_FALSE(session.SendRequest(request, outcome)) << c.port << " " << c.baud;
        EXPECT_EQ(outcome.kind, Outcome::Kind::kPortFailed);
        EXPECT_EQ(outcome.reason + "\r\n", c.why);
        EXPECT_EQ(dialog.LogContents(), "Open com port failed\r\n" + c.why) << c.port << " " << c.baud;
        EXPECT_FALSE(dialog.Link().IsOpen());
    }
    // Another program holds the port.
    SerialLink other;
    ASSERT_EQ(other.Connect("1", 19200), 1);
    dialog.LogText("");
    controls.SetDlgItemText(ctl::kSerialPortEdit, "1");
    controls.SetDlgItemText(ctl::kBaudEdit, "19200");
    EXPECT_FALSE(session.SendRequest(request, outcome));
    EXPECT_EQ(dialog.LogContents(), "Open com port failed\r\n" + pty + ": in use by another program\r\n");
}

TEST_F(ExchangeTest, NothingToSendLogsBothLines) {
    EXPECT_FALSE(session.SendRequest({}, outcome));
    EXPECT_EQ(dialog.LogContents(), "Error while sending data\r\nSent bytes equals 0\r\n");
}

// An adapter pulled out before the request goes: the failure is reported, not counted as sent.
TEST_F(ExchangeTest, UnpluggedAdapterIsAFailedSendNotASuccess) {
    ASSERT_EQ(dialog.Link().Connect("1", 19200), 1);
    far.CloseMaster();
    EXPECT_FALSE(session.SendRequest(request, outcome));
    EXPECT_EQ(dialog.LogContents(), "Error while sending data\r\n");
}

TEST_F(ExchangeTest, SendReadsThePortAndSpeedAtEveryCallUnlessStillOpen) {
    FarEnd second(ports.Path(), 2);
    ASSERT_TRUE(session.SendRequest(request, outcome));
    controls.SetDlgItemText(ctl::kSerialPortEdit, "2");
    ASSERT_TRUE(session.SendRequest(Bytes{0x36, 0x02}, outcome));  // the port is still open: same port
    EXPECT_EQ(Sent(4), (Bytes{0x35, 0x02, 0x36, 0x02}));
    dialog.Link().Disconnect();
    ASSERT_TRUE(session.SendRequest(Bytes{0x39, 0x02}, outcome));
    EXPECT_EQ(second.Read(2), (Bytes{0x39, 0x02}));
}

// --- the command cycle -------------------------------------------------------------------------------

TEST_F(ExchangeTest, CycleLocksForItsWholeLengthAndClosesThePortAfter) {
    controls.during = [&](std::size_t i) {
        EXPECT_FALSE(controls.At(ctl::kDispSet).enabled);  // locked while waiting
        EXPECT_FALSE(dialog.CanClose());
        if (i == 0) {
            far.Send({0x35, 0x02, 0x02});
            Settle(dialog.Link(), 3);
        }
    };
    dialog.OnDispGet();
    EXPECT_EQ(Sent(2), request);
    EXPECT_EQ(controls.At(ctl::kDispList).current, 1);
    EXPECT_FALSE(dialog.Link().IsOpen());
    EXPECT_TRUE(controls.At(ctl::kDispSet).enabled);
    EXPECT_TRUE(dialog.CanClose());
}

TEST_F(ExchangeTest, CycleWithAFailedSendStillEndsThroughDisconnectAndUnlock) {
    controls.SetDlgItemText(ctl::kSerialPortEdit, "COM1");
    dialog.OnDispGet();
    EXPECT_NE(dialog.LogContents().find("Open com port failed\r\n"), std::string::npos);
    EXPECT_TRUE(controls.At(ctl::kWriteAll).enabled);
    EXPECT_FALSE(dialog.Link().IsOpen());
}

TEST_F(ExchangeTest, CycleUnderAWorkerLeavesTheLockOn) {
    dialog.SetWorkerFlag(true);
    { RadioConfigDialog::CommandCycle cycle(dialog); }
    EXPECT_FALSE(controls.At(ctl::kReadAll).enabled);
    { RadioConfigDialog::CommandCycle cycle(dialog, RadioConfigDialog::CommandCycle::Unlock::kAlways); }
    EXPECT_TRUE(controls.At(ctl::kReadAll).enabled);
}

// The far end vanishes in the middle of the wait: a time-out, never a hang, and the port is closed.
TEST_F(ExchangeTest, FarEndClosedMidExchangeEndsThroughTheNormalPath) {
    controls.during = [&](std::size_t i) {
        if (i == 3) far.CloseMaster();
    };
    const Reading<std::int32_t> got = session.Get(protocol::kDisp);
    EXPECT_FALSE(got.value);
    EXPECT_EQ(got.outcome.kind, Outcome::Kind::kNoAnswer);
    EXPECT_TRUE(dialog.LogContents().ends_with("Timed out waiting for response\r\n"));
    EXPECT_FALSE(dialog.Link().IsOpen());
}

}  // namespace
