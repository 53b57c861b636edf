#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "table/HomeNumberRules.h"
#include "tests/protocol/RecordingLog.h"

namespace {

using namespace table;

const std::string kAddRange =
    "Invalid Home Number.\r\nChannel must be less than 501\r\nand greater than 0\r\n";
const std::string kReadRange = "Invalid Home Number:\r\nMust be less than 500\r\nand greater than 0.\r\n";
constexpr std::string_view kPllLimitText = "TxPLL and RxPLL must be less than 6553.5\r\n";
constexpr std::string_view kNegativeText = "TxPLL and RxPLL must not be negative\r\n";
constexpr std::string_view kInvalidCodes = "Invalid Rx/Tx value";
constexpr std::string_view kNotNumberText = "TxPLL and RxPLL must be numbers\r\n";

TEST(HomeNumberRules, NumbersAreReadLikeTheCLibrary) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::string zeros(400, '0');
    const struct {
        std::string text;
        double value;
    } floats[] = {
        // clang-format off
        {" 12.5x", 12.5}, {"+3", 3}, {"-2.5", -2.5}, {"0x10", 16}, {"0x", 0}, {"--1", 0}, {".5", 0.5},
        {"abc", 0}, {"", 0}, {"1e999", inf}, {"-1e999", -inf}, {"1e-999", 0},
        // clang-format on
        // Too large or too small by its digits, whatever the exponent's sign says.
        {"1" + zeros + "e-10", inf},
        {"0." + zeros + "1", 0},
        {"0." + zeros + "1e+5", 0},
    };
    for (const auto& c : floats) EXPECT_EQ(AtofValue(c.text), c.value) << c.text;
    EXPECT_TRUE(std::isnan(AtofValue("nan")));

    const struct {
        std::string_view text;
        std::int32_t value;
    } ints[] = {
        // clang-format off
        {"007", 7}, {" -5x", -5}, {"abc", 0}, {"", 0},
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
        // clang-format on
    };
    for (const auto& c : ints) EXPECT_EQ(AtoiValue(c.text), c.value) << c.text;
}

TEST(HomeNumberRules, PllTextGoesOnTheWireInTenthsAndBack) {
    const struct {
        std::string_view text;
        std::uint16_t wire;
        std::string back;
    } cases[] = {
        {"", 0xFFFF, ""},
        {"45.5", 455, "45.5"},
        {"45.57", 455, "45.5"},  // truncated, not rounded
        {"6553.4", 65534, "6553.4"},
        {"abc", 0, "0.0"},
        {"1e300", 0xFFFF, ""},  // no integer holds it
        {"nan", 0xFFFF, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PllWireValue(c.text), c.wire) << c.text;
        EXPECT_EQ(PllText(c.wire), c.back) << c.text;
    }
}

TEST(HomeNumberRules, AddChecksInOrderAndStoresCodesOfEqualLength) {
    using enum AddDecision::Action;
    const struct {
        Entry entry;
        AddDecision::Action action;
        std::string_view message;
        std::string log;
        Codes codes;
    } cases[] = {
        {{0, "5", "123", "6553.5", ""}, kLogged, "", "Please enter a valid home number\r\n", {}},
        {{501, "5", "123", "6553.5", ""}, kLogged, "", kAddRange, {}},
        {{-1, "12", "34", "", ""}, kLogged, "", kAddRange, {}},
        {{7, "5", "123", "6553.5", ""}, kMessage, kPllLimitText, "", {}},
        {{7, "", "", "", "6553.5"}, kMessage, kPllLimitText, "", {}},
        {{7, "12", "34", "6553.5", "-1"}, kMessage, kPllLimitText, "", {}},
        {{7, "", "", "-0.1", ""}, kMessage, kNegativeText, "", {}},
        {{7, "", "", "146.5", ""}, kMessage, kInvalidCodes, "", {}},
        {{7, "12", "", "", "abc"}, kMessage, kNotNumberText, "", {}},
        {{7, "12", "", "", "146.5"}, kMessage, kInvalidCodes, "", {}},
        {{7, "5", "123", "", ""}, kMessage, kInvalidCodes, "", {}},
        {{500, "12", "34", "", ""}, kStore, "", "", {"12", "34"}},
        {{7, "5", "7", "", ""}, kStore, "", "", {"05", "07"}},
        {{7, "", "", "", ""}, kStore, "", "", {}},
        // A PLL text is a number only when it is digits with at most one point: checked after the sign.
        {{7, "12", "34", "abc", "146.52"}, kMessage, kNotNumberText, "", {}},
        {{7, "12", "34", "146.5", "146,5"}, kMessage, kNotNumberText, "", {}},
        {{7, "", "", "146.5 MHz", ""}, kMessage, kNotNumberText, "", {}},
        {{7, "12", "34", "-abc", ""}, kMessage, kNotNumberText, "", {}},
        {{7, "12", "34", "1e9", ""}, kMessage, kPllLimitText, "", {}},
        {{7, "12", "34", ".5", "5."}, kStore, "", "", {"12", "34"}},
        {{7, "12", "34", "146.52", "0"}, kStore, "", "", {"12", "34"}},
        {{7, "123", "456", "6553.4", "6553.4"}, kStore, "", "", {"123", "456"}},
    };
    for (const auto& c : cases) {
        RecordingLog log;
        const AddDecision decision = CheckAdd(c.entry, 500, log);
        EXPECT_EQ(decision.action, c.action) << c.entry.number << " " << c.entry.pllTx;
        EXPECT_EQ(decision.message, c.message) << c.entry.number << " " << c.entry.pllTx;
        EXPECT_EQ(log.Contents(), c.log);
        EXPECT_EQ(decision.codes, c.codes);
    }
}

TEST(HomeNumberRules, WriteChecksCodesFirstThenLogsItsRefusals) {
    using enum WriteDecision::Action;
    const struct {
        Entry entry;
        WriteDecision::Action action;
        std::string_view message;
        std::string log;
        Codes codes;
    } cases[] = {
        {{0, "12", "345", "", ""}, kMessage, kInvalidCodes, "", {}},
        {{0, "", "", "6553.5", ""}, kLogged, "", "Please enter a home number\r\n", {}},
        {{7, "", "", "45.5", ""}, kLogged, "", "Please add Tx/Rx values\r\n", {}},
        // "FFF" empties both codes, so a PLL text has no codes to go with.
        {{7, "FFF", "12", "", "45.5"}, kLogged, "", "Please add Tx/Rx values\r\n", {}},
        {{7, "", "", "6553.5", ""}, kLogged, "", "Please add Tx/Rx values\r\n", {}},
        // The number's range is looked at last: nothing would be sent for it, but the PLL checks come first.
        {{501, "12", "34", "", "6553.5"}, kLogged, "", std::string(kPllLimitText), {}},
        {{7, "12", "34", "6553.5", "-5"}, kLogged, "", std::string(kPllLimitText), {}},
        {{501, "12", "34", "-5", ""}, kLogged, "", std::string(kNegativeText), {}},
        {{501, "12", "34", "\xE2\x82\xAC", ""}, kLogged, "", std::string(kNotNumberText), {}},
        {{7, "12", "34", "45.5", " 45.5"}, kLogged, "", std::string(kNotNumberText), {}},
        {{7, "12", "34", "4.5.5", ""}, kLogged, "", std::string(kNotNumberText), {}},
        {{7, "12", "34", ".", ""}, kLogged, "", std::string(kNotNumberText), {}},
        // Codes the window's edits could not hold, as a command line may give them.
        {{7, "1234", "5678", "", ""}, kMessage, kInvalidCodes, "", {}},
        {{7, "1a", "23", "", ""}, kMessage, kInvalidCodes, "", {}},
        {{501, "12", "34", "", ""}, kLogged, "", kReadRange, {}},
        {{-1, "12", "34", "", ""}, kLogged, "", kReadRange, {}},
        {{300, "5", "FFF", "", ""}, kSend, "", "", {}},
        {{7, "12", "34", "45.5", ""}, kSend, "", "", {"12", "34"}},
        {{500, "5", "7", "", ""}, kSend, "", "", {"05", "07"}},
    };
    for (const auto& c : cases) {
        RecordingLog log;
        const WriteDecision decision = CheckWrite(c.entry, 500, log);
        EXPECT_EQ(decision.action, c.action) << c.entry.number << " " << c.entry.pllTx;
        EXPECT_EQ(decision.message, c.message) << c.entry.number << " " << c.entry.pllTx;
        EXPECT_EQ(log.Contents(), c.log);
        EXPECT_EQ(decision.codes, c.codes);
    }
}

// What Write All checks of a row before it sends it: the codes as they go on the wire, then the PLL
// texts in Write's order when they go out too.
TEST(HomeNumberRules, RowRefusalNamesTheFirstFaultOfARow) {
    const struct {
        Codes codes;
        std::string_view pllTx, pllRx;
        bool withPll;
        std::optional<std::string_view> refusal;
    } cases[] = {
        {{}, "", "", true, std::nullopt},
        {{}, "146.5", "", true, std::nullopt},  // no codes with PLL values: sent as they stand
        {{"12", "34"}, "6553.4", ".5", true, std::nullopt},
        {{"123", "456"}, "", "", true, std::nullopt},
        {{"123", "4567"}, "", "", true, kInvalidCodes},
        {{"1234", "5678"}, "", "", false, kInvalidCodes},
        {{"12", "345"}, "", "", false, kInvalidCodes},
        {{"12", ""}, "", "", false, kInvalidCodes},
        {{"1", "2"}, "", "", false, kInvalidCodes},
        {{"ab", "12"}, "", "", false, kInvalidCodes},
        {{"12", "34"}, "7000", "abc", true, kPllLimitText},
        {{"12", "34"}, "6553.5", "", true, kPllLimitText},
        {{"12", "34"}, "", "-5", true, kNegativeText},
        {{"12", "34"}, "abc", "", true, kNotNumberText},
        {{"12", "34"}, "146.5", "1e9", true, kPllLimitText},
        {{"12", "34"}, "abc", "7000", false, std::nullopt},  // above home number 100 no PLL goes out
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RowRefusal(c.codes, c.pllTx, c.pllRx, c.withPll), c.refusal)
            << c.codes.tx << "/" << c.codes.rx << " " << c.pllTx << "/" << c.pllRx;
    }
}

TEST(HomeNumberRules, ReadAcceptsOnlyANumberOfTheTable) {
    const struct {
        std::int32_t number;
        bool accepted;
        std::string log;
    } cases[] = {
        // clang-format off
        {0, false, "Please enter a Channel value\r\n"}, {501, false, kReadRange}, {-1, false, kReadRange},
        {500, true, ""}, {1, true, ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        RecordingLog log;
        EXPECT_EQ(CheckReadNumber(c.number, 500, log), c.accepted) << c.number;
        EXPECT_EQ(log.Contents(), c.log);
    }
}

}  // namespace
