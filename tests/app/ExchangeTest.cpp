// The device session's request exchange and the window's command cycle against a real pseudo-terminal
// whose device end the test drives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "device/ReplyShapes.h"
#include "protocol/LogSink.h"
#include "tests/support/FarEnd.h"
#include "serial/ExchangeTrace.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

constexpr ReplyShape kThreeBytes{ReplyShape::Kind::kFixed, 3};
using testsupport::Bytes;
using testsupport::FarEnd;
using testsupport::PortsDirectory;

// The pty hands the device's bytes to the link a moment after they are written: wait until the link
// sees them all.
void Settle(SerialLink& link, int count) {
    const auto deadline = testsupport::Clock::now() + testsupport::kHangBound;
    while (link.InputCount() < count && testsupport::Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.OnInitDialog(); }
    Bytes Sent(std::size_t count) { return far.Read(count); }

    PortsDirectory ports;
    FarEnd far{ports.Path(), 1};
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
    DeviceSession& session = dialog.Session();
    Outcome outcome;
    const Bytes request{0x35, 0x02};
};

// Each reply is read on its own, and no decoder sees a byte of the one before.
TEST_F(ExchangeTest, AReplyIsReadWholeAndNothingOfAnEarlierOneStays) {
    for (const Bytes& reply : {Bytes(12, 0xAA), Bytes{0x35, 0x02, 0x02}}) {
        ASSERT_TRUE(session.SendRequest(request, outcome));
        far.Send(reply);
        EXPECT_EQ(Count(session.AwaitReply(50, 10, kThreeBytes, outcome)), static_cast<int>(reply.size()));
    }
    const auto buffer = session.Reply(40);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{0x35, 0x02, 0x02}));
    EXPECT_EQ(Bytes(buffer.begin() + 3, buffer.end()), Bytes(37, 0x00));
    EXPECT_EQ(dialog.LogContents(), "");
    EXPECT_TRUE(outcome.Done());
}

// Bytes waiting before a request came before it: the rest of a reply ended too soon, or a reply that
// came after its wait had given up. They are dropped and noted in the trace, never read as its reply.
TEST_F(ExchangeTest, BytesWaitingBeforeARequestAreDroppedAndTraced) {
    char* text = nullptr;
    std::size_t size = 0;
    {
        double now = 0;
        ExchangeTrace trace(open_memstream(&text, &size), [&now] { return now += 1; });
        dialog.Link().SetTrace(&trace);
        ASSERT_TRUE(dialog.Link().Connect("1", 19200).Done());
        far.Send({0x35, 0x36});
        Settle(dialog.Link(), 2);
        ASSERT_TRUE(session.SendRequest(request, outcome));
        EXPECT_EQ(Sent(2), request);
        far.Send({0x35, 0x02, 0x02});
        EXPECT_EQ(Count(session.AwaitReply(50, 10, kThreeBytes, outcome)), 3);
        EXPECT_EQ(Bytes(session.Reply(3).begin(), session.Reply(3).end()), (Bytes{0x35, 0x02, 0x02}));
        dialog.Link().Disconnect();
        dialog.Link().SetTrace(nullptr);
    }
    EXPECT_EQ(std::string(text, size), "1.000 discarded 35 36\n2.000 > 35 02 | 3.000 < 35 02 02\n");
    free(text);
}

// At 300 baud a 34-byte request takes over a second on the line: the time-out counts from when it has
// left, so a device that answers 700 ms after the last byte was handed to the driver is heard.
TEST_F(ExchangeTest, TheReplyIsAwaitedFromWhenTheRequestHasLeftTheLine) {
    controls.SetDlgItemText(ctl::kBaudEdit, "300");
    const Bytes write(34, 0x37);
    ASSERT_TRUE(session.SendRequest(write, outcome));
    std::thread device([&] {
        EXPECT_EQ(Sent(34), write);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        far.Send({0x37, 0x01, 0x00});
    });
    EXPECT_EQ(Count(session.AwaitReply(50, 10, kThreeBytes, outcome)), 3);
    device.join();
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(ExchangeTest, PollCountZeroWaitsPastTheUsualRoundsUntilTheReplyComes) {
    ASSERT_TRUE(session.SendRequest(request, outcome));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        far.Send({0x36, 0x02, 0x05});
    });
    EXPECT_EQ(Count(session.AwaitReply(0, 10, kThreeBytes, outcome)), 3);
    late.join();
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(ExchangeTest, FiftyBytesWaitingGiveFortyAndLeaveTen) {
    ASSERT_TRUE(session.SendRequest(request, outcome));
    far.Send(Bytes(50, 0x42));
    Settle(dialog.Link(), 50);
    EXPECT_EQ(Count(session.AwaitReply(50, 10, kThreeBytes, outcome)), 40);
    EXPECT_EQ(dialog.Link().InputCount(), 10);
}

// When a reply is whole, by its bytes: the shorter home number forms, a text cut by its zero byte, and
// anything at the longest length.
TEST(ReplyShapeTest, TellsAWholeReplyFromAPartAndFromOneALongerCouldBegin) {
    using End = ReplyShape::End;
    const ReplyShape codes{ReplyShape::Kind::kHomeNumberCodes, 10};
    const ReplyShape text{ReplyShape::Kind::kText, 34};
    const ReplyShape pll{ReplyShape::Kind::kFixed, 8};
    struct Case {
        const ReplyShape& shape;
        Bytes bytes;
        End end;
    };
    const std::vector<Case> cases{
        {codes, {0x33, 0x02, 0x00, 0x07}, End::kPart},
        {codes, {0x33, 0x02, 0x00, 0x07, 0xFF}, End::kWhole},
        {codes, {0x33, 0x02, 0x00, 0x07, '1'}, End::kPart},
        {codes, {0x33, 0x02, 0x00, 0x07, '1', '2', '3'}, End::kPart},
        {codes, {0x33, 0x02, 0x00, 0x07, '1', '2', '3', '4'}, End::kMaybeWhole},
        {codes, {0x33, 0x02, 0x00, 0x07, '1', '2', '3', '4', '5'}, End::kPart},
        {codes, {0x33, 0x02, 0x00, 0x07, '1', '2', '3', '4', '5', '6'}, End::kWhole},
        {codes, Bytes(11, '1'), End::kWhole},
        {text, {0x37, 0x02}, End::kPart},
        {text, {0x37, 0x02, 'A', 'B'}, End::kPart},
        {text, {0x37, 0x02, 'A', 0x00}, End::kMaybeWhole},
        {text, {0x37, 0x02, 0x00}, End::kMaybeWhole},
        {text, Bytes(34, 'A'), End::kWhole},
        {pll, Bytes(7, 0x00), End::kPart},
        {pll, Bytes(8, 0x00), End::kWhole},
        {kThreeBytes, {0x35, 0x02}, End::kPart},
    };
    for (const Case& c : cases) EXPECT_EQ(c.shape.Ends(c.bytes), c.end) << testing::PrintToString(c.bytes);
}

// Each failure says, after the line every failure shares, what was tried and why it did not open.
TEST_F(ExchangeTest, PortFailuresAreLoggedInPlainWordsAndNothingIsSent) {
    struct Case {
        const char* port;
        const char* baud;
        std::string why;
        std::string path;  // the device tried
    };
    const std::string missing = ports.Path() + "/com3";
    std::filesystem::create_symlink(ports.Path() + "/missing", missing);  // an adapter not plugged in
    const std::string file = ports.Path() + "/com4";
    std::ofstream(file) << "not a terminal";
    const std::string pty = ports.Path() + "/com1";
    const std::vector<Case> cases{
        {"COM1", "19200", "Serial Port \"COM1\" names no port: type a number such as 1\r\n", ""},
        {"3", "19200", missing + ": no such device\r\n", missing},
        {"4", "19200", file + ": not a serial port\r\n", file},
        {"1", "", pty + ": the speed 0 was refused\r\n", pty},
        {"1", "-5", pty + ": the speed -5 was refused\r\n", pty},
    };
    for (const Case& c : cases) {
        dialog.LogText("");
        controls.SetDlgItemText(ctl::kSerialPortEdit, c.port);
        controls.SetDlgItemText(ctl::kBaudEdit, c.baud);
        outcome = {};
        EXPECT_FALSE(session.SendRequest(request, outcome)) << c.port << " " << c.baud;
        EXPECT_EQ(outcome.kind, Outcome::Kind::kPortFailed);
        EXPECT_EQ(outcome.reason + "\r\n", c.why);
        EXPECT_EQ(outcome.path, c.path);
        EXPECT_EQ(dialog.LogContents(), "Open com port failed\r\n" + c.why) << c.port << " " << c.baud;
        EXPECT_FALSE(dialog.Link().IsOpen());
    }
    // Another program holds the port.
    SerialLink other;
    ASSERT_TRUE(other.Connect("1", 19200).Done());
    dialog.LogText("");
    controls.SetDlgItemText(ctl::kSerialPortEdit, "1");
    controls.SetDlgItemText(ctl::kBaudEdit, "19200");
    outcome = {};
    EXPECT_FALSE(session.SendRequest(request, outcome));
    EXPECT_EQ(dialog.LogContents(), "Open com port failed\r\n" + pty + ": in use by another program\r\n");
    EXPECT_EQ(outcome.kind, Outcome::Kind::kPortInUse);
    EXPECT_EQ(outcome.path, pty);
    EXPECT_NE(outcome.error, 0);
    // Each request that did not go out is one failure of the session's.
    EXPECT_EQ(session.Errors(), static_cast<int>(cases.size()) + 1);
}

TEST_F(ExchangeTest, NothingToSendLogsBothLines) {
    EXPECT_FALSE(session.SendRequest({}, outcome));
    EXPECT_EQ(dialog.LogContents(), "Error while sending data\r\nSent bytes equals 0\r\n");
}

// An adapter pulled out before the request goes: the failure is reported, not counted as sent.
TEST_F(ExchangeTest, UnpluggedAdapterIsAFailedSendNotASuccess) {
    ASSERT_TRUE(dialog.Link().Connect("1", 19200).Done());
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
    std::thread device([&] {
        EXPECT_EQ(Sent(2), request);
        // The request is out: the command waits for its reply, locked.
        controls.RunAsUnit([&] { EXPECT_FALSE(controls.At(ctl::kDispSet).enabled); });
        EXPECT_FALSE(dialog.CanClose());
        far.Send({0x35, 0x02, 0x02});
    });
    dialog.OnDispGet();
    device.join();
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
    std::thread device([&] {
        Sent(2);
        far.CloseMaster();
    });
    const Reading<std::int32_t> got = session.Get(protocol::kDisp);
    device.join();
    EXPECT_FALSE(got.value);
    EXPECT_EQ(got.outcome.kind, Outcome::Kind::kNoAnswer);
    EXPECT_TRUE(dialog.LogContents().ends_with("Timed out waiting for response\r\n"));
    EXPECT_FALSE(dialog.Link().IsOpen());
}

// A wait that wakes well past its end was held up, and the device may have been too: the line is watched
// again before a reply counts as ended or missing, a few times at most. The test's wait is held up on
// its first call and lets the device send what is still to come on its second, so a session that took
// the first late wake at its word would end the reply there.
TEST(HeldUpWaitTest, WatchesTheLineAgainBeforeAReplyCountsAsEndedOrMissing) {
    const Bytes pll{0x38, 0x02, 0x00, 0x01, 0x01, 0xC7, 0xFF, 0xFF};
    const struct {
        const char* name;
        std::size_t sentBefore;  // of the reply, before the wait begins
        bool restComes;          // on the wait's second call; else every call is held up
        int expected;            // reply bytes read
    } cases[] = {
        {"the rest of a part", 5, true, 8},
        {"the first byte", 0, true, 8},
        {"a part whose rest never comes", 5, false, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PortsDirectory ports;
        FarEnd far{ports.Path(), 1};
        SilentLog log;
        int waits = 0;
        DeviceSession session(
            log, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); },
            [] { return DeviceSession::PortChoice{"1", 19200}; },
            [&](SerialLink& link, std::chrono::microseconds span) {
                if (++waits == 2 && c.restComes) far.Send(Bytes(pll.begin() + c.sentBefore, pll.end()));
                if (waits == 1 || !c.restComes) {
                    std::this_thread::sleep_for(span + std::chrono::milliseconds(40));
                    return false;
                }
                return link.WaitForInput(span);
            });
        Outcome outcome;
        ASSERT_TRUE(session.SendRequest(Bytes{0x38, 0x01, 0x00, 0x01}, outcome));
        EXPECT_EQ(far.Read(4), (Bytes{0x38, 0x01, 0x00, 0x01}));
        if (c.sentBefore > 0) {
            far.Send(Bytes(pll.begin(), pll.begin() + c.sentBefore));
            Settle(session.Link(), static_cast<int>(c.sentBefore));
        }
        const DeviceSession::ReplyBytes reply = session.AwaitReply(5, 10, kPllValuesReply, outcome);
        const std::span<const std::uint8_t> got = ::Bytes(reply);
        EXPECT_EQ(Bytes(got.begin(), got.end()), Bytes(pll.begin(), pll.begin() + c.expected));
        if (!c.restComes) {
            EXPECT_EQ(waits, 1 + DeviceSession::kMostWatchedAgain);
        }
    }
}

}  // namespace
