#include "device/SerialNumbers.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class SerialNumbersTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/vantor-serials-XXXXXX";
        dir = mkdtemp(dirTemplate);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string State() const { return (dir / "record.csv.serials").string(); }
    std::string StateText() const {
        std::ifstream in(State());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path dir;
};

TEST_F(SerialNumbersTest, ATemplateCountsAndAListIsUsedOnceEachWithTheRefusalsSaid) {
    const struct {
        const char* name;
        std::string templateText;  // empty: the list
        std::string list;
        std::uint64_t first;
        std::vector<std::string> taken;  // then a refusal, if `refusal` is set
        std::string refusal;
    } cases[] = {
        {"a counter of six digits", "VX-{n:06}", "", 1200, {"VX-001200", "VX-001201", "VX-001202"}, ""},
        {"a counter past its width", "A{n:02}B", "", 98, {"A98B", "A99B", "A100B"}, ""},
        {"a plain counter", "{n}", "", 0, {"0", "1"}, ""},
        {"a counter that grows past 32 bytes", std::string(28, 'x') + "{n}", "", 9998, {std::string(28, 'x') + "9998", std::string(28, 'x') + "9999"},
         "'" + std::string(28, 'x') + "10000' is longer than the serial number's 32 bytes"},
        {"a list, used up", "", "S-1\r\n\r\nS-2\n", 0, {"S-1", "S-2"}, "every serial number of the list has been handed out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(State());
        Reading<SerialNumbers> numbers = c.templateText.empty() ? SerialNumbers::FromList(c.list, State(), 32)
                                                                : SerialNumbers::FromTemplate(c.templateText, c.first, State(), 32);
        ASSERT_TRUE(numbers.value) << numbers.outcome.reason;
        for (const std::string& expected : c.taken) EXPECT_EQ(numbers.value->Take().value.value_or("none"), expected);
        const Reading<std::string> last = numbers.value->Take();
        EXPECT_EQ(last.outcome.reason, c.refusal);
        if (!c.refusal.empty()) {
            EXPECT_EQ(last.outcome.kind, Outcome::Kind::kInputRejected);
        }
    }
    const struct {
        std::string templateText, list, refusal;
    } refused[] = {
        {"VX-", "", "a serial number template holds {n} or {n:0W} once, such as VX-{n:06}"},
        {"{n}-{n}", "", "a serial number template holds {n} or {n:0W} once, such as VX-{n:06}"},
        {"VX-{n:6}", "", "'{n:6}' is not {n} or {n:0W} with W from 1 to 20"},
        {"VX-{n:021}", "", "'{n:021}' is not {n} or {n:0W} with W from 1 to 20"},
        // The template names the series on a line of the state file: a line end would break it.
        {"VX-\n{n}", "", "a serial number template holds no control characters (line ends, tabs)"},
        {"VX-{n}\r", "", "a serial number template holds no control characters (line ends, tabs)"},
        {std::string(30, 'y') + "{n:03}", "", "'" + std::string(30, 'y') + "001' is longer than the serial number's 32 bytes"},
        {"", "A\nB\nA\n", "line 3: 'A' is listed twice"},
        {"", "A\n" + std::string(33, 'z') + "\n", "line 2: '" + std::string(33, 'z') + "' is longer than the serial number's 32 bytes"},
        {"", "\r\n", "the list holds no serial number"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.templateText + r.list);
        const Reading<SerialNumbers> numbers = r.templateText.empty() ? SerialNumbers::FromList(r.list, State(), 32)
                                                                      : SerialNumbers::FromTemplate(r.templateText, 1, State(), 32);
        EXPECT_FALSE(numbers.value);
        EXPECT_EQ(numbers.outcome.reason, r.refusal);
    }
}

// A number given back goes to the next unit first; the state file keeps the series, so another series
// never continues it.
TEST_F(SerialNumbersTest, ANumberGivenBackComesFirstAndAStateServesOneSeries) {
    Reading<SerialNumbers> numbers = SerialNumbers::FromTemplate("VX-{n:04}", 7, State(), 32);
    ASSERT_TRUE(numbers.value);
    EXPECT_EQ(numbers.value->Take().value, "VX-0007");
    EXPECT_EQ(numbers.value->Take().value, "VX-0008");
    EXPECT_TRUE(numbers.value->GiveBack("VX-0007").Done());
    EXPECT_EQ(StateText(), "series template VX-{n:04}\nnext 9\nback 7\n");
    EXPECT_FALSE(numbers.value->GiveBack("VX-0100").Done());  // never taken here
    // Another bench, started later with another --first, continues the series where it stands.
    Reading<SerialNumbers> later = SerialNumbers::FromTemplate("VX-{n:04}", 1, State(), 32);
    EXPECT_EQ(later.value->Take().value, "VX-0007");
    EXPECT_EQ(later.value->Take().value, "VX-0009");
    Reading<SerialNumbers> other = SerialNumbers::FromTemplate("QQ-{n}", 1, State(), 32);
    EXPECT_EQ(other.value->Take().outcome.reason, State() + " belongs to another series (template VX-{n:04})");
    std::ofstream(State()) << "next many\n";
    EXPECT_EQ(later.value->Take().outcome.reason, State() + " is not a serial number state file");
}

// Two processes taking numbers from one state at once never take the same one, and skip none.
TEST_F(SerialNumbersTest, TwoProcessesAtOnceNeverTakeOneNumberTwice) {
    constexpr int kEach = 60;
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        const std::string out = (dir / ("taken-" + std::to_string(child))).string();
        const pid_t pid = fork();
        if (pid == 0) {
            {
                Reading<SerialNumbers> numbers = SerialNumbers::FromTemplate("U{n}", 1, State(), 32);
                std::ofstream taken(out);
                for (int i = 0; i < kEach && numbers.value; ++i) {
                    taken << numbers.value->Take().value.value_or("none") << "\n";
                }
            }  // written out before the child ends, which runs no destructor
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) waitpid(pid, nullptr, 0);
    std::set<std::string> all;
    for (int child = 0; child < 2; ++child) {
        std::ifstream in(dir / ("taken-" + std::to_string(child)));
        for (std::string line; std::getline(in, line);) EXPECT_TRUE(all.insert(line).second) << line << " twice";
    }
    std::set<std::string> expected;
    for (int n = 1; n <= 2 * kEach; ++n) expected.insert("U" + std::to_string(n));
    EXPECT_EQ(all, expected);
}

}  // namespace
