// The log console's operations: exact text, the scroll rule, pauses and concurrent use.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
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

// A worker appends whole lines while the window's thread clears. Each append and each clear is one unit,
// so the console always equals the log, every surviving line is whole and the line count stays true.
TEST_F(LogTest, AppendsRacingClearsNeverTearALine) {
    constexpr int kLines = 4000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) dialog.LogText("row " + std::to_string(i) + " done\r\n");
        done = true;
    });
    int clears = 0;
    while (!done) {
        dialog.OnClearScreen();
        ++clears;
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_GT(clears, 0);
    const std::string& log = dialog.LogContents();
    EXPECT_EQ(controls.console, log);
    // The last clear may come after the last append.
    EXPECT_TRUE(log.empty() || log.ends_with("row " + std::to_string(kLines - 1) + " done\r\n"));
    std::size_t lines = 0;
    for (std::size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = log.substr(start, end - start);
        ASSERT_TRUE(line.starts_with("row ") && line.ends_with(" done")) << line;
        ++lines;
    }
    EXPECT_EQ(dialog.LogLineCount(), static_cast<int>(lines) + 1);
}

}  // namespace
