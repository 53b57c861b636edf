#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "sim/Faults.h"

namespace vantor::sim {
namespace {

using std::chrono::milliseconds;

FaultRule Parsed(std::string_view text) {
    FaultParse parsed = ParseFault(text);
    if (auto* why = std::get_if<std::string>(&parsed)) ADD_FAILURE() << text << ": " << *why;
    return std::get_if<FaultRule>(&parsed) ? std::get<FaultRule>(parsed) : FaultRule{};
}

constexpr std::uint32_t kEver = std::numeric_limits<std::uint32_t>::max();

struct GoodRule {
    const char* text;
    std::optional<std::uint8_t> code;
    std::optional<std::uint8_t> subCode;
    std::uint32_t first;
    std::uint32_t last;
    FaultAction action;
    std::optional<std::uint32_t> value;
    std::optional<std::uint32_t> at;
};

TEST(ParseFault, ReadsSelectorsRangesAndActions) {
    const GoodRule good[] = {
        {"35:status1", 0x35, {}, 1, kEver, FaultAction::kRefuse, {}, {}},
        {"0x3a:silence", 0x3A, {}, 1, kEver, FaultAction::kSilence, {}, {}},
        {"33/r@2:silence", 0x33, kRead, 2, 2, FaultAction::kSilence, {}, {}},
        {"33/w@3-5:code=C8", 0x33, kWrite, 3, 5, FaultAction::kCode, 0xC8, {}},
        {"*@4-:sub", {}, {}, 4, kEver, FaultAction::kSubCode, {}, {}},
        {"any/w:sub=0x07", {}, kWrite, 1, kEver, FaultAction::kSubCode, 0x07, {}},
        {"33/r@1:echo=9", 0x33, kRead, 1, 1, FaultAction::kEcho, 9, {}},
        {"38:echo=65535", 0x38, {}, 1, kEver, FaultAction::kEcho, 65535, {}},
        {"37:short", 0x37, {}, 1, kEver, FaultAction::kShort, {}, {}},
        {"37:short=2", 0x37, {}, 1, kEver, FaultAction::kShort, 2, {}},
        {"37/r:long", 0x37, kRead, 1, kEver, FaultAction::kLong, {}, {}},
        {"37/r:long=60", 0x37, kRead, 1, kEver, FaultAction::kLong, 60, {}},
        {"38:split", 0x38, {}, 1, kEver, FaultAction::kSplit, {}, {}},
        {"38:split=30,2", 0x38, {}, 1, kEver, FaultAction::kSplit, 30, 2},
        {"38@1-1:delay=700", 0x38, {}, 1, 1, FaultAction::kDelay, 700, {}},
        {"*@10:unplug", {}, {}, 10, 10, FaultAction::kUnplug, {}, {}},
    };
    for (const GoodRule& expected : good) {
        const FaultRule rule = Parsed(expected.text);
        EXPECT_EQ(rule.code, expected.code) << expected.text;
        EXPECT_EQ(rule.subCode, expected.subCode) << expected.text;
        EXPECT_EQ(rule.first, expected.first) << expected.text;
        EXPECT_EQ(rule.last, expected.last) << expected.text;
        EXPECT_EQ(rule.action, expected.action) << expected.text;
        EXPECT_EQ(rule.value, expected.value) << expected.text;
        EXPECT_EQ(rule.at, expected.at) << expected.text;
    }
}

TEST(ParseFault, SaysWhatIsWrongWithABadRule) {
    const std::pair<const char*, const char*> bad[] = {
        {"", "expected SELECTOR:ACTION"},
        {"35:", "unknown action \"\""},
        {"35:explode",
         "unknown action \"explode\" (expected status1, silence, code, sub, echo, short, long, split, delay "
         "or unplug)"},
        {"zz:silence", "bad command code \"zz\""},
        {"135:silence", "bad command code \"135\""},
        {"3D:silence", "unknown command code \"3D\" (the device's commands are 33 to 3C; * for any)"},
        {"0x32/w@2:status1", "unknown command code \"0x32\""},
        {"35/x:silence", "bad request kind \"x\" (expected w or r)"},
        {"35@0:silence", "bad occurrence \"0\""},
        {"35@5-3:silence", "bad occurrence \"5-3\" (expected N, N- or N-M with M >= N)"},
        {"35:delay", "\"delay\" needs a value, as in delay=100"},
        {"35:delay=soon", "bad value \"soon\" for delay (expected a decimal number)"},
        {"33:echo", "\"echo\" needs a value, as in echo=100"},
        {"33:echo=nine", "bad value \"nine\" for echo (expected a decimal number)"},
        {"33:echo=65536", "echo takes a home number from 0 to 65535"},
        {"35:code=100", "bad value \"100\" for code (expected a byte in hex, such as C8)"},
        {"35:silence=1", "\"silence\" takes no value"},
        {"35:short=0", "short=0 leaves no reply: use silence"},
        {"35:long=0", "long takes 1 to 4096 bytes"},
        {"35:delay=1,2", "\"delay\" takes one value"},
        {"35:split=10,0", "bad split point \"0\""},
        {"35:delay=99999999999", "bad value \"99999999999\" for delay"},
    };
    for (const auto& [text, message] : bad) {
        FaultParse parsed = ParseFault(text);
        const auto* why = std::get_if<std::string>(&parsed);
        ASSERT_NE(why, nullptr) << text;
        EXPECT_NE(why->find(message), std::string::npos) << text << " gave: " << *why;
    }
}

// Which of a run of requests a fault acts on: each fault counts only the requests its selector takes.
TEST(FaultPlan, CountsOnlyTheRequestsItsSelectorMatches) {
    FaultPlan plan({Parsed("33/r@2-3:silence")});
    const Bytes read{0x33, 0x02, 0x00, 0x01};
    const Bytes write{0x33, 0x01, 0x00, 0x01};
    const Bytes other{0x34, 0x02};
    std::vector<bool> silenced;
    for (const Bytes& request : {read, write, other, read, write, read, read, other}) {
        silenced.push_back(plan.Match(request).silence);
    }
    EXPECT_EQ(silenced, (std::vector<bool>{false, false, false, true, false, true, false, false}));
}

TEST(FaultPlan, ActsOnEveryOrOnlyTheNthOrFromTheNthOn) {
    FaultPlan plan({Parsed("35:status1"), Parsed("*@3:unplug"), Parsed("36@2-:silence")});
    const Bytes disp{0x35, 0x01, 0x02};
    const Bytes dtmf{0x36, 0x02};
    std::vector<std::tuple<bool, bool, bool>> effects;
    for (const Bytes& request : {disp, dtmf, disp, dtmf, dtmf}) {
        const FaultEffects e = plan.Match(request);
        effects.emplace_back(e.refuse, e.unplug, e.silence);
    }
    EXPECT_EQ(effects, (std::vector<std::tuple<bool, bool, bool>>{{true, false, false},
                                                                  {false, false, false},
                                                                  {true, true, false},
                                                                  {false, false, true},
                                                                  {false, false, true}}));
}

TEST(FaultPlan, SelectorWithSubCodeIgnoresAFrameTooShortToHaveOne) {
    FaultPlan plan({Parsed("35/w:silence")});
    EXPECT_FALSE(plan.Match(Bytes{0x35}).silence);
    EXPECT_TRUE(plan.Match(Bytes{0x35, 0x01, 0x01}).silence);
}

std::vector<ReplyPiece> Shaped(const Bytes& reply, std::initializer_list<const char*> actions) {
    std::vector<FaultRule> rules;
    for (const char* action : actions) rules.push_back(Parsed(std::string("*:") + action));
    FaultPlan plan(rules);
    return ShapeReply(reply, plan.Match(Bytes{0x35, 0x01, 0x02}));
}

struct Shaping {
    const char* name;
    Bytes reply;
    std::initializer_list<const char*> faults;
    std::vector<ReplyPiece> pieces;
};

TEST(ShapeReply, EditsAndTimesTheReplyAsTheFaultsSay) {
    const Bytes disp{0x35, 0x01, 0x00};
    const Bytes home{0x33, 0x01, 0x00, 0x07, 0x00};
    const Bytes fifty = [] {
        Bytes b{0x35, 0x01, 0x00};
        b.resize(50, 0x55);
        return b;
    }();
    const Shaping cases[] = {
        {"untouched", disp, {}, {{milliseconds(0), disp}}},
        {"silence", disp, {"silence"}, {}},
        {"unplug", disp, {"unplug"}, {}},
        {"status1 leaves shaping to the model", disp, {"status1"}, {{milliseconds(0), disp}}},
        {"default wrong code", disp, {"code"}, {{milliseconds(0), {0xC8, 0x01, 0x00}}}},
        {"given wrong code", disp, {"code=34"}, {{milliseconds(0), {0x34, 0x01, 0x00}}}},
        {"write answered as a read", disp, {"sub"}, {{milliseconds(0), {0x35, 0x02, 0x00}}}},
        {"read answered as a write", {0x35, 0x02, 0x01}, {"sub"}, {{milliseconds(0), {0x35, 0x01, 0x01}}}},
        {"given sub-code", disp, {"sub=7"}, {{milliseconds(0), {0x35, 0x07, 0x00}}}},
        {"echo puts the home number high byte first",
         home,
         {"echo=300"},
         {{milliseconds(0), {0x33, 0x01, 0x01, 0x2C, 0x00}}}},
        {"echo leaves a reply too short to hold a home number",
         disp,
         {"echo=300"},
         {{milliseconds(0), disp}}},
        {"echo edits a reply made long enough before it",
         disp,
         {"long=4", "echo=300"},
         {{milliseconds(0), {0x35, 0x01, 0x01, 0x2C}}}},
        {"echo finds the reply still short when long comes after it",
         disp,
         {"echo=300", "long=4"},
         {{milliseconds(0), {0x35, 0x01, 0x00, 0x55}}}},
        {"short drops the last byte", home, {"short"}, {{milliseconds(0), {0x33, 0x01, 0x00, 0x07}}}},
        {"short to one byte", home, {"short=1"}, {{milliseconds(0), {0x33}}}},
        {"short longer than the reply", disp, {"short=9"}, {{milliseconds(0), disp}}},
        {"long to fifty", disp, {"long"}, {{milliseconds(0), fifty}}},
        {"long never shortens", home, {"long=4"}, {{milliseconds(0), home}}},
        {"split in half",
         home,
         {"split"},
         {{milliseconds(0), {0x33, 0x01}}, {milliseconds(50), {0x00, 0x07, 0x00}}}},
        {"split where told",
         home,
         {"split=20,4"},
         {{milliseconds(0), {0x33, 0x01, 0x00, 0x07}}, {milliseconds(20), {0x00}}}},
        {"split past the end", disp, {"split=20,3"}, {{milliseconds(0), disp}}},
        {"delays add up", disp, {"delay=100", "delay=250"}, {{milliseconds(350), disp}}},
        {"delayed split",
         disp,
         {"delay=10", "split=30,1"},
         {{milliseconds(10), {0x35}}, {milliseconds(30), {0x01, 0x00}}}},
        {"edits in the given order",
         disp,
         {"short=2", "long=4"},
         {{milliseconds(0), {0x35, 0x01, 0x55, 0x55}}}},
        {"silence wins", disp, {"code", "silence"}, {}},
    };
    for (const Shaping& c : cases) {
        EXPECT_EQ(Shaped(c.reply, c.faults), c.pieces) << c.name;
    }
}

}  // namespace
}  // namespace vantor::sim

namespace {

using vantor::sim::ChaosPlan;

// The randomly faulty device: its option, the same faults from the same seed, its rate, and each fault
// only where a program can see it (status 1 and a wrong echo on writes, no cut or padded text reply).
TEST(ChaosTest, TheSameSeedGivesTheSameFaultsAtItsRateAndEachWhereItMeansSomething) {
    const struct {
        std::string text;
        bool taken;
    } options[] = {{"7,0.05", true}, {"0,0", true},   {"18446744073709551615,1", true}, {"7,1.5", false},
                   {"7", false},     {",0.1", false}, {"7,-0.1", false},                {"7,0.1x", false},
                   {"x,0.1", false}, {"7,", false},   {"18446744073709551616,0.1", false}};
    for (const auto& o : options) EXPECT_EQ(vantor::sim::ParseChaos(o.text).has_value(), o.taken) << o.text;

    const std::vector<std::vector<std::uint8_t>> requests{
        {0x33, 0x02, 0x00, 0x07}, {0x33, 0x01, 0x00, 0x07, '1', '2', '3', '4'}, {0x35, 0x02}, {0x35, 0x01, 0x01},
        {0x38, 0x02, 0x00, 0x07}, {0x37, 0x02}};
    const auto run = [&](double rate) {
        ChaosPlan plan({42, rate});
        std::vector<std::string> names;
        for (int i = 0; i < 10000; ++i) {
            const auto& request = requests[static_cast<std::size_t>(i) % requests.size()];
            const auto picked = plan.Pick(request);
            names.push_back(picked ? picked->name : "");
            if (!picked) continue;
            const bool write = request[1] == 1;
            if (picked->name == "status1") EXPECT_TRUE(write);
            if (picked->name == "echo") EXPECT_TRUE(write && (request[0] == 0x33 || request[0] == 0x38));
            if (picked->name == "short" || picked->name == "long") EXPECT_TRUE(request[0] != 0x37 || write);
        }
        return names;
    };
    const std::vector<std::string> once = run(0.05);
    EXPECT_EQ(run(0.05), once);
    std::map<std::string, int> counts;
    for (const std::string& name : once) ++counts[name];
    EXPECT_GT(counts[""], 9350);
    EXPECT_LT(counts[""], 9650);
    for (const char* name : {"silence", "status1", "code", "sub", "echo", "short", "long", "split", "delay", "pieces"})
        EXPECT_GT(counts[name], 0) << name;
    const std::vector<std::string> none = run(0), all = run(1);
    EXPECT_EQ(std::count(none.begin(), none.end(), ""), 10000);
    EXPECT_EQ(std::count(all.begin(), all.end(), ""), 0);
}

}  // namespace
