// The outcome every layer below the windows reports: the worse kind wins, and the first failure of that
// kind keeps its words, path and error number.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Outcome.h"

namespace {

using Kind = Outcome::Kind;

TEST(OutcomeTest, TheWorseKindWinsAndTheFirstOfItKeepsItsDetails) {
    const Outcome portFailed = Outcome::Failed(Kind::kPortFailed, "/dev/ttyUSB0: no such device", "/dev/ttyUSB0", 2);
    struct Case {
        std::vector<Outcome> noted;
        Outcome expected;
    };
    const std::vector<Case> cases{
        {{}, {}},
        {{Outcome{}}, {}},
        {{Outcome::Failed(Kind::kRefused, "first"), Outcome::Failed(Kind::kRefused, "second")},
         Outcome::Failed(Kind::kRefused, "first")},
        {{Outcome::Failed(Kind::kRefused, "refused"), Outcome::Failed(Kind::kNoAnswer, "no reply")},
         Outcome::Failed(Kind::kNoAnswer, "no reply")},
        {{portFailed, Outcome::Failed(Kind::kNoAnswer, "no reply"), Outcome{}}, portFailed},
        {{Outcome::Failed(Kind::kPortInUse, "in use"), portFailed}, portFailed},
        {{Outcome::Failed(Kind::kFileFailed, "full", "/tmp/t.txt", 28), portFailed},
         Outcome::Failed(Kind::kFileFailed, "full", "/tmp/t.txt", 28)},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Outcome outcome;
        for (const Outcome& noted : cases[i].noted) outcome.Note(noted);
        EXPECT_EQ(outcome.kind, cases[i].expected.kind) << i;
        EXPECT_EQ(outcome.reason, cases[i].expected.reason) << i;
        EXPECT_EQ(outcome.path, cases[i].expected.path) << i;
        EXPECT_EQ(outcome.error, cases[i].expected.error) << i;
        EXPECT_EQ(outcome.Done(), cases[i].expected.kind == Kind::kDone) << i;
    }
    // A kind noted without details drops those of the better kind it replaces.
    Outcome outcome = Outcome::Failed(Kind::kRefused, "refused", "/dev/ttyS0", 5);
    outcome.Note(Kind::kNoAnswer);
    EXPECT_EQ(outcome.kind, Kind::kNoAnswer);
    EXPECT_EQ(outcome.reason, "");
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(outcome.error, 0);
    EXPECT_TRUE(Outcome::Failed(Kind::kPortInUse, "").PortFailed());
    EXPECT_TRUE(portFailed.PortFailed());
    EXPECT_FALSE(Outcome::Failed(Kind::kNoAnswer, "").PortFailed());
}

}  // namespace
