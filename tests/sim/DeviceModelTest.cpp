#include <gtest/gtest.h>

#include <random>

#include "sim/DeviceModel.h"

namespace vantor::sim {
namespace {

using Reply = std::optional<Bytes>;
const Reply kSilence = std::nullopt;

Bytes WithZeros(Bytes bytes, std::size_t total) {
    bytes.resize(total, 0x00);
    return bytes;
}

struct Exchange {
    Bytes request;
    Reply reply;
};

struct Conversation {
    const char* name;
    std::vector<Exchange> exchanges;
};
void PrintTo(const Conversation& c, std::ostream* os) { *os << c.name; }

class ModelConversation : public testing::TestWithParam<Conversation> {};

// Each conversation runs on a freshly delivered device, so later exchanges see what earlier ones stored.
TEST_P(ModelConversation, AnswersEveryRequestWithTheseBytes) {
    DeviceModel model;
    for (const Exchange& exchange : GetParam().exchanges) {
        EXPECT_EQ(model.Answer(exchange.request), exchange.reply) << testing::PrintToString(exchange.request);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ModelConversation,
    testing::Values(
        Conversation{"Defaults",
                     {{{0x34, 0x02}, Bytes{0x34, 0x02, 0x01}},
                      {{0x35, 0x02}, Bytes{0x35, 0x02, 0x01}},
                      {{0x36, 0x02}, Bytes{0x36, 0x02, 0x05}},
                      {{0x39, 0x02}, Bytes{0x39, 0x02, 0x01}},
                      {{0x3A, 0x02}, Bytes{0x3A, 0x02, 0x03}},
                      {{0x3B, 0x02}, Bytes{0x3B, 0x02, 0x01}},
                      {{0x37, 0x02}, WithZeros({0x37, 0x02, 'S', 'I', 'M', '0', '0', '0', '0', '1'}, 34)},
                      {{0x3C, 0x02}, Bytes{0x3C, 0x02, 'S', 'i', 'm', 'u', 'l', 'a', 't', 'o', 'r', 0, 0, 0}},
                      {{0x33, 0x02, 0x01, 0xF4}, Bytes{0x33, 0x02, 0x01, 0xF4, 0xFF}},
                      {{0x38, 0x02, 0x00, 0x64}, Bytes{0x38, 0x02, 0x00, 0x64, 0xFF, 0xFF, 0xFF, 0xFF}}}},
        Conversation{
            "WideBand",
            {{{0x34, 0x01, 0x02}, Bytes{0x34, 0x01, 0x00}}, {{0x34, 0x02}, Bytes{0x34, 0x02, 0x02}}}},
        Conversation{
            "Disp", {{{0x35, 0x01, 0x02}, Bytes{0x35, 0x01, 0x00}}, {{0x35, 0x02}, Bytes{0x35, 0x02, 0x02}}}},
        Conversation{"DtmfDelay",
                     {{{0x36, 0x01, 0x14}, Bytes{0x36, 0x01, 0x00}},
                      {{0x36, 0x02}, Bytes{0x36, 0x02, 0x14}},
                      {{0x36, 0x01, 0x01}, Bytes{0x36, 0x01, 0x00}},
                      {{0x36, 0x02}, Bytes{0x36, 0x02, 0x01}}}},
        Conversation{
            "RadioMfg",
            {{{0x39, 0x01, 0x02}, Bytes{0x39, 0x01, 0x00}}, {{0x39, 0x02}, Bytes{0x39, 0x02, 0x02}}}},
        Conversation{"MinVolume",
                     {{{0x3A, 0x01, 0x0F}, Bytes{0x3A, 0x01, 0x00}},
                      {{0x3A, 0x02}, Bytes{0x3A, 0x02, 0x0F}},
                      {{0x3A, 0x01, 0x00}, Bytes{0x3A, 0x01, 0x00}},
                      {{0x3A, 0x02}, Bytes{0x3A, 0x02, 0x00}}}},
        Conversation{
            "Squelch",
            {{{0x3B, 0x01, 0x02}, Bytes{0x3B, 0x01, 0x00}}, {{0x3B, 0x02}, Bytes{0x3B, 0x02, 0x02}}}},
        Conversation{"SerialNumberKeepsTheWholeField",
                     {{WithZeros({0x37, 0x01, 'A', 'B', 'C'}, 34), Bytes{0x37, 0x01, 0x00}},
                      {{0x37, 0x02}, WithZeros({0x37, 0x02, 'A', 'B', 'C'}, 34)}}},
        Conversation{
            "UserDescriptionOfTwelveBytes",
            {{{0x3C, 0x01, 'U', 'n', 'i', 't', ' ', '1', '2', 'x', 'y', 'z', 0xE9, '!'},
              Bytes{0x3C, 0x01, 0x00}},
             {{0x3C, 0x02}, Bytes{0x3C, 0x02, 'U', 'n', 'i', 't', ' ', '1', '2', 'x', 'y', 'z', 0xE9, '!'}}}},
        Conversation{"HomeNumberTwoDigitCodes",
                     {{{0x33, 0x02, 0x00, 0x07}, Bytes{0x33, 0x02, 0x00, 0x07, 0xFF}},
                      {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, Bytes{0x33, 0x01, 0x00, 0x07, 0x00}},
                      {{0x33, 0x02, 0x00, 0x07}, Bytes{0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}}}},
        Conversation{
            "HomeNumberThreeDigitCodesThenCleared",
            {{{0x33, 0x01, 0x01, 0x2C, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36},
              Bytes{0x33, 0x01, 0x01, 0x2C, 0x00}},
             {{0x33, 0x02, 0x01, 0x2C}, Bytes{0x33, 0x02, 0x01, 0x2C, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}},
             {{0x33, 0x01, 0x01, 0x2C}, Bytes{0x33, 0x01, 0x01, 0x2C, 0x00}},
             {{0x33, 0x02, 0x01, 0x2C}, Bytes{0x33, 0x02, 0x01, 0x2C, 0xFF}}}},
        Conversation{"HomeNumbersAreKeptApart",
                     {{{0x33, 0x01, 0x00, 0x01, 0x31, 0x31, 0x32, 0x32}, Bytes{0x33, 0x01, 0x00, 0x01, 0x00}},
                      {{0x33, 0x01, 0x01, 0xF4, 0x39, 0x39, 0x38, 0x38}, Bytes{0x33, 0x01, 0x01, 0xF4, 0x00}},
                      {{0x33, 0x02, 0x00, 0x01}, Bytes{0x33, 0x02, 0x00, 0x01, 0x31, 0x31, 0x32, 0x32}},
                      {{0x33, 0x02, 0x00, 0x02}, Bytes{0x33, 0x02, 0x00, 0x02, 0xFF}},
                      {{0x33, 0x02, 0x01, 0xF4}, Bytes{0x33, 0x02, 0x01, 0xF4, 0x39, 0x39, 0x38, 0x38}}}},
        Conversation{"Pll",
                     {{{0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}, Bytes{0x38, 0x01, 0x00, 0x07, 0x00}},
                      {{0x38, 0x02, 0x00, 0x07}, Bytes{0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
                      {{0x38, 0x01, 0x00, 0x64, 0xFF, 0xFE, 0x00, 0x00}, Bytes{0x38, 0x01, 0x00, 0x64, 0x00}},
                      {{0x38, 0x02, 0x00, 0x64}, Bytes{0x38, 0x02, 0x00, 0x64, 0xFF, 0xFE, 0x00, 0x00}},
                      {{0x38, 0x02, 0x00, 0x08}, Bytes{0x38, 0x02, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    Bytes request;
    Bytes reply;
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class ModelRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(ModelRefusal, AnswersStatusOneAndKeepsItsState) {
    DeviceModel model;
    const DeviceState before = model.State();
    EXPECT_EQ(model.Answer(GetParam().request), GetParam().reply);
    EXPECT_EQ(model.State(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ModelRefusal,
    testing::Values(Refusal{"WideBandZero", {0x34, 0x01, 0x00}, {0x34, 0x01, 0x01}},
                    Refusal{"WideBandThree", {0x34, 0x01, 0x03}, {0x34, 0x01, 0x01}},
                    Refusal{"DispZero", {0x35, 0x01, 0x00}, {0x35, 0x01, 0x01}},
                    Refusal{"DtmfDelayZero", {0x36, 0x01, 0x00}, {0x36, 0x01, 0x01}},
                    Refusal{"DtmfDelay21", {0x36, 0x01, 0x15}, {0x36, 0x01, 0x01}},
                    Refusal{"RadioMfgThree", {0x39, 0x01, 0x03}, {0x39, 0x01, 0x01}},
                    Refusal{"MinVolume16", {0x3A, 0x01, 0x10}, {0x3A, 0x01, 0x01}},
                    Refusal{"MinVolumeNegative", {0x3A, 0x01, 0xF0}, {0x3A, 0x01, 0x01}},
                    Refusal{"SquelchFF", {0x3B, 0x01, 0xFF}, {0x3B, 0x01, 0x01}},
                    Refusal{"HomeNumberZero",
                            {0x33, 0x01, 0x00, 0x00, 0x31, 0x32, 0x33, 0x34},
                            {0x33, 0x01, 0x00, 0x00, 0x01}},
                    Refusal{"HomeNumber501", {0x33, 0x01, 0x01, 0xF5}, {0x33, 0x01, 0x01, 0xF5, 0x01}},
                    Refusal{"CodesNotDigits",
                            {0x33, 0x01, 0x00, 0x07, 0x31, 0x41, 0x33, 0x34},
                            {0x33, 0x01, 0x00, 0x07, 0x01}},
                    Refusal{"CodesOfThreeAndTwo",
                            {0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35},
                            {0x33, 0x01, 0x00, 0x07, 0x01}},
                    Refusal{
                        "OneCodeOnly", {0x33, 0x01, 0x00, 0x07, 0x31, 0x32}, {0x33, 0x01, 0x00, 0x07, 0x01}},
                    Refusal{"PllOfHomeNumber101",
                            {0x38, 0x01, 0x00, 0x65, 0x01, 0xC7, 0xFF, 0xFF},
                            {0x38, 0x01, 0x00, 0x65, 0x01}},
                    Refusal{"PllOfHomeNumberZero",
                            {0x38, 0x01, 0x00, 0x00, 0x01, 0xC7, 0xFF, 0xFF},
                            {0x38, 0x01, 0x00, 0x00, 0x01}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Unparseable {
    const char* name;
    Bytes request;
};
void PrintTo(const Unparseable& c, std::ostream* os) { *os << c.name; }

class ModelSilence : public testing::TestWithParam<Unparseable> {};

TEST_P(ModelSilence, LeavesTheRequestUnansweredAndKeepsItsState) {
    DeviceModel model;
    const DeviceState before = model.State();
    EXPECT_EQ(model.Answer(GetParam().request), kSilence);
    EXPECT_EQ(model.State(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ModelSilence,
    testing::Values(Unparseable{"Nothing", {}}, Unparseable{"CodeOnly", {0x34}},
                    Unparseable{"CodeBelowTheTable", {0x32, 0x02}},
                    Unparseable{"CodeAboveTheTable", {0x3D, 0x02}}, Unparseable{"SubCodeZero", {0x34, 0x00}},
                    Unparseable{"SubCodeThree", {0x34, 0x03, 0x01}},
                    Unparseable{"WriteWithoutItsValue", {0x35, 0x01}},
                    Unparseable{"ReadWithAValue", {0x35, 0x02, 0x01}},
                    Unparseable{"SerialNumberFieldTooShort", WithZeros({0x37, 0x01, 'A'}, 33)},
                    Unparseable{"UserDescriptionFieldTooLong", WithZeros({0x3C, 0x01, 'A'}, 15)},
                    Unparseable{"HomeNumberReadWithoutNumber", {0x33, 0x02, 0x00}},
                    Unparseable{"HomeNumberReadTooLong", {0x33, 0x02, 0x00, 0x07, 0x00}},
                    Unparseable{"HomeNumberWriteOfEleven",
                                {0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}},
                    Unparseable{"HomeNumberReadOfZero", {0x33, 0x02, 0x00, 0x00}},
                    Unparseable{"HomeNumberReadOf501", {0x33, 0x02, 0x01, 0xF5}},
                    Unparseable{"PllReadOf101", {0x38, 0x02, 0x00, 0x65}},
                    Unparseable{"PllWriteTooShort", {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModelRefuseFlag, RefusesWellFormedWritesOnlyAndAnswersReadsAsUsual) {
    DeviceModel model;
    const DeviceState before = model.State();
    EXPECT_EQ(model.Answer(Bytes{0x35, 0x01, 0x02}, true), Bytes({0x35, 0x01, 0x01}));
    EXPECT_EQ(model.Answer(WithZeros({0x37, 0x01, 'X'}, 34), true), Bytes({0x37, 0x01, 0x01}));
    EXPECT_EQ(model.Answer(Bytes{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, true),
              Bytes({0x33, 0x01, 0x00, 0x07, 0x01}));
    EXPECT_EQ(model.Answer(Bytes{0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}, true),
              Bytes({0x38, 0x01, 0x00, 0x07, 0x01}));
    EXPECT_EQ(model.State(), before);
    EXPECT_EQ(model.Answer(Bytes{0x35, 0x02}, true), Bytes({0x35, 0x02, 0x01}));
    EXPECT_EQ(model.Answer(Bytes{0x36, 0x01}, true), kSilence);
}

struct Framing {
    Bytes bytes;
    FrameStatus status;
};

TEST(ClassifyFrame, KnowsEachRequestLengthAndWhereOnlyAPauseCanEndIt) {
    const Framing cases[] = {
        {{0x35}, FrameStatus::kIncomplete},
        {{0x35, 0x01}, FrameStatus::kIncomplete},
        {{0x35, 0x01, 0x02}, FrameStatus::kComplete},
        {{0x35, 0x02}, FrameStatus::kComplete},
        {{0x35, 0x02, 0x00}, FrameStatus::kUnknown},
        {{0x35, 0x07}, FrameStatus::kUnknown},
        {{0x40}, FrameStatus::kUnknown},
        {{0x37, 0x01, 'A'}, FrameStatus::kIncomplete},
        {WithZeros({0x37, 0x01}, 34), FrameStatus::kComplete},
        {WithZeros({0x3C, 0x01}, 14), FrameStatus::kComplete},
        {{0x33, 0x02, 0x00}, FrameStatus::kIncomplete},
        {{0x33, 0x02, 0x00, 0x07}, FrameStatus::kComplete},
        {{0x33, 0x01, 0x00}, FrameStatus::kIncomplete},
        {{0x33, 0x01, 0x00, 0x07}, FrameStatus::kMaybeComplete},
        {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, FrameStatus::kMaybeComplete},
        {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}, FrameStatus::kComplete},
        {{0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF}, FrameStatus::kIncomplete},
        {{0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}, FrameStatus::kComplete},
        {{0x38, 0x02, 0x00, 0x07}, FrameStatus::kComplete},
    };
    for (const Framing& c : cases) {
        EXPECT_EQ(ClassifyFrame(c.bytes), c.status) << testing::PrintToString(c.bytes);
    }
}

// Whatever arrives on the line, the device neither crashes nor answers with a header it was not sent,
// and a complete frame is one it either answers or deliberately ignores.
TEST(ModelFuzz, SurvivesRandomBytesAndEchoesTheHeaderOfWhatItAnswers) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> nearCode(0x32, 0x3D);
    std::uniform_int_distribution<int> nearSub(0, 3);
    DeviceModel model;
    for (int round = 0; round < 20000; ++round) {
        Bytes request(static_cast<std::size_t>(length(random)));
        for (std::size_t i = 0; i < request.size(); ++i) {
            request[i] = static_cast<std::uint8_t>(anyByte(random));
        }
        if (round % 2 == 0 && request.size() >= 2) {
            request[0] = static_cast<std::uint8_t>(nearCode(random));
            request[1] = static_cast<std::uint8_t>(nearSub(random));
        }
        for (std::size_t prefix = 0; prefix <= request.size(); ++prefix) {
            ClassifyFrame(std::span(request).first(prefix));
        }
        const Reply reply = model.Answer(request, round % 7 == 0);
        if (!reply) continue;
        ASSERT_GE(reply->size(), 3u);
        EXPECT_EQ((*reply)[0], request[0]);
        EXPECT_EQ((*reply)[1], request[1]);
        EXPECT_LE(reply->size(), 40u);
    }
}

}  // namespace
}  // namespace vantor::sim
