#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <regex>
#include <thread>

#include "sim/PtyServer.h"
#include "tests/sim/TestSupport.h"

namespace vantor::sim {
namespace {

using std::chrono::milliseconds;
using test::kPatience;
using test::PortClient;

class PtyServerTest : public testing::Test {
protected:
    PtyServer& Serve(std::initializer_list<const char*> faults = {}, ServerOptions options = {}) {
        options.portsDir = m_dir.Path() / "ports";
        for (const char* ruleText : faults) {
            FaultParse parsed = ParseFault(ruleText);
            EXPECT_TRUE(std::holds_alternative<FaultRule>(parsed)) << ruleText;
            if (auto* rule = std::get_if<FaultRule>(&parsed)) options.faults.push_back(*rule);
        }
        m_server = std::make_unique<PtyServer>(options);
        const auto error = m_server->Start();
        EXPECT_EQ(error, std::nullopt);
        return *m_server;
    }

    // A hang-up is noticed by the server's own thread; a test that reopens at once waits for it.
    void WaitForHangups(std::size_t count) {
        ASSERT_TRUE(test::WaitUntil([&] { return m_server->Hangups() >= count; }));
    }

    test::TempDir m_dir;
    std::unique_ptr<PtyServer> m_server;
};

// A reply is recorded just after it is written, so a client may read it before it is recorded.
std::vector<std::pair<Direction, Bytes>> Traffic(const PtyServer& server, std::size_t expected = 0) {
    EXPECT_TRUE(server.WaitForRecords(expected, kPatience));
    std::vector<std::pair<Direction, Bytes>> traffic;
    for (const Record& record : server.Records()) traffic.emplace_back(record.direction, record.bytes);
    return traffic;
}

// A test about something else than the gap should not depend on a loaded machine running the client's
// one-byte writes within 4 ms of each other.
constexpr std::chrono::microseconds kRoomyGap{20000};

constexpr Direction kIn = Direction::kRequest;
constexpr Direction kOut = Direction::kReply;

TEST_F(PtyServerTest, AnswersOverThePublishedPortAndRecordsBothDirections) {
    PtyServer& server = Serve();
    ASSERT_EQ(server.LinkPath(), m_dir.Path() / "ports" / "com1");
    ASSERT_TRUE(std::filesystem::is_symlink(server.LinkPath()));
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.IsOpen());
    EXPECT_EQ(client.Exchange({0x35, 0x01, 0x02}), Bytes({0x35, 0x01, 0x00}));
    EXPECT_EQ(client.Exchange({0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}),
              Bytes({0x38, 0x01, 0x00, 0x07, 0x00}));
    EXPECT_EQ(client.Exchange({0x38, 0x02, 0x00, 0x07}),
              Bytes({0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}));
    EXPECT_EQ(Traffic(server, 6), (std::vector<std::pair<Direction, Bytes>>{
                                      {kIn, {0x35, 0x01, 0x02}},
                                      {kOut, {0x35, 0x01, 0x00}},
                                      {kIn, {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
                                      {kOut, {0x38, 0x01, 0x00, 0x07, 0x00}},
                                      {kIn, {0x38, 0x02, 0x00, 0x07}},
                                      {kOut, {0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
                                  }));
    const auto records = server.Records();
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_LE(records[i - 1].at, records[i].at);
    EXPECT_EQ(server.State().disp, 2);
}

TEST_F(PtyServerTest, HomeNumberWritesOfEveryLengthEndAtTheirPause) {
    ServerOptions options;
    options.gap = kRoomyGap;
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    EXPECT_EQ(client.Exchange({0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}),
              Bytes({0x33, 0x01, 0x00, 0x07, 0x00}));
    EXPECT_EQ(client.Exchange({0x33, 0x02, 0x00, 0x07}),
              Bytes({0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}));
    EXPECT_EQ(client.Exchange({0x33, 0x01, 0x00, 0x07}), Bytes({0x33, 0x01, 0x00, 0x07, 0x00}));
    EXPECT_EQ(client.Exchange({0x33, 0x02, 0x00, 0x07}), Bytes({0x33, 0x02, 0x00, 0x07, 0xFF}));
    EXPECT_EQ(client.Exchange({0x33, 0x01, 0x01, 0x2C, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}),
              Bytes({0x33, 0x01, 0x01, 0x2C, 0x00}));
    EXPECT_EQ(server.State().homeNumbers[299], (HomeNumberCodes{"123", "456"}));
}

TEST_F(PtyServerTest, GarbageEndsAtThePauseAndGoesUnanswered) {
    PtyServer& server = Serve();
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.SendInOneWrite({0x99, 0x98, 0x97}));
    EXPECT_EQ(client.ReceiveUntilQuiet(milliseconds(200)), Bytes{});
    EXPECT_EQ(client.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    EXPECT_EQ(Traffic(server, 3),
              (std::vector<std::pair<Direction, Bytes>>{
                  {kIn, {0x99, 0x98, 0x97}}, {kIn, {0x34, 0x02}}, {kOut, {0x34, 0x02, 0x01}}}));
}

TEST_F(PtyServerTest, ARequestWhoseBytesComeSlowlyIsStillOneRequestAndItsPauseIsRecorded) {
    ServerOptions options;
    options.patience = milliseconds(3000);
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.Send({0x35}));
    std::this_thread::sleep_for(milliseconds(300));  // far past the gap, well within the patience
    EXPECT_EQ(client.Exchange({0x01, 0x02}), Bytes({0x35, 0x01, 0x00}));
    const Record request = server.Records().front();
    EXPECT_EQ(request.bytes, Bytes({0x35, 0x01, 0x02}));
    // The server may look late at the first byte, not early: half the sleep is a margin no scheduler eats.
    EXPECT_GE(request.longestPause, milliseconds(150));
    EXPECT_LT(request.longestPause, options.patience);
}

TEST_F(PtyServerTest, ARequestLeftShortIsDroppedAndTheNextOneStandsAlone) {
    ServerOptions options;
    options.patience = milliseconds(100);
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.Send({0x35, 0x01}));
    EXPECT_EQ(client.ReceiveUntilQuiet(milliseconds(300)), Bytes{});
    EXPECT_EQ(client.Exchange({0x35, 0x02}), Bytes({0x35, 0x02, 0x01}));
    EXPECT_EQ(Traffic(server).front(), std::make_pair(kIn, Bytes{0x35, 0x01}));
}

TEST_F(PtyServerTest, KeepsServingAfterALineFullOfNoise) {
    PtyServer& server = Serve();
    PortClient client(server.LinkPath());
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0x30, 0x3F);  // mostly codes and digits: many half-requests
    Bytes noise(3000);
    for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(byte(random));
    ASSERT_TRUE(client.Send(noise));
    client.ReceiveUntilQuiet(milliseconds(400));  // past the patience for a last half-request
    const Bytes reply = client.Exchange({0x34, 0x02});
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_EQ(reply[0], 0x34);
    EXPECT_EQ(reply[1], 0x02);
}

TEST_F(PtyServerTest, ServesClientsThatOpenAndCloseThePortAgainAndAgain) {
    PtyServer& server = Serve();
    for (int round = 0; round < 25; ++round) {
        PortClient client(server.LinkPath());
        ASSERT_TRUE(client.IsOpen()) << round;
        ASSERT_EQ(client.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01})) << round;
    }
}

TEST_F(PtyServerTest, RepliesNobodyReadBeforeThePortClosedDoNotReachTheNextClient) {
    PtyServer& server = Serve();
    {
        PortClient first(server.LinkPath());
        ASSERT_TRUE(first.Send({0x34, 0x02}));
        ASSERT_TRUE(server.WaitForRecords(2, kPatience));  // the reply went out, unread
        const std::size_t hangups = server.Hangups();
        first.Close();
        WaitForHangups(hangups + 1);
    }
    PortClient second(server.LinkPath());
    EXPECT_EQ(second.Exchange({0x35, 0x02}), Bytes({0x35, 0x02, 0x01}));
}

TEST_F(PtyServerTest, AReplyDueAfterThePortClosedIsNeverSent) {
    PtyServer& server = Serve({"35:delay=200"});
    {
        PortClient first(server.LinkPath());
        ASSERT_TRUE(first.Send({0x35, 0x02}));
        ASSERT_TRUE(server.WaitForRecords(1, kPatience));
    }
    std::this_thread::sleep_for(milliseconds(400));  // past the moment the reply was due
    PortClient second(server.LinkPath());
    EXPECT_EQ(second.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    EXPECT_EQ(Traffic(server, 3), (std::vector<std::pair<Direction, Bytes>>{
                                      {kIn, {0x35, 0x02}}, {kIn, {0x34, 0x02}}, {kOut, {0x34, 0x02, 0x01}}}));
}

struct WireFault {
    const char* name;
    const char* fault;
    Bytes request;
    Bytes reply;
};
void PrintTo(const WireFault& c, std::ostream* os) { *os << c.name; }

class PtyServerFault : public PtyServerTest, public testing::WithParamInterface<WireFault> {};

TEST_P(PtyServerFault, ReachesTheClient) {
    PtyServer& server = Serve({GetParam().fault});
    PortClient client(server.LinkPath());
    EXPECT_EQ(client.Exchange(GetParam().request), GetParam().reply);
}

// The fresh device's answer to a serial number read (34 bytes), padded with filler to size as long= pads it.
Bytes SerialNumberReply(std::size_t size = 34) {
    Bytes reply{0x37, 0x02, 'S', 'I', 'M', '0', '0', '0', '0', '1'};
    reply.resize(34, 0x00);
    reply.resize(std::max<std::size_t>(size, 34), kFillerByte);
    return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PtyServerFault,
    testing::Values(WireFault{"Status1", "35/w:status1", {0x35, 0x01, 0x02}, {0x35, 0x01, 0x01}},
                    WireFault{
                        "Echo", "33/r@1:echo=9", {0x33, 0x02, 0x00, 0x01}, {0x33, 0x02, 0x00, 0x09, 0xFF}},
                    WireFault{"Long", "37/r:long", {0x37, 0x02}, SerialNumberReply(50)},
                    WireFault{"Delay", "36:delay=100", {0x36, 0x02}, {0x36, 0x02, 0x05}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyServerTest, SilenceLeavesOneRequestUnansweredAndUnactedOn) {
    PtyServer& server = Serve({"35@1:silence"});
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.Send({0x35, 0x01, 0x02}));
    EXPECT_EQ(client.ReceiveUntilQuiet(milliseconds(300)), Bytes{});
    EXPECT_EQ(client.Exchange({0x35, 0x02}), Bytes({0x35, 0x02, 0x01}));
}

TEST_F(PtyServerTest, ASplitReplyComesInTwoPiecesWithThePauseBetween) {
    PtyServer& server = Serve({"35:split=300,1"});
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.Send({0x35, 0x02}));
    EXPECT_EQ(client.ReceiveCount(1), Bytes{0x35});
    EXPECT_EQ(client.ReceiveUntilQuiet(milliseconds(100)), Bytes{});
    EXPECT_EQ(client.ReceiveCount(2), Bytes({0x02, 0x01}));
    ASSERT_TRUE(server.WaitForRecords(3, kPatience));
    const auto records = server.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].bytes, Bytes{0x35});
    EXPECT_EQ(records[2].bytes, Bytes({0x02, 0x01}));
    EXPECT_GE(records[2].at - records[1].at, milliseconds(300));
}

TEST_F(PtyServerTest, APacedReplyArrivesAByteAtATime) {
    ServerOptions options;
    options.paceBaud = 50;  // 200 ms per byte: a read after the first byte finds it alone
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    ASSERT_TRUE(client.Send({0x35, 0x02}));
    EXPECT_EQ(client.ReceiveCount(1), Bytes{0x35});
    EXPECT_EQ(client.ReceiveCount(2), Bytes({0x02, 0x01}));
    EXPECT_EQ(Traffic(server, 2).back(), std::make_pair(kOut, Bytes{0x35, 0x02, 0x01}));
}

using Clock = std::chrono::steady_clock;

// One read() of a client: its bytes and the moment it returned, which is no earlier than they arrived.
struct Piece {
    Bytes bytes;
    Clock::time_point readAt;
};

// Reads one read() at a time until count bytes have come, or kPatience has passed.
std::vector<Piece> ReadPieces(const PortClient& client, std::size_t count) {
    std::vector<Piece> pieces;
    std::size_t received = 0;
    const auto end = Clock::now() + kPatience;
    while (received < count && Clock::now() < end) {
        pollfd fd{client.Fd(), POLLIN, 0};
        if (::poll(&fd, 1, 10) <= 0) continue;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(client.Fd(), buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
        if (n < 0) continue;
        pieces.push_back({Bytes(buffer, buffer + n), Clock::now()});
        received += static_cast<std::size_t>(n);
    }
    return pieces;
}

Bytes Joined(const std::vector<Piece>& pieces) {
    Bytes bytes;
    for (const Piece& piece : pieces) bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
    return bytes;
}

// The first tick of the adapter's timer after a reply piece was sent (its record's time): the earliest it
// can reach a client unless it fills a packet. The timer starts with the server, so a moment taken before
// the server started plus this is no later than the tick, however late anything ran.
std::chrono::microseconds TickAfter(std::chrono::microseconds sent, milliseconds latency) {
    return latency * (sent / latency + 1);
}

std::vector<Record> Replies(const PtyServer& server) {
    std::vector<Record> replies;
    for (const Record& record : server.Records()) {
        if (record.direction == kOut) replies.push_back(record);
    }
    return replies;
}

// The pauses before the requests spread them over the timer's phase. A timer started afresh for each reply
// would hand every one over a whole latency after it was sent; the free-running one hands over a reply
// sent just before a tick almost at once, so most come back within the latency of their request. A client
// held off the processor can miss that, so the round is tried again until a reply shows it.
TEST_F(PtyServerTest, BehindAnAdapterAReplyReachesTheClientWholeAtATickOfItsTimer) {
    ServerOptions options;
    options.latency = milliseconds(16);
    const Clock::time_point before = Clock::now();
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    const struct {
        milliseconds pause;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {milliseconds(0), {0x35, 0x01, 0x02}, {0x35, 0x01, 0x00}},
        {milliseconds(3), {0x38, 0x02, 0x00, 0x07}, {0x38, 0x02, 0x00, 0x07, 0xFF, 0xFF, 0xFF, 0xFF}},
        {milliseconds(7), {0x35, 0x02}, {0x35, 0x02, 0x02}},
        {milliseconds(11), {0x36, 0x02}, {0x36, 0x02, 0x05}},
        {milliseconds(5), {0x34, 0x02}, {0x34, 0x02, 0x01}},
        {milliseconds(13), {0x37, 0x02}, SerialNumberReply()},
    };
    bool earlyTickSeen = false;
    for (std::size_t round = 1; round <= 5 && !earlyTickSeen; ++round) {
        std::vector<Clock::time_point> arrivals;
        for (const auto& c : cases) {
            std::this_thread::sleep_for(c.pause);
            const Clock::time_point sent = Clock::now();
            ASSERT_TRUE(client.Send(c.request));
            const std::vector<Piece> pieces = ReadPieces(client, c.reply.size());
            ASSERT_EQ(pieces.size(), 1u) << testing::PrintToString(Joined(pieces));
            EXPECT_EQ(pieces.front().bytes, c.reply);
            // only against a hang
            EXPECT_LT(pieces.front().readAt - sent, options.latency + milliseconds(2000));
            if (pieces.front().readAt - sent < options.latency) earlyTickSeen = true;
            arrivals.push_back(pieces.front().readAt);
        }
        ASSERT_TRUE(server.WaitForRecords(2 * std::size(cases) * round, kPatience));
        const std::vector<Record> replies = Replies(server);
        ASSERT_EQ(replies.size(), std::size(cases) * round);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const Record& reply = replies[replies.size() - std::size(cases) + i];
            EXPECT_EQ(reply.bytes, cases[i].reply);  // recorded as the device sent it
            EXPECT_GE(arrivals[i] - before, TickAfter(reply.at, options.latency)) << round << " " << i;
        }
    }
    EXPECT_TRUE(earlyTickSeen);
}

// 34 bytes at 19200 baud take 17.7 ms: they go out across a tick, so they come in two or three pieces,
// where without the adapter a client reads them about a byte at a time. A client held off the processor
// past the next tick, or a server late enough to send the bytes in one burst, sees them in one piece: that
// proves nothing either way, so the reply is read again until it shows its pieces.
TEST_F(PtyServerTest, BehindAnAdapterAPacedReplyLongerThanATickComesInAFewPiecesWhole) {
    ServerOptions options;
    options.latency = milliseconds(16);
    options.paceBaud = 19200;
    const Clock::time_point before = Clock::now();
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    bool inPieces = false;
    for (std::size_t attempt = 1; attempt <= 10 && !inPieces; ++attempt) {
        ASSERT_TRUE(client.Send({0x37, 0x02}));
        const std::vector<Piece> pieces = ReadPieces(client, 34);
        ASSERT_EQ(Joined(pieces), SerialNumberReply()) << attempt;
        // a piece a tick, with room for a server late with some bytes on a loaded machine
        EXPECT_LE(pieces.size(), 5u) << attempt;
        inPieces = pieces.size() > 1;
        ASSERT_TRUE(server.WaitForRecords(2 * attempt, kPatience));
        const Record reply = server.Records().back();
        EXPECT_EQ(reply.bytes, SerialNumberReply());
        EXPECT_GE(pieces.front().readAt - before, TickAfter(reply.at, options.latency)) << attempt;
    }
    EXPECT_TRUE(inPieces);
}

// A long timer shows the full packet going at once: the request goes in just after the start, so the
// first tick is nearly the whole timer away.
TEST_F(PtyServerTest, BehindAnAdapterAFullPacketGoesAtOnceAndTheRestAtTheTick) {
    ServerOptions options;
    options.latency = milliseconds(500);
    const Clock::time_point before = Clock::now();
    PtyServer& server = Serve({"37/r:long=100"}, options);
    PortClient client(server.LinkPath());
    const Bytes reply = SerialNumberReply(100);
    const Clock::time_point requested = Clock::now();
    ASSERT_TRUE(client.Send({0x37, 0x02}));
    const Bytes packet = client.ReceiveCount(kAdapterPacket);
    const Clock::time_point packetAt = Clock::now();
    ASSERT_EQ(packet, Bytes(reply.begin(), reply.begin() + kAdapterPacket));
    const Bytes rest = client.ReceiveCount(reply.size() - kAdapterPacket);
    const Clock::time_point restAt = Clock::now();
    EXPECT_EQ(rest, Bytes(reply.begin() + kAdapterPacket, reply.end()));
    ASSERT_TRUE(server.WaitForRecords(2, kPatience));
    const std::vector<Record> replies = Replies(server);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies.front().bytes, reply);
    EXPECT_LT(packetAt - requested, milliseconds(250));
    EXPECT_GE(restAt - before, TickAfter(replies.front().at, options.latency));
}

TEST_F(PtyServerTest, BehindAnAdapterWhatItHoldsWhenThePortClosesDoesNotReachTheNextClient) {
    ServerOptions options;
    options.latency = milliseconds(500);
    PtyServer& server = Serve({}, options);
    {
        PortClient first(server.LinkPath());
        ASSERT_TRUE(first.Send({0x35, 0x02}));
        ASSERT_TRUE(server.WaitForRecords(2, kPatience));  // sent into the adapter, and held there
        const std::size_t hangups = server.Hangups();
        first.Close();
        WaitForHangups(hangups + 1);
    }
    PortClient second(server.LinkPath());
    EXPECT_EQ(second.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
}

// Five replies of 4096 bytes are more than the pseudo-terminal holds unread, so the adapter's hand-overs
// block until the client reads.
TEST_F(PtyServerTest, BehindAnAdapterRepliesAClientIsSlowToReadArriveWholeWhenItReads) {
    ServerOptions options;
    options.latency = milliseconds(16);
    PtyServer& server = Serve({"37/r:long=4096"}, options);
    PortClient client(server.LinkPath());
    constexpr std::size_t kReplies = 5;
    for (std::size_t i = 0; i < kReplies; ++i) ASSERT_TRUE(client.Send({0x37, 0x02}));
    ASSERT_TRUE(test::WaitUntil([&] { return client.Waiting() > 0; }));
    std::this_thread::sleep_for(milliseconds(200));  // time for the port to fill and the hand-overs to block
    Bytes expected;
    for (std::size_t i = 0; i < kReplies; ++i) {
        const Bytes reply = SerialNumberReply(4096);
        expected.insert(expected.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(client.ReceiveCount(expected.size()), expected);
    EXPECT_EQ(client.ReceiveUntilQuiet(milliseconds(100)), Bytes{});
}

// The timer runs on with nothing held: a tick already past left as the deadline would spin the idle
// device on a core.
TEST_F(PtyServerTest, BehindAnAdapterTheDeviceSleepsWhileNothingIsHeld) {
    ServerOptions options;
    options.latency = milliseconds(1);
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    EXPECT_EQ(client.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    const auto cpuTime = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
    };
    const auto cpuBefore = cpuTime();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_LT(cpuTime() - cpuBefore, milliseconds(60));
}

TEST_F(PtyServerTest, UnplugClosesThePortAndLeavesTheLinkDangling) {
    PtyServer& server = Serve({"*@2:unplug"});
    PortClient client(server.LinkPath());
    EXPECT_EQ(client.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    ASSERT_TRUE(client.Send({0x35, 0x02}));
    ASSERT_TRUE(test::WaitUntil([&] { return server.Unplugged(); }));
    EXPECT_TRUE(client.HungUp());
    EXPECT_TRUE(std::filesystem::is_symlink(server.LinkPath()));
    EXPECT_FALSE(std::filesystem::exists(server.LinkPath()));
    EXPECT_FALSE(PortClient(server.LinkPath()).IsOpen());
    EXPECT_EQ(server.Records().size(), 3u);
    server.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(server.LinkPath())));
}

// The program opens the port with TIOCEXCL. A client killed with the mode on would leave the port to root
// alone; root opens it regardless, so the mode is also read back.
TEST_F(PtyServerTest, AClientThatDiesLeavesNoExclusiveModeBehind) {
    PtyServer& server = Serve();
    EXPECT_EQ(server.Hangups(), 0u);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(server.LinkPath().c_str(), O_RDWR | O_NOCTTY);
        ::_exit(fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    WaitForHangups(1);
    PortClient next(server.LinkPath());
    ASSERT_TRUE(next.IsOpen());
    int exclusive = -1;
    ASSERT_EQ(::ioctl(next.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(next.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    EXPECT_EQ(server.Hangups(), 1u);
}

TEST_F(PtyServerTest, KeepsTheLatestRecordsAndCountsThemAll) {
    ServerOptions options;
    options.keptRecords = 3;
    PtyServer& server = Serve({}, options);
    PortClient client(server.LinkPath());
    EXPECT_EQ(client.Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    EXPECT_EQ(client.Exchange({0x35, 0x02}), Bytes({0x35, 0x02, 0x01}));
    EXPECT_EQ(Traffic(server, 4),
              (std::vector<std::pair<Direction, Bytes>>{
                  {kOut, {0x34, 0x02, 0x01}}, {kIn, {0x35, 0x02}}, {kOut, {0x35, 0x02, 0x01}}}));
}

TEST_F(PtyServerTest, LogsOneTimedLinePerRequestAndReplyPiece) {
    ServerOptions options;
    options.logPath = m_dir.Path() / "device.log";
    PtyServer& server = Serve({"34:split=10,1"}, options);
    {
        PortClient client(server.LinkPath());
        EXPECT_EQ(client.Exchange({0x35, 0x01, 0x02}), Bytes({0x35, 0x01, 0x00}));
        ASSERT_TRUE(client.Send({0x34, 0x02}));
        EXPECT_EQ(client.ReceiveCount(3), Bytes({0x34, 0x02, 0x01}));
    }
    server.Stop();
    std::ifstream log(options.logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    const std::string pause = " \\(longest pause [0-9]+ us\\)";
    const std::string expected[] = {"request 35 01 02" + pause, "reply   35 01 00", "request 34 02" + pause,
                                    "reply   34", "reply   02 01"};
    const auto records = server.Records();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex("[0-9]+\\.[0-9]{6} " + expected[i]))) << lines[i];
        EXPECT_EQ(lines[i], FormatRecord(records[i]));
    }
}

TEST_F(PtyServerTest, TakesOverADeadLinkButNotALiveOneOrAFile) {
    const auto ports = m_dir.Path() / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::create_symlink("/dev/null", ports / "com1");
    std::filesystem::create_symlink(ports / "gone", ports / "com2");
    std::ofstream(ports / "com3") << "x";
    const std::pair<int, const char*> cases[] = {{1, "com1 is already in use (a link to /dev/null)"},
                                                 {3, "com3 already exists and is not a link"}};
    for (const auto& [port, message] : cases) {
        ServerOptions options;
        options.portsDir = ports;
        options.port = port;
        PtyServer server(options);
        const auto error = server.Start();
        ASSERT_TRUE(error.has_value()) << port;
        EXPECT_NE(error->find(message), std::string::npos) << *error;
    }
    EXPECT_EQ(std::filesystem::read_symlink(ports / "com1"), "/dev/null");

    ServerOptions options;
    options.port = 2;
    PtyServer& server = Serve({}, options);
    EXPECT_EQ(PortClient(server.LinkPath()).Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
    server.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports / "com2")));
}

std::string Contents(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A killed device's link may point at a pseudo-terminal number that another program has taken since. The
// owner file beside the link tells: a link whose owner is gone is replaced, one whose owner lives (or
// that has no owner file) is somebody's port. A pid above the system's largest names nobody.
TEST_F(PtyServerTest, ALinkWhoseOwnerIsGoneIsReplacedEvenWhenItLeadsToAnotherProgramsTerminal) {
    const auto ports = m_dir.Path() / "ports";
    std::filesystem::create_directories(ports);
    const UniqueFd otherProgram(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(otherProgram.IsOpen());
    ASSERT_EQ(::unlockpt(otherProgram.Get()), 0);
    const std::string otherTerminal = ::ptsname(otherProgram.Get());
    long pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    ASSERT_GT(pidMax, 0);
    const struct {
        int port;
        std::optional<std::string> owner;
        const char* refusal;  // nullptr: taken over
    } cases[] = {
        {1, std::nullopt, "com1 is already in use (a link to "},
        {2, std::to_string(::getpid()) + "\n", "com2 is already in use (a link to "},
        {3, "not a pid\n", "com3 is already in use (a link to "},
        {4, std::to_string(pidMax) + "\n", nullptr},
    };
    for (const auto& c : cases) {
        const auto link = ports / ("com" + std::to_string(c.port));
        const auto owner = ports / ("com" + std::to_string(c.port) + ".pid");
        std::filesystem::create_symlink(otherTerminal, link);
        if (c.owner) std::ofstream(owner) << *c.owner;
        ServerOptions options;
        options.portsDir = ports;
        options.port = c.port;
        PtyServer server(options);
        const auto error = server.Start();
        if (c.refusal) {
            ASSERT_TRUE(error.has_value()) << c.port;
            EXPECT_NE(error->find(c.refusal + otherTerminal + ")"), std::string::npos) << *error;
            EXPECT_EQ(std::filesystem::read_symlink(link), otherTerminal);
            continue;
        }
        ASSERT_EQ(error, std::nullopt);
        EXPECT_NE(std::filesystem::read_symlink(link), otherTerminal);
        EXPECT_EQ(Contents(owner), std::to_string(::getpid()) + "\n");
        EXPECT_EQ(PortClient(link).Exchange({0x34, 0x02}), Bytes({0x34, 0x02, 0x01}));
        server.Stop();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
        EXPECT_FALSE(std::filesystem::exists(owner));
    }
    EXPECT_EQ(Contents(ports / "com2.pid"), std::to_string(::getpid()) + "\n");  // not ours to remove
}

}  // namespace
}  // namespace vantor::sim
