#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "serial/SerialLink.h"
#include "sim/PtyServer.h"
#include "tests/sim/TestSupport.h"

// The program's own serial link against the simulated device, port number to reply bytes.
namespace vantor::sim {
namespace {

using std::chrono::milliseconds;

// The program finds port N as comN in $VANTOR_PORTS_DIR.
class PortsDirVariable {
public:
    explicit PortsDirVariable(const std::filesystem::path& dir) {
        if (const char* old = std::getenv("VANTOR_PORTS_DIR")) m_old = old;
        ::setenv("VANTOR_PORTS_DIR", dir.c_str(), 1);
    }
    ~PortsDirVariable() {
        if (m_old) {
            ::setenv("VANTOR_PORTS_DIR", m_old->c_str(), 1);
        } else {
            ::unsetenv("VANTOR_PORTS_DIR");
        }
    }

private:
    std::optional<std::string> m_old;
};

// The program's wait: rounds of half the interval until a byte shows, one interval more, then at most
// 40 bytes. The rounds here run to the tests' patience rather than the program's time-out.
Bytes AwaitReply(SerialLink& link, milliseconds interval = milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + test::kPatience;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(interval / 2);
        if (link.InputCount() > 0) {
            std::this_thread::sleep_for(interval);
            Bytes reply(40);
            reply.resize(static_cast<std::size_t>(std::max(0, link.Receive(reply, 40).value_or(0))));
            return reply;
        }
    }
    return {};
}

class SerialLinkEndToEnd : public testing::Test {
protected:
    PtyServer& Serve(std::initializer_list<const char*> faults = {}) {
        ServerOptions options;
        // Roomier than the default gap, so that a loaded machine pausing the client between two of its
        // one-byte writes does not end a home number write early.
        options.gap = std::chrono::milliseconds(20);
        options.portsDir = m_dir.Path();
        options.port = 4;
        for (const char* ruleText : faults) options.faults.push_back(std::get<FaultRule>(ParseFault(ruleText)));
        m_server = std::make_unique<PtyServer>(options);
        EXPECT_EQ(m_server->Start(), std::nullopt);
        return *m_server;
    }

    Bytes Command(const Bytes& request, milliseconds interval = milliseconds(10)) {
        SerialLink link;
        if (!link.Connect("4", 19200).Done()) return {0xEE};
        if (link.Transmit(request) != static_cast<std::int32_t>(request.size())) return {0xEF};
        Bytes reply = AwaitReply(link, interval);
        link.Disconnect();
        return reply;
    }

    test::TempDir m_dir;
    PortsDirVariable m_variable{m_dir.Path()};
    std::unique_ptr<PtyServer> m_server;
};

TEST_F(SerialLinkEndToEnd, EachCommandOnAPortOpenedAndClosedForIt) {
    Serve();
    EXPECT_EQ(Command({0x35, 0x01, 0x02}), Bytes({0x35, 0x01, 0x00}));
    EXPECT_EQ(Command({0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}),
              Bytes({0x33, 0x01, 0x00, 0x07, 0x00}));
    EXPECT_EQ(Command({0x33, 0x02, 0x00, 0x07}), Bytes({0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}));
    Bytes serial{0x37, 0x01, 'A', 'B', '1', '2'};
    serial.resize(34, 0x00);
    EXPECT_EQ(Command(serial), Bytes({0x37, 0x01, 0x00}));
    Bytes serialRead{0x37, 0x02, 'A', 'B', '1', '2'};
    serialRead.resize(34, 0x00);
    EXPECT_EQ(Command({0x37, 0x02}, milliseconds(100)), serialRead);
}

// As a Write All runs: one open port, a home number write and its PLL write per row, back to back.
TEST_F(SerialLinkEndToEnd, ManyExchangesOnOnePortKeepTheirFrames) {
    PtyServer& server = Serve();
    SerialLink link;
    ASSERT_TRUE(link.Connect("4", 19200).Done());
    for (std::uint8_t row = 1; row <= 30; ++row) {
        const std::uint8_t digit = static_cast<std::uint8_t>('0' + row % 10);
        const Bytes codes = row % 3 == 0 ? Bytes{0x33, 0x01, 0x00, row}
                                         : Bytes{0x33, 0x01, 0x00, row, '1', digit, '2', digit};
        ASSERT_EQ(link.Transmit(codes), static_cast<std::int32_t>(codes.size()));
        ASSERT_EQ(AwaitReply(link), Bytes({0x33, 0x01, 0x00, row, 0x00})) << int(row);
        const Bytes pll{0x38, 0x01, 0x00, row, 0x00, row, 0xFF, 0xFF};
        ASSERT_EQ(link.Transmit(pll), 8);
        ASSERT_EQ(AwaitReply(link), Bytes({0x38, 0x01, 0x00, row, 0x00})) << int(row);
    }
    link.Disconnect();
    const DeviceState state = server.State();
    EXPECT_EQ(state.homeNumbers[3], (HomeNumberCodes{"14", "24"}));
    EXPECT_EQ(state.homeNumbers[29], HomeNumberCodes{});
    EXPECT_EQ(state.pll[29], (PllValues{30, kNoPll}));
}

TEST_F(SerialLinkEndToEnd, ALongReplyLeavesWhatIsPastFortyBytesQueued) {
    Serve({"37/r:long"});
    SerialLink link;
    ASSERT_TRUE(link.Connect("4", 19200).Done());
    ASSERT_EQ(link.Transmit(Bytes{0x37, 0x02}), 2);
    EXPECT_EQ(AwaitReply(link, milliseconds(100)).size(), 40u);
    EXPECT_EQ(link.InputCount(), 10);
}

TEST_F(SerialLinkEndToEnd, AnUnpluggedDeviceGivesNoReplyAndNoHang) {
    PtyServer& server = Serve({"*@2:unplug"});
    SerialLink link;
    ASSERT_TRUE(link.Connect("4", 19200).Done());
    ASSERT_EQ(link.Transmit(Bytes{0x34, 0x02}), 2);
    EXPECT_EQ(AwaitReply(link), Bytes({0x34, 0x02, 0x01}));
    ASSERT_EQ(link.Transmit(Bytes{0x35, 0x02}), 2);
    ASSERT_TRUE(test::WaitUntil([&] { return server.Unplugged(); }));
    EXPECT_EQ(link.InputCount(), 0);
    Bytes buffer(40);
    EXPECT_EQ(link.Receive(buffer, 40), 0);
    EXPECT_LT(link.Transmit(Bytes{0x34, 0x02}), 2);
    link.Disconnect();
    EXPECT_FALSE(link.Connect("4", 19200).Done());
}

}  // namespace
}  // namespace vantor::sim
