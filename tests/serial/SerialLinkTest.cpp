#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "serial/ExchangeTrace.h"
#include "serial/SerialLink.h"
#include "serial/SerialSpeed.h"
#include "tests/support/FarEnd.h"

namespace {

using testsupport::Bytes;
using testsupport::Clock;
using testsupport::FarEnd;
using testsupport::kHangBound;
using testsupport::MakePortsDirectory;

// Bytes written by the far end reach the input queue a moment later.
template <typename Count>
int WaitFor(Count count, int wanted) {
    const auto deadline = Clock::now() + kHangBound;
    while (count() < wanted && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return count();
}

int WaitForInput(SerialLink& link, int wanted) {
    return WaitFor([&link] { return link.InputCount(); }, wanted);
}

// The same seen through the test's own descriptor on the slave, for when the link is closed.
int WaitForQueued(int slave, int wanted) {
    return WaitFor(
        [slave] {
            int queued = 0;
            return ioctl(slave, FIONREAD, &queued) == 0 ? queued : 0;
        },
        wanted);
}

Bytes Sequence(std::size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

class SerialLinkTest : public testing::Test {
protected:
    ~SerialLinkTest() override { std::filesystem::remove_all(m_portsDir); }

    std::string m_portsDir = MakePortsDirectory();
    ScopedVariable m_portsVariable{"VANTOR_PORTS_DIR", m_portsDir.c_str()};
};

TEST_F(SerialLinkTest, EveryByteValuePassesUnchangedBothWays) {
    FarEnd far(m_portsDir, 1);
    SerialLink link;
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    const Bytes all = Sequence(256);  // 0x00, 0x03, 0x0A, 0x0D, 0x11, 0x13, 0x7F among them

    EXPECT_EQ(link.Transmit(all), 256);
    EXPECT_EQ(far.Read(256), all);

    far.Send(all);
    ASSERT_EQ(WaitForInput(link, 256), 256);
    Bytes got(300);
    ASSERT_EQ(link.Receive(got, 300), 256);
    got.resize(256);
    EXPECT_EQ(got, all);

    // An echo of what the far end sent would arrive ahead of this byte.
    EXPECT_TRUE(link.TransmitByte(0x55));
    EXPECT_EQ(far.Read(1), Bytes{0x55});
}

TEST_F(SerialLinkTest, ASecondLinkIsRefusedUntilTheFirstDisconnects) {
    FarEnd far(m_portsDir, 1);
    SerialLink first;
    SerialLink second;
    ASSERT_TRUE(first.Connect("1", 19200).Done());
    EXPECT_FALSE(second.Connect("1", 19200).Done());
    EXPECT_FALSE(second.IsOpen());

    // The refused attempt must not have released the first link's hold either.
    int exclusive = -1;
    ASSERT_EQ(ioctl(far.Slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    first.Disconnect();
    // Left set, the flag would outlive the close on a pseudo-terminal and lock out other users.
    ASSERT_EQ(ioctl(far.Slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(second.Connect("1", 19200).Done());
}

TEST_F(SerialLinkTest, ReceiveTakesNoMoreThanAskedAndLeavesTheRestQueued) {
    FarEnd far(m_portsDir, 1);
    SerialLink link;
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    const Bytes fifty = Sequence(50);
    far.Send(fifty);
    ASSERT_EQ(WaitForInput(link, 50), 50);

    Bytes reply(40, 0xEE);
    EXPECT_EQ(link.Receive(reply, 0), 0);
    EXPECT_EQ(link.Receive(reply, -1), 0);
    EXPECT_EQ(link.Receive(reply, 40), 40);
    EXPECT_EQ(reply, Bytes(fifty.begin(), fifty.begin() + 40));
    EXPECT_EQ(link.InputCount(), 10);

    Bytes small(4);
    EXPECT_EQ(link.Receive(small, 40), 4);
    EXPECT_EQ(small, (Bytes{40, 41, 42, 43}));
    EXPECT_EQ(link.Receive(reply, 40), 6);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{44, 45, 46, 47, 48, 49}));
    EXPECT_EQ(link.Receive(reply, 40), 0);

    // Bytes left unread must not pass for the reply to the next request.
    far.Send({1, 2, 3});
    ASSERT_EQ(WaitForInput(link, 3), 3);
    link.Disconnect();
    // Nor may a late reply that came while the port was closed. The closed port is back in the cooked
    // mode it was found in, where only a whole line counts as queued.
    far.Send({'A', 'B', '\n'});
    ASSERT_EQ(WaitForQueued(far.Slave(), 3), 3);
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    EXPECT_EQ(link.InputCount(), 0);
}

TEST_F(SerialLinkTest, AClosedLinkDoesNothing) {
    FarEnd far(m_portsDir, 1);
    // Raw, as a device's line is: Disconnect puts back what it found, and a cooked line would echo.
    termios raw{};
    ASSERT_EQ(tcgetattr(far.Slave(), &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(far.Slave(), TCSANOW, &raw), 0);
    SerialLink never;
    SerialLink closed;
    ASSERT_TRUE(closed.Connect("1", 19200).Done());
    EXPECT_EQ(closed.Transmit({}), 0);
    closed.Disconnect();
    far.Send({1, 2, 3});

    for (SerialLink* link : {&never, &closed}) {
        link->Disconnect();
        link->Disconnect();
        EXPECT_FALSE(link->IsOpen());
        EXPECT_EQ(link->Transmit(Bytes{0x33, 0x02}), 0);
        EXPECT_FALSE(link->TransmitByte(0x33));
        EXPECT_EQ(link->InputCount(), 0);
        Bytes dest(40);
        EXPECT_EQ(link->Receive(dest, 40), 0);
    }

    SerialLink open;
    ASSERT_TRUE(open.Connect("1", 19200).Done());
    EXPECT_TRUE(open.TransmitByte(0x55));
    EXPECT_EQ(far.Read(1), Bytes{0x55}) << "nothing else may have gone out";
}

TEST_F(SerialLinkTest, ConnectOnAnOpenLinkKeepsTheFirstPortAndSpeed) {
    FarEnd one(m_portsDir, 1);
    FarEnd two(m_portsDir, 2);
    SerialLink link;
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    EXPECT_TRUE(link.Connect("2", 9600).Done());
    EXPECT_EQ(LineSpeed(one.Slave()), 19200u);
    EXPECT_TRUE(link.TransmitByte(0x42));
    EXPECT_EQ(one.Read(1), Bytes{0x42});

    SerialLink other;
    EXPECT_TRUE(other.Connect("2", 9600).Done()) << "the second port was never taken";
}

TEST_F(SerialLinkTest, SpeedsWithAndWithoutABConstantApply) {
    FarEnd far(m_portsDir, 1);
    for (const std::int32_t speed : {19200, 9600, 115200, 4000000, 31250, 250000, 123457, 1}) {
        SerialLink link;
        ASSERT_TRUE(link.Connect("1", speed).Done()) << speed;
        EXPECT_EQ(LineSpeed(far.Slave()), static_cast<std::uint32_t>(speed));
    }
}

TEST_F(SerialLinkTest, FramingAndFlowControlStayAsFound) {
    FarEnd far(m_portsDir, 1);
    constexpr tcflag_t kLeftAlone = CSTOPB | PARODD | CRTSCTS;
    for (const tcflag_t found : {kLeftAlone, tcflag_t{0}}) {
        termios line{};
        ASSERT_EQ(tcgetattr(far.Slave(), &line), 0);
        line.c_cflag = (line.c_cflag & ~kLeftAlone) | found;
        ASSERT_EQ(tcsetattr(far.Slave(), TCSANOW, &line), 0);

        SerialLink link;
        ASSERT_TRUE(link.Connect("1", 19200).Done());
        ASSERT_EQ(tcgetattr(far.Slave(), &line), 0);
        EXPECT_EQ(line.c_cflag & kLeftAlone, found);
        EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t{CS8});
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF), tcflag_t{0});
    }
}

// A port opened by mistake (Serial Port 1 may be the system console) is not left raw at another speed.
TEST_F(SerialLinkTest, DisconnectLeavesTheLineAsConnectFoundIt) {
    FarEnd far(m_portsDir, 1);
    const struct {
        std::uint32_t foundSpeed;
        std::int32_t linkSpeed;
    } cases[] = {{9600, 19200}, {31250, 115200}, {19200, 250000}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetArbitrarySpeed(far.Slave(), c.foundSpeed));
        const auto found = ReadLineSettings(far.Slave());
        ASSERT_TRUE(found);
        SerialLink link;
        ASSERT_TRUE(link.Connect("1", c.linkSpeed).Done());
        EXPECT_NE(ReadLineSettings(far.Slave()), found);
        link.Disconnect();
        EXPECT_EQ(ReadLineSettings(far.Slave()), found) << c.foundSpeed << " after " << c.linkSpeed;
    }
}

TEST_F(SerialLinkTest, TraceRecordsEachExchangeOnALine) {
    FarEnd far(m_portsDir, 1);
    char* text = nullptr;
    std::size_t size = 0;
    {
        double now = 0;
        ExchangeTrace trace(open_memstream(&text, &size), [&now] { return now += 1.5; });
        SerialLink link;
        link.SetTrace(&trace);
        ASSERT_TRUE(link.Connect("1", 19200).Done());
        EXPECT_EQ(link.Transmit(Bytes{0x35, 0x02}), 2);
        EXPECT_EQ(far.Read(2), (Bytes{0x35, 0x02}));
        far.Send({0x35, 0x02, 0xFF});
        ASSERT_EQ(WaitForInput(link, 3), 3);
        Bytes reply(40);
        EXPECT_EQ(link.Receive(reply, 40), 3);
        EXPECT_EQ(link.Transmit(Bytes{0x37, 0x02}), 2);  // no reply comes
        EXPECT_EQ(link.Transmit(Bytes{0x3C, 0x02}), 2);
        link.Disconnect();
    }
    EXPECT_EQ(std::string(text, size),
              "1.500 > 35 02 | 3.000 < 35 02 FF\n4.500 > 37 02 | no reply\n"
              "6.000 > 3C 02 | no reply\n");
    free(text);
}

// Bytes waiting before a request are dropped, whatever their number, and the trace says which.
TEST_F(SerialLinkTest, DiscardInputDropsWhatIsWaitingAndTracesIt) {
    FarEnd far(m_portsDir, 1);
    char* text = nullptr;
    std::size_t size = 0;
    {
        double now = 0;
        ExchangeTrace trace(open_memstream(&text, &size), [&now] { return now += 1; });
        SerialLink link;
        link.SetTrace(&trace);
        ASSERT_TRUE(link.Connect("1", 19200).Done());
        EXPECT_EQ(link.DiscardInput(), 0);
        const Bytes stale = Sequence(300);  // more than one read takes
        far.Send(stale);
        ASSERT_EQ(WaitForInput(link, 300), 300);
        EXPECT_EQ(link.DiscardInput(), 300);
        EXPECT_EQ(link.InputCount(), 0);
        link.Disconnect();
        EXPECT_EQ(link.DiscardInput(), 0);
    }
    std::string expected = "1.000 discarded";
    for (int i = 0; i < 300; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02X", i & 0xFF);
        expected += byte;
    }
    EXPECT_EQ(std::string(text, size), expected + "\n");
    free(text);
}

// How long the port may hold bytes back follows the adapter's latency timer where sysfs tells it for
// the device opened, with the margin; the common adapters' default where it tells nothing usable.
TEST_F(SerialLinkTest, HoldTimeFollowsTheAdapterLatencyTimerWhereTheSystemTellsIt) {
    FarEnd far(m_portsDir, 1);
    struct stat device {};
    ASSERT_EQ(fstat(far.Slave(), &device), 0);
    char rootTemplate[] = "/tmp/vantor-sys-XXXXXX";
    const std::filesystem::path root = mkdtemp(rootTemplate);
    const std::filesystem::path port = root / "dev/char" /
                                       (std::to_string(major(device.st_rdev)) + ":" +
                                        std::to_string(minor(device.st_rdev))) /
                                       "device";
    std::filesystem::create_directories(port);
    ScopedVariable sysRoot("VANTOR_SYS_ROOT", root.c_str());
    using std::chrono::milliseconds;
    const auto fallback = SerialLink::kDefaultLatencyTimer + SerialLink::kHoldMargin;
    struct Case {
        const char* timer;  // nullptr: no attribute
        std::chrono::microseconds hold;
    };
    for (const Case& c : {Case{nullptr, fallback}, Case{"1", milliseconds(1) + SerialLink::kHoldMargin},
                          Case{"16", milliseconds(16) + SerialLink::kHoldMargin},
                          Case{"255", milliseconds(255) + SerialLink::kHoldMargin},
                          Case{"256", fallback}, Case{"-1", fallback}, Case{"fast", fallback}}) {
        if (c.timer) std::ofstream(port / "latency_timer") << c.timer << '\n';
        SerialLink link;
        ASSERT_TRUE(link.Connect("1", 19200).Done());  // the pseudo-terminal refuses low latency: no matter
        EXPECT_EQ(link.HoldTime(), c.hold) << (c.timer ? c.timer : "none");
    }
    std::filesystem::remove_all(root);
}

TEST_F(SerialLinkTest, RefusedConnectsLeaveNothingOpen) {
    FarEnd far(m_portsDir, 1);
    std::filesystem::create_symlink("/nonexistent/adapter", m_portsDir + "/com3");
    std::ofstream(m_portsDir + "/com4") << "not a terminal";
    const struct {
        const char* port;
        std::int32_t speed;
    } cases[] = {
        {"COM1", 19200}, {"", 19200}, {"1", 0}, {"1", -19200}, {"3", 19200}, {"4", 19200},
    };
    for (const auto& c : cases) {
        SerialLink link;
        EXPECT_FALSE(link.Connect(c.port, c.speed).Done()) << '"' << c.port << "\" " << c.speed;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_FALSE(link.TransmitByte(0x33));
    }
    SerialLink link;
    EXPECT_TRUE(link.Connect("1", 19200).Done());
}

TEST_F(SerialLinkTest, TheFarEndClosingMidExchangeFailsWithoutHanging) {
    FarEnd far(m_portsDir, 1);
    SerialLink link;
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    EXPECT_EQ(link.Transmit(Bytes{0x37, 0x02}), 2);
    EXPECT_EQ(far.Read(2), (Bytes{0x37, 0x02}));
    far.Send({0x37});
    far.CloseMaster();

    EXPECT_EQ(link.InputCount(), 0);
    Bytes dest(40);
    EXPECT_EQ(link.Receive(dest, 40), 0);
    EXPECT_EQ(link.Transmit(Bytes{0x37, 0x02, 0x00}), 0);
    EXPECT_FALSE(link.TransmitByte(0x37));
    link.Disconnect();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.Connect("1", 19200).Done());
}

TEST_F(SerialLinkTest, OutputHeldUpFailsTheByteInsteadOfSendingItLater) {
    FarEnd far(m_portsDir, 1);
    SerialLink link;
    ASSERT_TRUE(link.Connect("1", 19200).Done());
    // The way XOFF or a low CTS would hold the line up.
    ASSERT_EQ(tcflow(far.Slave(), TCOOFF), 0);
    EXPECT_EQ(link.Transmit(Bytes{1, 2, 3}), 0);
    ASSERT_EQ(tcflow(far.Slave(), TCOON), 0);
    EXPECT_EQ(link.Transmit(Bytes{0x42}), 1);
    EXPECT_EQ(far.Read(1), Bytes{0x42}) << "a byte reported as not sent went out after all";
}

}  // namespace
