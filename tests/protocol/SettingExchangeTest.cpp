#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/SettingExchange.h"
#include "tests/protocol/RecordingLog.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace protocol;
using enum ReplyOutcome;
using std::nullopt;

// A reply at the front of a cleared 40-byte buffer, as the window holds it; no bytes stands for a
// time-out. With the buffer cleared, a byte that never arrived would read as 0: success, or a value.
struct Received {
    explicit Received(const Bytes& bytes) : n(bytes.empty() ? -1 : static_cast<std::int32_t>(bytes.size())) {
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
    }
    std::array<std::uint8_t, 40> buffer{};
    std::int32_t n;
};

template <typename Result>
struct ReadCase {
    const DeviceCommand* command;
    Bytes reply;
    std::string log;
    Result result;
};

// A read from its opening line to the decoded reply: the request, the result and the whole log.
template <typename Result, typename Decode>
void ExpectRead(const ReadCase<Result>& c, Decode decode) {
    RecordingLog log;
    EXPECT_EQ(BeginGet(*c.command, log), (ReadRequestBytes{c.command->code, 0x02}));
    const Received reply(c.reply);
    EXPECT_EQ(decode(*c.command, reply.buffer, reply.n, log), c.result) << c.log;
    EXPECT_EQ(log.Contents(), c.log);
}

TEST(SettingExchange, SetSendsTheValueAndReportsTheReply) {
    struct Case {
        const DeviceCommand* command;
        std::int32_t value;
        Bytes reply;
        Bytes sent;
        std::string log;
        ReplyOutcome outcome;
    };
    const std::string wideBand = "Sending Wide Band Write request:\r\n34(Wide Band):\r\n";
    const std::string wideBandSet = wideBand + "Wide Band Write Response:\r\n";
    // clang-format off
    const Case cases[] = {
        {&kDisp, 2, {0x35, 0x01, 0x00}, {0x35, 0x01, 0x02}, "Sending 'DISP' button write request: 2\r\n"
         "'DISP' button Write Response:\r\n'DISP' button Write Successful\r\n", kSucceeded},
        {&kWideBand, 2, {0x34, 0x01, 0x00}, {0x34, 0x01, 0x02},
         wideBandSet + "Wide Band successfully disabled\r\n", kSucceeded},
        {&kWideBand, 2, {0x34, 0x01, 0x01}, {0x34, 0x01, 0x02},
         wideBandSet + "Wide Band disable FAILED\r\n", kFailed},
        {&kWideBand, 1, {0x34, 0x01, 0x00, 0x01, 0xFF}, {0x34, 0x01, 0x01},
         wideBandSet + "Wide Band successfully enabled\r\n", kSucceeded},
        {&kWideBand, 1, {0x34, 0x02}, {0x34, 0x01, 0x01},
         wideBand + "Unrecognized response[1]: 2\r\n", kWrongSubCode},
        {&kRadioMfg, 1, {0x39, 0x01, 0xFF}, {0x39, 0x01, 0x01}, "Sending Radio Mfg write request: 1\r\n"
         "Radio Mfg Write Response:\r\nUnrecognized Write response[2]: -1\r\n", kUnrecognisedStatus},
        {&kDtmfDelay, 0, {0x36, 0x01, 0xFF}, {0x36, 0x01, 0x00}, "Sending DTMF Delay write request:\r\n"
         "36(DTMF Delay):\r\nDTMF Delay write Response:\r\nUnrecognized response[2]: -1\r\n",
         kUnrecognisedStatus},
        {&kMinVolume, -16, {0x3A, 0x01, 0x01}, {0x3A, 0x01, 0xF0}, "Sending MIN volume write request:\r\n"
         "0x3A(MIN volume):\r\nMIN volume write Response:\r\nMIN volume write FAILED\r\n", kFailed},
        {&kSquelch, 2, {0xC8, 0x01, 0x00}, {0x3B, 0x01, 0x02},
         "Sending 'SQUELCH' button write request: 2\r\nUnexpected response[0]: -56\r\n", kWrongCode},
        {&kSquelch, 1, {0x3B, 0x01}, {0x3B, 0x01, 0x01}, "Sending 'SQUELCH' button write request: 1\r\n"
         "'SQUELCH' button Write Response:\r\nUnrecognized Write response[2]: \r\n", kUnrecognisedStatus},
        {&kDisp, 1, {}, {0x35, 0x01, 0x01}, "Sending 'DISP' button write request: 1\r\n", kNoReply},
    };
    // clang-format on
    for (const Case& c : cases) {
        RecordingLog log;
        ASSERT_TRUE(SetInputAccepted(*c.command, c.value, log));
        const auto request = BeginSet(
            *c.command, [&] { return c.value; }, log);
        ASSERT_TRUE(request) << c.log;
        EXPECT_EQ(Bytes(request->begin(), request->end()), c.sent);
        const Received reply(c.reply);
        EXPECT_EQ(CheckWriteReply(*c.command, *request, reply.buffer, reply.n, log), c.outcome) << c.log;
        EXPECT_EQ(log.Contents(), c.log);
    }
}

TEST(SettingExchange, RefusedSetsSendNothing) {
    struct Case {
        const DeviceCommand* command;
        std::int32_t value;
        bool refusedBeforeLock;
        std::string log;
    };
    // clang-format off
    const Case cases[] = {
        {&kDisp, 0, false, "Please Select a 'DISP' button entry\r\n"},
        {&kRadioMfg, 0, false, "Please Select a Radio Mfg\r\n"},
        {&kSquelch, 0, false, "Please Select a 'SQUELCH' button entry\r\n"},
        {&kWideBand, WideBandValue(false, false), false,
         "Sending Wide Band Write request:\r\nno input. Please choose enable\r\nor disable"},
        {&kDtmfDelay, 21, true, "Value must be 20 or less\r\n"},
        {&kMinVolume, 16, true, "Value must be 15 or less\r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        RecordingLog log;
        const bool accepted = SetInputAccepted(*c.command, c.value, log);
        EXPECT_EQ(accepted, !c.refusedBeforeLock) << c.log;
        if (accepted) {
            std::string loggedBeforeTheValue;
            const auto value = [&] {
                loggedBeforeTheValue = log.Contents();
                return c.value;
            };
            EXPECT_EQ(BeginSet(*c.command, value, log), nullopt) << c.log;
            // Wide Band looks at its radio buttons after its opening line; a list Set at its list before.
            EXPECT_EQ(loggedBeforeTheValue,
                      c.command == &kWideBand ? "Sending Wide Band Write request:\r\n" : "");
        }
        EXPECT_EQ(log.Contents(), c.log);
    }
    RecordingLog quiet;
    EXPECT_TRUE(SetInputAccepted(kDtmfDelay, 20, quiet));
    EXPECT_TRUE(SetInputAccepted(kMinVolume, 15, quiet));
    EXPECT_TRUE(SetInputAccepted(kMinVolume, -16, quiet));
    EXPECT_EQ(quiet.Contents(), "");
    EXPECT_EQ(WideBandValue(true, false), 1);
    EXPECT_EQ(WideBandValue(true, true), 2);  // Disable is looked at first
}

TEST(SettingExchange, GetDecodesTheValueOrKeepsTheWindow) {
    using Case = ReadCase<std::optional<std::int32_t>>;
    const std::string dtmf =
        "Sending DTMF Delay read request:\r\n36(DTMF Delay):\r\nDTMF Delay read Response:\r\n";
    const std::string volume =
        "Sending MIN volume read request:\r\n0x3A(MIN volume):\r\nMIN volume read Response:\r\n";
    // clang-format off
    const Case cases[] = {
        {&kDisp, {0x35, 0x02, 0x01},
         "Sending 'DISP' button Read request: \r\n'DISP' button Response:\r\nNONE\r\n", 1},
        {&kSquelch, {0x3B, 0x02, 0x02},
         "Sending 'SQUELCH' button Read request: \r\n'SQUELCH' button Response:\r\nSQLCH\r\n", 2},
        {&kRadioMfg, {0x39, 0x02, 0x03},
         "Sending Radio Mfg Read request: \r\nRadio Mfg Read Response:\r\nUnrecognized response[2]: 3\r\n",
         nullopt},
        {&kWideBand, {0x34, 0x02, 0x02},
         "Sending Wide Band Read request:\r\n34(Wide Band):\r\nWide Band Read Response:\r\n"
         "Wide Band Disabled\r\n", 2},
        {&kDisp, {0x35, 0x01},
         "Sending 'DISP' button Read request: \r\nUnrecognized response[1]: 1\r\n", nullopt},
        {&kDtmfDelay, {0x36, 0x02, 0x14}, dtmf, 20},
        {&kDtmfDelay, {0x36, 0x02, 0x15}, dtmf + "Unrecognized response[2]: 21\r\n", nullopt},
        {&kDtmfDelay, {0x36, 0x02, 0x80}, dtmf + "Unrecognized response[2]: -128\r\n", nullopt},
        {&kMinVolume, {0x3A, 0x02, 0xF0}, volume, -16},
        {&kMinVolume, {0x3A, 0x02}, volume + "Unrecognized response[2]: \r\n", nullopt},
        {&kSquelch, {}, "Sending 'SQUELCH' button Read request: \r\n", nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        ExpectRead(c, DecodeSettingReply);
    }
}

TEST(SettingExchange, TextWriteLogsTheWholeTextAndSendsItsField) {
    const std::string longText = "0123456789abcdefghijklmnopqrstuvWXYZ01";  // 38, as a read can leave it
    RecordingLog log;
    const Bytes request = BeginTextWrite(kSerialNumber, longText, log);
    EXPECT_EQ(std::string(request.begin(), request.end()), "\x37\x01" + longText.substr(0, 32));
    const Received reply({0x37, 0x01, 0x02});
    EXPECT_EQ(CheckWriteReply(kSerialNumber, request, reply.buffer, reply.n, log), kUnrecognisedStatus);
    EXPECT_EQ(log.Contents(), "Setting Serial Number to: \r\n" + longText +
                                  "\r\n37(Serial Number):\r\nSerial Number Write Response:\r\n"
                                  "Unrecognized Write response[2]: 2\r\n");

    RecordingLog empty;
    const Bytes emptyRequest = BeginTextWrite(kUserDescription, "", empty);
    EXPECT_EQ(emptyRequest, (Bytes{0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const Received ok({0x3C, 0x01, 0x00});
    EXPECT_EQ(CheckWriteReply(kUserDescription, emptyRequest, ok.buffer, ok.n, empty), kSucceeded);
    EXPECT_EQ(empty.Contents(),
              "Setting User Descript to: \r\n\r\n(User Descript):\r\nUser Descipt Write Response:\r\n"
              "User Descript Write Successful\r\n");
}

TEST(SettingExchange, TextReadTakesTheReplyLengthUpToAZeroByte) {
    using Case = ReadCase<std::optional<std::string>>;
    const std::string serial = "Sending Serial Number read request:\r\nReceived : ";
    const std::string serialHeader =
        "37(Serial Number):\r\nSerial Number read Response:\r\nSerial Number Received:\r\n";
    const std::string user = "Sending read request:\r\nReceived : ";
    const std::string userHeader =
        "(User Descript):\r\nUser Descript read Response:\r\nUser Desciption Received:\r\n";
    Bytes full{0x37, 0x02};
    full.resize(40, 'x');
    const std::string x38(38, 'x');
    // clang-format off
    const Case cases[] = {
        {&kSerialNumber, {0x37, 0x02, 'A', 'B', '1', '2', 0, 0},
         serial + "8 bytes\r\n" + serialHeader + "AB12\r\n", "AB12"},
        {&kUserDescription, {0x3C, 0x02, 'A', 'B', 0, 'C', 'D'},
         user + "7 bytes\r\n" + userHeader + "AB\r\n", "AB"},
        {&kUserDescription, {0x3C, 0x02}, user + "2 bytes\r\n" + userHeader + "\r\n", ""},
        {&kSerialNumber, full, serial + "40 bytes\r\n" + serialHeader + x38 + "\r\n", x38},
        {&kSerialNumber, {0x37},
         serial + "1 bytes\r\n37(Serial Number):\r\nUnrecognized response[1]: \r\n", nullopt},
        {&kUserDescription, {}, "Sending read request:\r\n", nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        ExpectRead(c, DecodeTextReply);
    }
}

}  // namespace
