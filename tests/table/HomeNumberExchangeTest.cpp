#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "table/HomeNumberExchange.h"
#include "tests/table/DumpingLog.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace table;
using enum protocol::ReplyOutcome;
using std::nullopt;

// A reply at the front of the 40-byte buffer, the rest of it left over from earlier replies: 0xFF there
// would pass for a status, an empty-codes mark or half a number if a report read past the reply.
struct Received {
    explicit Received(const Bytes& bytes, std::optional<std::int32_t> count = nullopt)
        : n(count.value_or(static_cast<std::int32_t>(bytes.size()))) {
        buffer.fill(0xFF);
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
    }
    std::array<std::uint8_t, 40> buffer{};
    std::int32_t n;
};

template <typename Result>
struct ReadCase {
    Bytes reply;
    std::string log;
    Result result;
};

template <typename Result, typename Report>
void ExpectReports(const std::vector<ReadCase<Result>>& cases, Report report) {
    for (const auto& c : cases) {
        DumpingLog log;
        const Received reply(c.reply);
        EXPECT_EQ(report(reply.buffer, reply.n, log), c.result) << c.log;
        EXPECT_EQ(log.Contents(), c.log);
    }
}

Bytes Sent(std::span<const std::uint8_t> request) { return Bytes(request.begin(), request.end()); }

TEST(HomeNumberExchange, RequestsCarryTheNumberHighByteFirstAndTheCodesAsDigits) {
    const auto codes = [](std::int32_t number, std::string_view tx, std::string_view rx) {
        return HomeNumberWriteRequest(number, CodesForSending(tx, rx));
    };
    const auto pll = [](std::int32_t number, std::string_view tx, std::string_view rx) {
        return Sent(PllWriteRequest(number, PllWireValue(tx), PllWireValue(rx)));
    };
    const struct {
        Bytes built;
        Bytes sent;
    } cases[] = {
        {codes(7, "12", "34"), {0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}},
        {codes(300, "123", "456"), {0x33, 0x01, 0x01, 0x2C, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}},
        {codes(7, "FFF", "12"), {0x33, 0x01, 0x00, 0x07}},
        {codes(7, "123", "FFF"), {0x33, 0x01, 0x00, 0x07}},
        {codes(7, "5", "7"), {0x33, 0x01, 0x00, 0x07, 0x30, 0x35, 0x30, 0x37}},
        {pll(7, "45.5", ""), {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
        {pll(100, "", "45.57"), {0x38, 0x01, 0x00, 0x64, 0xFF, 0xFF, 0x01, 0xC7}},
        {Sent(HomeNumberReadRequest(7)), {0x33, 0x02, 0x00, 0x07}},
        {Sent(PllReadRequest(500)), {0x38, 0x02, 0x01, 0xF4}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.built, c.sent);
}

TEST(HomeNumberExchange, WriteReplyReportsTheEchoedNumberAndTheStatus) {
    const struct {
        std::uint8_t code;
        Bytes reply;
        std::string log;
        protocol::ReplyOutcome outcome;
    } cases[] = {
        // clang-format off
        {0x33, {0x33, 0x01, 0x00, 0x07, 0x00}, "Home Number: 7 Successful\r\n", kSucceeded},
        {0x38, {0x38, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00}, "Home Number: 7 Successful\r\n", kSucceeded},
        {0x33, {0x33, 0x01, 0x00, 0x07, 0x01}, "Home Number: 7 Unsuccessful\r\n", kFailed},
        {0x33, {0x33, 0x01, 0x00, 0x07, 0x02},
         "Home Number: 7 Unrecognized response[4]: 2\r\n3301000702\r\n", kUnrecognisedStatus},
        {0x33, {0x33, 0x01, 0x00, 0x07},
         "Home Number: 7 Unrecognized response[4]: \r\n33010007\r\n", kUnrecognisedStatus},
        {0x33, {0x33, 0x01, 0x00},
         "Home Number: 0 Unrecognized response[4]: \r\n330100\r\n", kUnrecognisedStatus},
        {0x38, {0x38, 0x01, 0xFF, 0xFE, 0x00}, "Home Number: -2 Successful\r\n", kSucceeded},
        {0x33, {0xC8, 0x01, 0x00, 0x07, 0x00}, "Unexpected response: -56\r\nc801000700\r\n", kWrongCode},
        {0x38, {0x33, 0x01, 0x00, 0x07, 0x00}, "Unexpected response: 51\r\n3301000700\r\n", kWrongCode},
        {0x33, {0x33, 0x02, 0x00, 0x07, 0x00}, "Unrecognized reponse[1]: 2\r\n3302000700\r\n", kWrongSubCode},
        {0x38, {0x38}, "Unrecognized reponse[1]: \r\n38\r\n", kWrongSubCode},
        // clang-format on
    };
    for (const auto& c : cases) {
        DumpingLog log;
        const Received reply(c.reply);
        EXPECT_EQ(ReportWriteReply(c.code, reply.buffer, reply.n, log), c.outcome) << c.log;
        EXPECT_EQ(log.Contents(), c.log);
    }
}

TEST(HomeNumberExchange, NoReplyReportsNothing) {
    for (const std::int32_t n : {-1, 0}) {
        DumpingLog log;
        const Received write({0x33, 0x01, 0x00, 0x07, 0x00}, n);
        EXPECT_EQ(ReportWriteReply(0x33, write.buffer, write.n, log), kNoReply);
        const Received read({0x33, 0x02, 0x00, 0x07, 0xFF}, n);
        EXPECT_EQ(ReportHomeNumberRead(read.buffer, read.n, log), nullopt);
        const Received pll({0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}, n);
        EXPECT_EQ(ReportPllRead(pll.buffer, pll.n, log), nullopt);
        const Received pllWrite({0x38, 0x01, 0x00, 0x07, 0x00}, n);
        EXPECT_FALSE(ReportTransferPllWriteReply(pllWrite.buffer, pllWrite.n, log));
        EXPECT_FALSE(ReportTransferHomeNumberRead(read.buffer, read.n, log).has_value());
        EXPECT_EQ(log.Contents(), "");
    }
}

TEST(HomeNumberExchange, HomeNumberReadGivesTheCodesOfARecognisedBody) {
    const std::string unrecognised = "Unrecognized number of bytes\r\nreturned: ";
    const std::string noCodes = "Home Number: 7 Tx: FFF Rx: FFF\r\n";
    // clang-format off
    ExpectReports<std::optional<Codes>>({
        {{0x33, 0x02, 0x00, 0x07, 0xFF}, noCodes, Codes{}},
        {{0x33, 0x02, 0x00, 0x07, 0xFF, 0x31, 0x32, 0x33, 0x34, 0x35}, noCodes, Codes{}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, "Home Number: 7 Tx: 12 Rx: 34\r\n",
         Codes{"12", "34"}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}, "Home Number: 7 Tx: 123 Rx: 456\r\n",
         Codes{"123", "456"}},
        {{0x33, 0x02, 0xFF, 0xFE, 0x31, 0x32, 0x33, 0x34}, "Home Number: 65534 Tx: 12 Rx: 34\r\n",
         Codes{"12", "34"}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x00, 0x33, 0x34}, "Home Number: 7 Tx: 1 Rx: 34\r\n",
         Codes{"1", "34"}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35},
         "Home Number: 7" + unrecognised + "9\r\n330200073132333435\r\n", nullopt},
        {{0x33, 0x02, 0x00, 0x07}, "Home Number: 7" + unrecognised + "4\r\n33020007\r\n", nullopt},
        {{0xC8, 0x02, 0x00, 0x07, 0xFF}, "Unexpected response[0]: -56\r\nc8020007ff\r\n", nullopt},
        {{0x38, 0x02, 0x00, 0x07, 0xFF}, "Unexpected response[0]: 56\r\n38020007ff\r\n", nullopt},
        {{0x33, 0x01, 0x00, 0x07, 0x00}, "Unrecognized response[1]: 1\r\n3301000700\r\n", nullopt},
    }, ReportHomeNumberRead);
    // clang-format on
}

TEST(HomeNumberExchange, PllReadGivesTheTextsOfAnEightByteReply) {
    // clang-format off
    ExpectReports<std::optional<PllTexts>>({
        {{0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}, "Home Number: 7 TxPLL: 45.5 RxPLL: \r\n",
         PllTexts{"45.5", ""}},
        {{0x38, 0x02, 0x00, 0x64, 0xFF, 0xFE, 0x00, 0x00}, "Home Number: 100 TxPLL: 6553.4 RxPLL: 0.0\r\n",
         PllTexts{"6553.4", "0.0"}},
        {{0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF},
         "Home Number: 7Unrecognized number of bytes\r\nreturned: 7\r\n3802000701c7ff\r\n", nullopt},
        {{0x33, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF},
         "Unexpected response[0]: 51\r\n3302000701c7ffff\r\n", nullopt},
        {{0x38, 0x01, 0x00, 0x07, 0x00}, "Unrecognized response[1]: 1\r\n3801000700\r\n", nullopt},
    }, ReportPllRead);
    // clang-format on
}

// Write All's PLL write report: its echo line comes once the code is right, before the sub-code and the
// status are looked at.
TEST(HomeNumberExchange, TransferPllWriteReplySaysPllFrequenciesInPlaceOfTheHomeNumber) {
    const std::string echo = "38(PLL frequencies):\r\n";
    // clang-format off
    ExpectReports<bool>({
        {{0x38, 0x01, 0x00, 0x07, 0x00}, echo + " Successful\r\n", true},
        {{0x38, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00}, echo + " Successful\r\n", true},
        {{0x38, 0x01, 0x00, 0x07, 0x01}, echo + " Unsuccessful\r\n", false},
        {{0x38, 0x01, 0x00, 0x07, 0x02}, echo + " Unrecognized response[4]: 2\r\n3801000702\r\n", false},
        {{0x38, 0x01, 0x00, 0x07}, echo + " Unrecognized response[4]: \r\n38010007\r\n", false},
        {{0x38, 0x02, 0x00, 0x07, 0x00}, echo + "Unrecognized reponse[1]: 2\r\n3802000700\r\n", false},
        {{0x38}, echo + "Unrecognized reponse[1]: \r\n38\r\n", false},
        {{0x33, 0x01, 0x00, 0x07, 0x00}, "Unexpected response: 51\r\n3301000700\r\n", false},
        {{0xC8, 0x01, 0x00, 0x07, 0x00}, "Unexpected response: -56\r\nc801000700\r\n", false},
    }, ReportTransferPllWriteReply);
    // clang-format on
}

// Read All's home number report: the echoed number (signed), its codes, "Tx:FFF Rx:FFF" for none.
TEST(HomeNumberExchange, TransferHomeNumberReadGivesTheEchoedNumberAndItsCodes) {
    using Echoed = std::optional<std::pair<std::int16_t, Codes>>;
    const auto report = [](std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) -> Echoed {
        const auto read = ReportTransferHomeNumberRead(reply, n, log);
        if (!read) return nullopt;
        return std::pair{read->homeNumber, read->codes};
    };
    const std::string unrecognised = "Unrecognized number of bytes\r\nreturned: ";
    // clang-format off
    ExpectReports<Echoed>({
        {{0x33, 0x02, 0x00, 0x07, 0xFF}, "Home Number: 7 Tx:FFF Rx:FFF\r\n",
         std::pair{std::int16_t{7}, Codes{}}},
        {{0x33, 0x02, 0x01, 0xF4, 0xFF, 0x31, 0x32, 0x33, 0x34, 0x35}, "Home Number: 500 Tx:FFF Rx:FFF\r\n",
         std::pair{std::int16_t{500}, Codes{}}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, "Home Number: 7 Tx: 12 Rx: 34\r\n",
         std::pair{std::int16_t{7}, Codes{"12", "34"}}},
        {{0x33, 0x02, 0x00, 0x09, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}, "Home Number: 9 Tx: 123 Rx: 456\r\n",
         std::pair{std::int16_t{9}, Codes{"123", "456"}}},
        {{0x33, 0x02, 0xFF, 0xFE, 0xFF}, "Home Number: -2 Tx:FFF Rx:FFF\r\n",
         std::pair{std::int16_t{-2}, Codes{}}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x00, 0x33, 0x34}, "Home Number: 7 Tx: 1 Rx: 34\r\n",
         std::pair{std::int16_t{7}, Codes{"1", "34"}}},
        {{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35},
         "Home Number: 7" + unrecognised + "9\r\n330200073132333435\r\n", nullopt},
        {{0x33, 0x02, 0x00, 0x07}, "Home Number: 7" + unrecognised + "4\r\n33020007\r\n", nullopt},
        {{0x38, 0x02, 0x00, 0x07, 0xFF}, "Unexpected response[0]: 56\r\n38020007ff\r\n", nullopt},
        {{0x33, 0x01, 0x00, 0x07, 0x00}, "Unrecognized response[1]: 1\r\n3301000700\r\n", nullopt},
    }, report);
    // clang-format on
}

}  // namespace
