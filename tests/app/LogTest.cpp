// The log console's operations: exact text, the scroll rule, pauses and concurrent use.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { controls.realSleep = false; }
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
};

TEST_F(LogTest, AppendsExactTexts) {
    dialog.LogText("Sending 'DISP' button write request: ");
    dialog.LogNumber(2);
    dialog.LogText("\r\n");
    dialog.LogText("100% done, %s %d\r\n");
    dialog.LogNumber(-1);
    dialog.LogNumber(500);
    dialog.LogNumber(INT32_MIN);
    const std::array<std::uint8_t, 4> bytes{0x33, 0x02, 0xFF, 0x80};
    dialog.LogHex(bytes, 4);
    const std::string expected =
        "Sending 'DISP' button write request: 2\r\n100% done, %s %d\r\n-1500-21474836483302ff80";
    EXPECT_EQ(dialog.LogContents(), expected);
    EXPECT_EQ(controls.console, expected);
}

TEST_F(LogTest, EmptyStringAppendsNothingButEmptyTextClears) {
    dialog.LogText("first\r\n");
    dialog.LogString("");
    EXPECT_EQ(dialog.LogContents(), "first\r\n");
    dialog.LogString("AB12");
    EXPECT_EQ(dialog.LogContents(), "first\r\nAB12");
    dialog.LogText("");
    EXPECT_EQ(dialog.LogContents(), "");
    EXPECT_EQ(controls.console, "");
    EXPECT_EQ(controls.consoleFirstLine, 0);
}

TEST_F(LogTest, TextEndsAtItsFirstZeroByte) {
    dialog.LogText(std::string_view("AB\0CD", 5));
    EXPECT_EQ(dialog.LogContents(), "AB");
    dialog.LogText(std::string_view("\0CD", 3));  // nothing before the zero: a clear
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(LogTest, HexTakesOnlyTheCountAskedFor) {
    const std::array<std::uint8_t, 3> bytes{0x0A, 0x00, 0xFF};
    dialog.LogHex(bytes, 0);
    dialog.LogHex(bytes, -5);
    EXPECT_EQ(dialog.LogContents(), "");
    dialog.LogHex(bytes, 2);
    dialog.LogHex(bytes, 99);  // never past the bytes given
    EXPECT_EQ(dialog.LogContents(), "0a000a00ff");
}

TEST_F(LogTest, PauseSleepsAHundredMillisecondsAndHexNeverPauses) {
    const std::array<std::uint8_t, 1> byte{0x01};
    dialog.LogText("a", false);
    dialog.LogNumber(1, false);
    dialog.LogString("b", false);
    dialog.LogHex(byte, 1);
    EXPECT_EQ(controls.slept.count(), 0);
    dialog.LogText("a", true);
    dialog.LogNumber(1, true);
    dialog.LogString("b", true);
    EXPECT_EQ(controls.slept.count(), 300);
    dialog.LogText("", true);
    EXPECT_EQ(controls.slept.count(), 400);
}

TEST_F(LogTest, ViewStaysAtTheTopUpToFiveLinesThenStartsAtLineNMinusFive) {
    dialog.LogText("one\r\ntwo\r\n");  // n = 3
    EXPECT_EQ(controls.consoleFirstLine, 0);
    dialog.LogText("three\r\nfour\r\n");  // n = 5
    EXPECT_EQ(controls.consoleFirstLine, 0);
    dialog.LogText("five\r\n");  // n = 6
    EXPECT_EQ(controls.consoleFirstLine, 1);
    dialog.LogText("");
    for (int i = 0; i < 20; ++i) dialog.LogText("line\r\n");  // n = 21
    EXPECT_EQ(dialog.LogLineCount(), 21);
    EXPECT_EQ(controls.consoleFirstLine, 16);
}

TEST_F(LogTest, LineEndSplitAcrossTwoAppendsStillCounts) {
    for (int i = 0; i < 6; ++i) {
        dialog.LogText("x\r");
        dialog.LogText("\n");
    }
    EXPECT_EQ(dialog.LogLineCount(), 7);
    EXPECT_EQ(controls.consoleFirstLine, 2);
    dialog.LogText("\r");
    dialog.LogText("y");  // a lone CR ends no line
    EXPECT_EQ(dialog.LogLineCount(), 7);
}

// A clear asked for while a worker's append is under way waits for the whole append and its refresh: the
// worker is held inside its append, between adding the text and refreshing the view, until the clear
// has had every chance to cut in.
TEST(LogUnitTest, AClearNeverCutsIntoAnAppend) {
    class HeldAppend : public MemoryDialogControls {
    public:
        std::promise<void> appending;
        std::shared_future<void> release;  // set: the next append is held until it is ready
        std::atomic<int> clears{0};
        void AppendConsole(std::string_view text) override {
            MemoryDialogControls::AppendConsole(text);
            if (!release.valid()) return;
            appending.set_value();
            release.wait();
        }
        void ClearConsole() override {
            ++clears;
            MemoryDialogControls::ClearConsole();
        }
    } controls;
    controls.realSleep = false;
    RadioConfigDialog dialog(controls);
    dialog.LogText("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n");

    std::promise<void> release;
    controls.release = release.get_future().share();
    std::future<void> appended = controls.appending.get_future();
    std::thread worker([&] { dialog.LogText("six\r\n"); });
    appended.wait();
    std::atomic<bool> clearAsked{false};
    std::thread clearer([&] {
        clearAsked = true;
        dialog.OnClearScreen();
    });
    while (!clearAsked) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(controls.clears, 0) << "the clear ran inside the append";
    EXPECT_EQ(controls.console, "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\n");
    release.set_value();
    worker.join();
    clearer.join();

    EXPECT_EQ(controls.clears, 1);
    EXPECT_EQ(dialog.LogContents(), "");
    EXPECT_EQ(controls.console, "");
    EXPECT_EQ(dialog.LogLineCount(), 1);
    EXPECT_EQ(controls.consoleFirstLine, 0);
}

}  // namespace
