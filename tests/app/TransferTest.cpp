// Write All and Read All against the simulated device: the requests it received, in order, and the log.
// Most cases end early through fault rules; one full run of each shape is enough.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using testsupport::Bytes;
using vantor::sim::DeviceState;

// Generous: only a hang runs into it.
constexpr auto kRunBound = std::chrono::seconds(120);
// The device's records lag the program's writes by the time its thread takes to read them.
constexpr auto kRecordBound = std::chrono::seconds(10);

// The in-memory window, keeping every step the transfer's progress bar showed and whether the bar was
// visible then; `onProgress` (set before a run) is called with each step, on the thread that showed it.
class ProgressControls : public MemoryDialogControls {
public:
    struct Step {
        int value;
        int maximum;
        std::string text;
        bool visible;
        bool operator==(const Step&) const = default;
    };
    void SetProgress(int id, int value, int maximum, std::string_view text) override {
        MemoryDialogControls::SetProgress(id, value, maximum, text);
        if (id != ctl::kTransferProgress) return;
        const Step step{value, maximum, std::string(text), At(id).visible};
        {
            std::lock_guard lock(m_mutex);
            m_steps.push_back(step);
        }
        if (onProgress) onProgress(step);
    }
    std::vector<Step> Steps() {
        std::lock_guard lock(m_mutex);
        return m_steps;
    }
    std::function<void(const Step&)> onProgress;

private:
    std::mutex m_mutex;
    std::vector<Step> m_steps;
};

std::uint8_t High(int value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint8_t Low(int value) { return static_cast<std::uint8_t>(value); }

// The write of a row holding the codes 123 and 456, and a PLL write (0xFFFF: no value).
Bytes RowWrite(int n) { return {0x33, 0x01, High(n), Low(n), '1', '2', '3', '4', '5', '6'}; }
Bytes PllWrite(int n, std::uint16_t tx = 0xFFFF, std::uint16_t rx = 0xFFFF) {
    return {0x38, 0x01, High(n), Low(n), High(tx), Low(tx), High(rx), Low(rx)};
}

class Transfer {
public:
    explicit Transfer(const std::vector<std::string>& faults = {}, DeviceState state = {})
        : device(std::move(state), faults) {
        dialog.OnInitDialog();
    }
    // A device behind a USB adapter with this latency timer, sending at the window's 19200 baud.
    Transfer(DeviceState state, std::chrono::milliseconds latency) : device(std::move(state), {}, 19200, latency) {
        dialog.OnInitDialog();
    }
    // Answers the question, starts the run and waits for its end.
    void Run(void (RadioConfigDialog::*start)()) {
        controls.yesNoAnswers.push_back(true);
        (dialog.*start)();
        EXPECT_TRUE(WaitUntil([&] { return !dialog.TransferRunning(); }));
    }
    template <class Condition>
    static bool WaitUntil(Condition condition, std::chrono::seconds bound = kRunBound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    bool Idle() {
        for (int id : RadioConfigDialog::BusyLockControls()) {
            if (!controls.At(id).enabled) return false;
        }
        return !dialog.WorkerRunning() && !dialog.Link().IsOpen() && !controls.At(ctl::kStop).enabled &&
               !controls.At(ctl::kTransferProgress).visible;
    }
    // What the device received, once it has at least `count` requests: the last request of a run that
    // ended early is not waited on, and may be recorded only after the run's end.
    std::vector<Bytes> RequestsOnceAtLeast(std::size_t count) {
        WaitUntil([&] { return device.Requests().size() >= count; }, kRecordBound);
        return device.Requests();
    }
    std::size_t Count(const std::string& text) {
        const std::string& log = dialog.LogContents();
        std::size_t count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return count;
    }

    testsupport::SimulatedDevice device;
    ProgressControls controls;
    RadioConfigDialog dialog{controls};
};

// Three refusals and three silences in a row: the seventh request for row 1 ends the run, which then
// says what it did not write and leaves the settings alone.
TEST(TransferTest, WriteAllGivesUpAfterSixFailuresOfARowWithoutTheSettings) {
    Transfer t({"33/w@1-3:status1", "33/w@4-:silence"});
    // Three-digit codes make the request whole by its length: the seventh, whose reply is not waited
    // for, cannot run into the first setting request that follows it at once.
    t.dialog.SetHomeNumberRow(1, "123", "456");
    t.Run(&RadioConfigDialog::OnWriteAll);
    EXPECT_EQ(t.RequestsOnceAtLeast(7),
              std::vector<Bytes>(7, Bytes{0x33, 0x01, 0x00, 0x01, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}));
    EXPECT_EQ(t.Count("Home Number: 1 Unsuccessful\r\n"), 3U);
    EXPECT_EQ(t.Count("Timed out waiting for response\r\n"), 3U);
    EXPECT_TRUE(t.dialog.LogContents().ends_with(
        "Timed out waiting for response\r\nMore than 5 errors have occurred.\r\nEnding process.\r\n"
        "Home numbers not written: 1 to 500\r\n"));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kNoAnswer);
    EXPECT_TRUE(t.Idle());
}

// The same at the last row: a run that gave up on home number 500 is not complete.
TEST(TransferTest, WriteAllThatGivesUpOnTheLastRowIsNotComplete) {
    Transfer t({"33/w@500-502:status1", "33/w@503-:silence"});
    for (int n = 1; n <= 500; ++n) t.dialog.SetHomeNumberRow(n, "123", "456");  // each write whole by its length
    t.Run(&RadioConfigDialog::OnWriteAll);
    const std::vector<Bytes> requests = t.RequestsOnceAtLeast(499 + 100 + 7);
    ASSERT_GE(requests.size(), 7U);
    EXPECT_EQ(std::vector<Bytes>(requests.end() - 7, requests.end()),
              std::vector<Bytes>(7, Bytes{0x33, 0x01, 0x01, 0xF4, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36}));
    EXPECT_TRUE(t.dialog.LogContents().ends_with(
        "More than 5 errors have occurred.\r\nEnding process.\r\nHome numbers not written: 500 to 500\r\n"));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kNoAnswer);
    EXPECT_TRUE(t.Idle());
}

// A row that cannot go as it stands is skipped, and the run, every other row and setting written, is
// still not done: the device does not hold the table.
TEST(TransferTest, WriteAllThatSkippedARowIsNotDone) {
    Transfer t;
    for (int n = 1; n <= 500; ++n) t.dialog.SetHomeNumberRow(n, n == 250 ? "1234" : "123", "456");
    t.controls.SetDlgItemText(ctl::kSerialNumberEdit, "S1");
    t.controls.SetCurSel(ctl::kDispList, 0);
    t.controls.SetCurSel(ctl::kSquelchList, 1);
    t.Run(&RadioConfigDialog::OnWriteAll);
    EXPECT_EQ(t.Count("Home Number 250 not written: Invalid Rx/Tx value\r\nHome Number: 251 Successful\r\n"), 1U);
    EXPECT_EQ(t.Count("Rows not written: 1\r\n"), 1U);
    EXPECT_EQ(t.device.State().serialNumber, DeviceState::TextField("S1", 32));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_TRUE(t.Idle());
}

// A whole run: row 1 fails once and is written again; FFF and empty rows go out as four bytes; the third
// PLL write times out and no PLL write follows it; rows the device could not be given as they stand are
// not sent, and the end of the run says so before the settings.
TEST(TransferTest, WriteAllWritesEveryRowRetryingAFailedOneAndSkippingWhatCannotGo) {
    Transfer t({"33/w@1:status1", "38/w@3:silence"});
    t.dialog.SetHomeNumberRow(1, "12", "34");
    t.dialog.SetPllColumns(1, "45.5", "");
    t.dialog.SetHomeNumberRow(2, "FFF", "34");
    t.dialog.SetHomeNumberRow(4, "1234", "5678");
    t.dialog.SetHomeNumberRow(100, "12", "34");
    t.dialog.SetPllColumns(100, "7000", "");
    t.dialog.SetHomeNumberRow(500, "12", "345");
    t.controls.SetCurSel(ctl::kDispList, 0);
    t.controls.SetCurSel(ctl::kSquelchList, 1);
    t.Run(&RadioConfigDialog::OnWriteAll);

    const Bytes row1{0x33, 0x01, 0x00, 0x01, 0x31, 0x32, 0x33, 0x34};
    std::vector<Bytes> expected{row1, row1, {0x38, 0x01, 0x00, 0x01, 0x01, 0xC7, 0xFF, 0xFF}};
    for (std::uint8_t n : {2, 3}) {
        expected.push_back({0x33, 0x01, 0x00, n});
        expected.push_back({0x38, 0x01, 0x00, n, 0xFF, 0xFF, 0xFF, 0xFF});
    }
    for (int n = 5; n < 500; ++n) {
        if (n == 100) continue;
        expected.push_back({0x33, 0x01, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    }
    // The settings, the empty texts left as the device has them.
    for (const Bytes& setting :
         std::vector<Bytes>{{0x35, 0x01, 0x01}, {0x3B, 0x01, 0x02}, {0x34, 0x01, 0x01}, {0x36, 0x01, 0x01}}) {
        expected.push_back(setting);
    }
    EXPECT_EQ(t.device.Requests(), expected);
    EXPECT_EQ(t.Count("38(PLL frequencies):\r\n Successful\r\n"), 2U);
    EXPECT_EQ(t.Count("Home Number: 499 Successful\r\n"), 1U);
    EXPECT_EQ(t.Count("Home Number 4 not written: Invalid Rx/Tx value\r\nHome Number: 5 Successful\r\n"), 1U);
    EXPECT_EQ(t.Count("Home Number 100 not written: TxPLL and RxPLL must be less than 6553.5\r\n"), 1U);
    EXPECT_EQ(t.Count("Home Number 500 not written: Invalid Rx/Tx value\r\n"
                      "PLL values not written for home numbers 3 to 100\r\nRows not written: 3\r\n"
                      "Sending 'DISP' button write request: 1\r\n"),
              1U);
    EXPECT_EQ(t.Count("Serial Number left as it is: the edit is empty\r\n"
                      "User Description left as it is: the edit is empty\r\n"),
              1U);
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_TRUE(t.Idle());
}

// Only failures in a row count: six spread over rows 1 to 6, each row written at its second request, do
// not end the run; six in a row for row 101 do, with its seventh request. Every row up to 100 has its PLL
// values written, home number 100's too. The progress bar shows row 0 before the first request, and again
// for each request of a row.
TEST(TransferTest, WriteAllEndsOnlyAfterSixFailuresInARowAndWritesPllValuesUpTo100) {
    std::vector<std::string> faults{"33/w@107-:status1"};
    for (int i = 1; i <= 11; i += 2) faults.push_back("33/w@" + std::to_string(i) + ":status1");
    Transfer t(faults);
    for (int n = 1; n <= 101; ++n) t.dialog.SetHomeNumberRow(n, "123", "456");
    t.dialog.SetPllColumns(100, "146.5", "46.5");
    t.Run(&RadioConfigDialog::OnWriteAll);

    std::vector<Bytes> expected;
    for (int n = 1; n <= 100; ++n) {
        expected.push_back(RowWrite(n));
        if (n <= 6) expected.push_back(RowWrite(n));
        expected.push_back(n == 100 ? PllWrite(100, 1465, 465) : PllWrite(n));
    }
    for (int i = 0; i < 7; ++i) expected.push_back(RowWrite(101));
    EXPECT_EQ(t.RequestsOnceAtLeast(expected.size()), expected);
    EXPECT_EQ(t.Count("Home Number: 6 Unsuccessful\r\nHome Number: 6 Successful\r\n"), 1U);
    EXPECT_EQ(t.Count("Home Number: 101 Unsuccessful\r\n"), 6U);
    EXPECT_EQ(t.Count("38(PLL frequencies):\r\n Successful\r\n"), 100U);
    EXPECT_TRUE(t.dialog.LogContents().ends_with(
        "Home Number: 101 Unsuccessful\r\nMore than 5 errors have occurred.\r\nEnding process.\r\n"
        "Home numbers not written: 101 to 500\r\n"));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_EQ(t.device.State().pll[99], (vantor::sim::PllValues{1465, 465}));

    // Reset before it is shown, then the rows done before each request.
    std::vector<ProgressControls::Step> shown{{0, 500, "", false}};
    const auto row = [&](int done) { shown.push_back({done, 500, std::to_string(done) + " of 500", true}); };
    for (int done = 0; done < 100; ++done) {
        row(done);
        if (done < 6) row(done);
    }
    for (int i = 0; i < 7; ++i) row(100);
    EXPECT_EQ(t.controls.Steps(), shown);
    EXPECT_TRUE(t.Idle());
}

// Failures count over the whole run; the request after the sixth ends it, here a PLL read, and the
// settings are not read. The first reply names home number 9: row 9 is the one it fills, and row 1 is
// asked again as a failure.
TEST(TransferTest, ReadAllEndsAfterSixFailuresSpreadOverTheRunAndAsksAgainForARowAnotherReplyNamed) {
    DeviceState state;
    state.homeNumbers[0] = {"12", "34"};
    std::vector<std::string> faults{"33/r@1:echo=9"};
    for (int i = 2; i <= 12; i += 2) faults.push_back("33/r@" + std::to_string(i) + ":silence");
    Transfer t(faults, state);
    t.Run(&RadioConfigDialog::OnReadAll);

    const std::vector<Bytes> requests = t.RequestsOnceAtLeast(20);
    std::vector<Bytes> homeReads, pllReads;
    for (const Bytes& request : requests) {
        if (request.size() == 4 && request[0] == 0x33) homeReads.push_back(request);
        if (request.size() == 4 && request[0] == 0x38) pllReads.push_back(request);
    }
    EXPECT_EQ(homeReads.size(), 10U);
    EXPECT_EQ(homeReads.back(), (Bytes{0x33, 0x02, 0x00, 0x05}));
    EXPECT_EQ(requests.back(), (Bytes{0x38, 0x02, 0x00, 0x05}));  // the request that ended it
    EXPECT_EQ(pllReads.size(), 10U);
    EXPECT_EQ(t.Count("Home Number: 9 Tx: 12 Rx: 34\r\n"), 1U);
    EXPECT_EQ(t.Count("Home Number: 1 Tx: 12 Rx: 34\r\n"), 1U);
    EXPECT_TRUE(t.dialog.LogContents().ends_with(
        "More than 5 errors have occurred.\r\nEnding process.\r\nHome numbers not read: 5 to 500\r\n"));
    EXPECT_EQ(t.controls.rows[8], (std::vector<std::string>{"9", "12", "34", "", ""}));
    EXPECT_EQ(t.controls.rows[0], (std::vector<std::string>{"1", "12", "34", "", ""}));
    EXPECT_EQ(t.controls.rows[1], (std::vector<std::string>{"2", "", "", "", ""}));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kNoAnswer);
    EXPECT_TRUE(t.Idle());
}

// A whole run whose third PLL read times out: the rows all come in, the PLL cells from row 3 on stay
// empty, and the run says so before the settings and counts as a failure.
TEST(TransferTest, ReadAllReadsEveryRowAndSaysWhichPllValuesItDidNotRead) {
    DeviceState state;
    state.homeNumbers[0] = {"12", "34"};
    state.homeNumbers[99] = {"123", "456"};
    state.homeNumbers[499] = {"98", "76"};
    state.pll[0] = {455, vantor::sim::kNoPll};
    state.pll[99] = {1465, 4000};
    Transfer t({"38/r@3:silence"}, state);
    t.Run(&RadioConfigDialog::OnReadAll);

    EXPECT_EQ(t.controls.rows[0], (std::vector<std::string>{"1", "12", "34", "45.5", ""}));
    EXPECT_EQ(t.controls.rows[99], (std::vector<std::string>{"100", "123", "456", "", ""}));
    EXPECT_EQ(t.controls.rows[499], (std::vector<std::string>{"500", "98", "76", "", ""}));
    EXPECT_EQ(t.Count("Home Number: 500 Tx: 98 Rx: 76\r\nPLL values not read for home numbers 3 to 100\r\n"
                      "Sending Wide Band Read request:\r\n"),
              1U);
    EXPECT_EQ(t.device.Requests().back(), (Bytes{0x36, 0x02}));  // DTMF Delay Get, the last setting
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_TRUE(t.Idle());
}

// Behind a USB adapter with the common 16 ms timer, at 19200 baud: the replies come in pieces wherever
// the ticks fall, and every row, PLL value and setting is read as the device holds it.
TEST(TransferTest, ReadAllBehindAUsbAdapterReadsTheDeviceWhole) {
    DeviceState state;
    std::vector<std::vector<std::string>> expected;
    for (int i = 0; i < 500; ++i) {
        char code[8];
        vantor::sim::HomeNumberCodes& codes = state.homeNumbers[i];
        if (i % 3 == 0) {
            std::snprintf(code, sizeof code, "%03d", (i * 7) % 1000);
            codes = {code, std::string(code).substr(1) + "9"};
        } else if (i % 3 == 1) {  // home number 500 among them: an 8-byte reply, last of all
            std::snprintf(code, sizeof code, "%02d", i % 100);
            codes = {code, "99"};
        }
        std::string pllTx, pllRx;
        if (i < 100) {
            state.pll[i] = {static_cast<std::uint16_t>(1000 + i),
                            i % 2 ? vantor::sim::kNoPll : static_cast<std::uint16_t>(65000 + i)};
            pllTx = std::to_string(100 + i / 10) + "." + std::to_string(i % 10);
            if (i % 2 == 0) pllRx = std::to_string(6500 + i / 10) + "." + std::to_string(i % 10);
        }
        expected.push_back({std::to_string(i + 1), codes.tx, codes.rx, pllTx, pllRx});
    }
    state.serialNumber = DeviceState::TextField("ADAPTER-16MS", 32);
    state.dtmfDelay = 9;
    Transfer t(std::move(state), std::chrono::milliseconds(16));
    t.Run(&RadioConfigDialog::OnReadAll);

    for (int i = 0; i < 500; ++i) EXPECT_EQ(t.controls.rows[i], expected[i]) << "row " << i;
    EXPECT_EQ(t.controls.At(ctl::kSerialNumberEdit).text, "ADAPTER-16MS");
    EXPECT_EQ(t.controls.At(ctl::kDtmfDelayEdit).text, "9");
    EXPECT_EQ(t.Count("Unrecognized"), 0U);
    EXPECT_EQ(t.Count("Unexpected"), 0U);
    EXPECT_EQ(t.Count("Timed out"), 0U);
    EXPECT_TRUE(t.dialog.TransferOutcome().Done());
    EXPECT_TRUE(t.Idle());
}

// A whole run whose first request timed out and was sent again: every row and PLL value went through, so
// once the rows are over the run counts as done. A stop asked for while the settings run ends the run
// before the next setting.
TEST(TransferTest, WriteAllThatWentThroughIsDoneAndAStopDuringTheSettingsEndsThem) {
    Transfer t({"33/w@1:silence"});
    for (int n = 1; n <= 500; ++n) t.dialog.SetHomeNumberRow(n, "123", "456");
    t.controls.SetCurSel(ctl::kDispList, 0);
    t.controls.SetCurSel(ctl::kSquelchList, 1);
    int settingsShown = 0;
    t.controls.onProgress = [&](const ProgressControls::Step& step) {
        if (step.text != "Settings") return;
        if (++settingsShown == 2) t.dialog.OnStop();  // the first setting has been written
    };
    t.Run(&RadioConfigDialog::OnWriteAll);

    std::vector<Bytes> expected{RowWrite(1)};
    for (int n = 1; n <= 500; ++n) {
        expected.push_back(RowWrite(n));
        if (n <= 100) expected.push_back(PllWrite(n));
    }
    expected.push_back({0x35, 0x01, 0x01});  // 'DISP' button
    EXPECT_EQ(t.device.Requests(), expected);
    EXPECT_EQ(t.Count("Timed out waiting for response\r\n"), 1U);
    // The retried row counts no more once every row went through, nor does the stop.
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kDone);
    EXPECT_EQ(t.Count("Home Number: 500 Successful\r\nSending 'DISP' button write request: 1\r\n"), 1U);
    EXPECT_TRUE(t.dialog.LogContents().ends_with("'DISP' button Write Successful\r\nWrite All stopped\r\n"));
    EXPECT_EQ(settingsShown, 2);
    const std::vector<ProgressControls::Step> steps = t.controls.Steps();
    ASSERT_GE(steps.size(), 3U);
    EXPECT_EQ(
        std::vector(steps.end() - 3, steps.end()),
        (std::vector<ProgressControls::Step>{
            {499, 500, "499 of 500", true}, {500, 500, "Settings", true}, {500, 500, "Settings", true}}));
    EXPECT_TRUE(t.Idle());
}

TEST(TransferTest, NoToEitherQuestionSendsNothingAndLeavesTheLockOff) {
    Transfer t;
    t.dialog.OnWriteAll();
    t.dialog.OnReadAll();
    ASSERT_EQ(t.controls.messages.size(), 2U);
    EXPECT_EQ(t.controls.messages[0].caption, "Overwrite Warning");
    EXPECT_EQ(
        t.controls.messages[0].text,
        "This will replace all Home Numbers on the device\r\nwith the current table.  Do you wish to\r\n"
        "continue?");
    EXPECT_EQ(t.controls.messages[1].caption, "Read All Notice");
    EXPECT_EQ(t.controls.messages[1].text,
              "This will delete your current table.\r\nDo you wish to continue?");
    EXPECT_FALSE(t.dialog.TransferRunning());
    EXPECT_TRUE(t.device.Requests().empty());
    EXPECT_TRUE(t.Idle());
}

// Stop ends a run before its next request, without the settings; closing asks first, and on Yes stops
// the run; once the worker has ended, the rows Read All brought in are unsaved, and the window asks
// about them before it closes.
TEST(TransferTest, StopAndCloseEndARunBeforeItsNextRequest) {
    for (const bool closing : {false, true}) {
        Transfer t;
        // start, No and Yes to closing, then No to losing the rows read
        t.controls.yesNoAnswers = {true, false, true, false};
        (t.dialog.*(closing ? &RadioConfigDialog::OnReadAll : &RadioConfigDialog::OnWriteAll))();
        ASSERT_TRUE(Transfer::WaitUntil([&] { return t.device.Requests().size() >= 10; }));
        if (closing) {
            t.dialog.OnCancel();
            EXPECT_TRUE(t.dialog.TransferRunning());
            EXPECT_FALSE(t.controls.endResult);
            t.dialog.OnCancel();  // the worker may ask its own question at once: read the messages after it
        } else {
            t.dialog.OnStop();
        }
        ASSERT_TRUE(Transfer::WaitUntil([&] { return !t.dialog.TransferRunning(); }));
        const std::string& log = t.dialog.LogContents();
        const std::string stopped = closing ? "Read All stopped\r\nHome numbers not read: "
                                            : "Write All stopped\r\nHome numbers not written: ";
        const auto at = log.rfind(stopped);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_TRUE(log.ends_with(" to 500\r\n")) << log.substr(at);
        EXPECT_EQ(log.find("\r\n", at + stopped.size()), log.size() - 2) << "one line after the stop";
        const std::vector<Bytes> requests = t.device.Requests();
        EXPECT_LT(requests.size(), 50U);
        EXPECT_TRUE(requests.back()[0] == 0x33 || requests.back()[0] == 0x38) << "a setting was exchanged";
        EXPECT_TRUE(t.Idle());
        EXPECT_EQ(t.controls.endResult, std::nullopt);
        if (closing) {
            const auto& messages = t.controls.messages;
            ASSERT_GE(messages.size(), 2U);
            EXPECT_EQ(messages[messages.size() - 2].text,
                      "A transfer is running. Stop it and close the window?");
            EXPECT_EQ(messages.back().text, "The table has changes that are not saved. Close anyway?");
            t.controls.yesNoAnswers = {true};
            t.dialog.OnCancel();
            EXPECT_EQ(t.controls.endResult, std::optional<int>(ctl::kIdCancel));
        }
    }
}

// A run takes the port, the speed and the settings once, as it starts: what the operator changes in the
// window afterwards does not reach it. Its thread never calls the window's controls (each call would
// wait for the window's thread); what it shows, Read All's settings included, it hands over.
TEST(TransferTest, ARunTakesWhatItNeedsAtItsStartAndNeverWaitsOnTheWindow) {
    DeviceState state;
    state.serialNumber = DeviceState::TextField("DEVICE-7", 32);
    state.disp = 2;
    for (const auto start : {&RadioConfigDialog::OnWriteAll, &RadioConfigDialog::OnVerify, &RadioConfigDialog::OnReadAll}) {
        Transfer t({}, state);
        t.dialog.SetHomeNumberRow(500, "123", "456");
        t.controls.SetDlgItemText(ctl::kSerialNumberEdit, "TAKEN-1");
        t.controls.SetCurSel(ctl::kDispList, 0);
        t.controls.SetCurSel(ctl::kSquelchList, 1);
        t.controls.yesNoAnswers.push_back(true);
        (t.dialog.*start)();
        t.controls.SetDlgItemText(ctl::kSerialPortEdit, "9");
        t.controls.SetDlgItemText(ctl::kBaudEdit, "300");
        t.controls.SetCurSel(ctl::kDispList, -1);
        if (start != &RadioConfigDialog::OnReadAll) t.controls.SetDlgItemText(ctl::kSerialNumberEdit, "CHANGED");
        ASSERT_TRUE(Transfer::WaitUntil([&] { return !t.dialog.TransferRunning(); }));

        EXPECT_EQ(t.Count("Open com port failed"), 0U);
        EXPECT_EQ(t.controls.CallsFromOtherThreads(), 0);
        if (start == &RadioConfigDialog::OnWriteAll) {
            EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kDone);
            EXPECT_EQ(t.device.State().serialNumber, DeviceState::TextField("TAKEN-1", 32));
            EXPECT_EQ(t.device.State().disp, 1);
        } else if (start == &RadioConfigDialog::OnVerify) {
            // The table and the settings as they were at the start, against the unchanged device.
            EXPECT_EQ(t.Count("Serial Number: table TAKEN-1, device DEVICE-7\r\n"), 1U);
        } else {
            EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kDone);
            EXPECT_EQ(t.controls.At(ctl::kSerialNumberEdit).text, "DEVICE-7");
            EXPECT_EQ(t.controls.At(ctl::kDispList).current, 1);
        }
        EXPECT_TRUE(t.Idle());
    }
}

// A Read All is one step of the table's history; a Verify marks the rows the device holds otherwise, until
// the table next changes.
TEST(TransferTest, ReadAllUndoesAsOneStepAndVerifyMarksTheRowsThatDiffer) {
    DeviceState state;
    state.homeNumbers[6] = {"12", "34"};
    state.homeNumbers[99] = {"123", "456"};
    state.pll[99] = {1465, vantor::sim::kNoPll};
    state.homeNumbers[499] = {"98", "76"};
    Transfer t({}, state);
    t.dialog.SetHomeNumberRow(1, "55", "66");
    t.Run(&RadioConfigDialog::OnReadAll);
    EXPECT_EQ(t.controls.rows[99], (std::vector<std::string>{"100", "123", "456", "146.5", ""}));
    EXPECT_TRUE(t.dialog.TableChanged());
    t.dialog.OnUndo();
    EXPECT_EQ(t.controls.rows[0], (std::vector<std::string>{"1", "55", "66", "", ""}));
    EXPECT_EQ(t.controls.rows[99], (std::vector<std::string>{"100", "", "", "", ""}));
    EXPECT_FALSE(t.dialog.TableChanged());

    t.dialog.SetPllColumns(100, "", "12.5");
    t.Run(&RadioConfigDialog::OnVerify);
    EXPECT_EQ(t.controls.markedRows, (std::vector<int>{0, 6, 99, 499}));
    EXPECT_TRUE(t.dialog.OnCellEdited(0, table::kTxColumn, "56"));
    EXPECT_TRUE(t.controls.markedRows.empty());
    EXPECT_TRUE(t.Idle());
}

TEST(TransferTest, ARunWhoseThreadCannotStartReleasesTheLock) {
    Transfer t;
    t.dialog.SetThreadStart([](std::function<void()>) { return std::optional<std::thread>(); });
    t.controls.yesNoAnswers = {true};
    t.dialog.OnWriteAll();
    EXPECT_EQ(t.dialog.LogContents(),
              "The transfer could not be started: the system has no thread to give it\r\n");
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_FALSE(t.dialog.TransferRunning());
    EXPECT_TRUE(t.device.Requests().empty());
    EXPECT_TRUE(t.Idle());
}

}  // namespace

namespace {

// Verify runs as a transfer without a question; it leaves the device, the table and its unsaved mark
// alone, and ends with its verdict. The window's settings count as Write All would send them.
TEST(TransferTest, VerifyAsksNothingAndChangesNothing) {
    DeviceState state;
    state.homeNumbers[0] = {"12", "34"};
    Transfer t({}, state);
    t.dialog.SetHomeNumberRow(1, "12", "35");
    t.dialog.OnVerify();
    EXPECT_TRUE(Transfer::WaitUntil([&] { return !t.dialog.TransferRunning(); }));
    EXPECT_TRUE(t.dialog.LogContents().ends_with(
        "Home Number 1: table 12/35, device 12/34\r\nDISP: table none, device NONE\r\n"
        "SQUELCH: table none, device NONE\r\nDTMF Delay: table 1, device 5\r\nVerify: 4 differences\r\n"));
    EXPECT_EQ(t.dialog.TransferOutcome().kind, Outcome::Kind::kRefused);
    EXPECT_EQ(t.device.State(), state);
    EXPECT_EQ(t.dialog.Table().Row(0).rx, "35");
    EXPECT_FALSE(t.dialog.TableChanged());
    EXPECT_TRUE(t.Idle());
}

}  // namespace
