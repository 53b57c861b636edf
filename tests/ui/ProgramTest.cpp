// The program itself, started as a user starts it.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/ChildProcess.h"

namespace {

// A stop signal closes the window as its close box does, and the program ends normally instead of being
// killed with the port it may hold still open.
TEST(ProgramTest, StopSignalsEndItNormally) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // --no-settings: a test keeps nothing in the user's configuration folder.
        testsupport::ChildProcess program(VANTOR_PROGRAM_PATH, {"--no-settings"});
        ASSERT_TRUE(program.WaitUntilItHandles(signal)) << strsignal(signal);
        program.Signal(signal);
        EXPECT_EQ(program.Wait(), 0) << strsignal(signal) << program.AllOutput();
    }
}

}  // namespace
