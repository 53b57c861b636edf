#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tablefile/TableFile.h"
#include "tests/tablefile/TestSupport.h"

namespace {

using namespace tablefile;
using Calls = std::vector<std::string>;

// The calls, then where the loading stopped when it did not read the whole file.
Calls Read(std::string_view file) {
    test::RecordingTarget target;
    const LoadResult result = ReadTableFile(file, target);
    if (!result.Whole())
        target.m_calls.push_back("stop " + std::to_string(result.stopLine) + ": " + result.stopReason);
    return target.m_calls;
}

TEST(TableFileReader, EdgeCases) {
    const std::string u38(38, 'u');
    const struct {
        const char* name;
        std::string file;
        Calls calls;
    } cases[] = {
        // clang-format off
        {"empty file", "", {}},
        {"keys inside tokens, unknown tokens skipped", "x 5 xWideBand:y 0", {"wide 0"}},
        {"first key in the test order acts", "SerialNumber:WideBand: 1\r\n", {"serial 1"}},
        {"every occurrence acts", "WideBand: 1\r\nWideBand: 0\r\n", {"wide 1", "wide 0"}},
        {"wide band: any non-zero enables", "WideBand: 5 WideBand: -1", {"wide 1", "wide 1"}},
        {"squelch and disp: only 1 and 2 select",
         "'SQUELCH': 0 'SQUELCH': 3 'SQUELCH': 2 'DISP': -1 'DISP': 1",
         {"squelch 1", "disp 0"}},
        {"radio mfg: 0 or less clears, above 2 keeps",
         "RadioMfg: 0 RadioMfg: -2147483648 RadioMfg: 3 RadioMfg: 2",
         {"mfg -1", "mfg -1", "mfg 1"}},
        {"no range on the edits", "DTMFDelay: 25 MINvolume: -2147483648", {"dtmf 25", "minvol -2147483648"}},
        {"older unsigned edits wrap round",
         "MINvolume: 4294967280\r\nDTMFDelay: 4294967280 DTMFDelay: 2147483648 DTMFDelay: +4294967295",
         {"minvol -16", "dtmf -16", "dtmf -2147483648", "dtmf -1"}},
        {"number on a later line", "MINvolume:\r\n\r\n\t7\r\n", {"minvol 7"}},
        {"number stops at the next token", "'DISP': 2RadioMfg: 1", {"disp 1", "mfg 0"}},
        {"key joined to its number takes the next token", "DTMFDelay:5 6", {"dtmf 6"}},
        {"no number ends the loading", "WideBand: 1 MINvolume: x WideBand: 0",
         {"wide 1", "stop 1: no number after MINvolume:"}},
        {"a sign alone ends the loading", "WideBand: - 1", {"stop 1: no number after WideBand:"}},
        {"above 32 bits ends the loading", "DTMFDelay: 4294967296 WideBand: 1",
         {"stop 1: 4294967296 after DTMFDelay: is out of range"}},
        {"above int for the other keys, on the number's line", "'DISP':\r\n\r\n+2147483648 WideBand: 1",
         {"stop 3: +2147483648 after 'DISP': is out of range"}},
        {"file ends after a key", "MINvolume: 5\r\nDTMFDelay:",
         {"minvol 5", "stop 2: no number after DTMFDelay:"}},
        {"no number on the last line, no line break", "WideBand: 1\r\nxDTMFDelay:y x",
         {"wide 1", "stop 2: no number after DTMFDelay:"}},
        {"one byte dropped after the key",
         "SerialNumber:  AB C \r\nUserDescript:\tx", {"serial  AB C ", "user x"}},
        {"key token ending its line gives an empty text", "SerialNumber:ABC\r\nUserDescript:\r\nWideBand: 0",
         {"serial ", "user ", "wide 0"}},
        {"38 bytes load whole", "UserDescript: " + u38 + "\r\nWideBand: 1\r\n", {"user " + u38, "wide 1"}},
        {"a longer text is cut, its line skipped, loading goes on",
         "SerialNumber: " + u38 + "xyz WideBand: 0\r\nWideBand: 1\r\n", {"serial " + u38, "wide 1"}},
        {"CR only before LF or at the end is a line end", "SerialNumber: a\rb\r\nUserDescript: c\r",
         {"serial a\rb", "user c"}},
        {"rows as written",
         "Channels: \r\n1 123 456 \r\n2 12 34 PLTX 123.4 \r\n7 777 888 PLTX 123.4 PLRX 234.5 \r\n",
         {"row 1 123 456", "pll 1  ", "row 2 12 34", "pll 2 123.4 ", "row 7 777 888", "pll 7 123.4 234.5"}},
        {"number text kept, later line wins", "Channels: 07 12 34\r\n7x 56 78",
         {"row 07 12 34", "pll 07  ", "row 7x 56 78", "pll 7x  "}},
        {"PLTX alone, then the next row", "Channels: 1 12 34 PLTX 5.5 2 56 78",
         {"row 1 12 34", "pll 1 5.5 ", "row 2 56 78", "pll 2  "}},
        {"marks found inside tokens", "Channels: 1 12 34 xPLRXx 6.5 3 5 6",
         {"row 1 12 34", "pll 1  6.5", "row 3 5 6", "pll 3  "}},
        {"PLRX before PLTX: the PLTX token stops the loading",
         "Channels: 3 11 22 PLRX 45.5 PLTX 12.5 WideBand: 1",
         {"row 3 11 22", "pll 3  45.5", "stop 1: PLTX is not a home number"}},
        {"a key after the rows stops the loading there",
         "Channels: \r\n1 12 34 \r\nWideBand: 0\r\nWideBand: 1\r\n",
         {"row 1 12 34", "pll 1  ", "stop 3: WideBand: is not a home number"}},
        {"a stray token after a row's PLTX part",
         "Channels: \r\n1 12 34 \r\n2 56 78 PLTX 146.5 MHz\r\n3 11 22\r\n",
         {"row 1 12 34", "pll 1  ", "row 2 56 78", "pll 2 146.5 ", "stop 3: MHz is not a home number"}},
        {"missing field shifts the tokens", "Channels: 4 12 \r\n5 33 44 \r\n",
         {"row 4 12 5", "pll 4  ", "row 33 44 ", "pll 33  "}},
        {"row number 0", "Channels: 0 1 2 'DISP': 1", {"stop 1: 0 is not a home number"}},
        {"negative row number on the last line", "'DISP': 1\r\nChannels:\r\n-3 1 2",
         {"disp 0", "stop 3: -3 is not a home number"}},
        {"control bytes shown, a long token cut",
         "Channels: \x01\x7f\xe9" + std::string(40, 'x') + "\r\n1 2 3",
         {"stop 1: \\x01\\x7F\xe9" + std::string(37, 'x') + "... is not a home number"}},
        {"row above 500 passed on, loading goes on", "Channels: 501 12 34 2 56 78 PLRX 1.0",
         {"row 501 12 34", "pll 501  ", "row 2 56 78", "pll 2  1.0"}},
        {"file ends without a line break", "Channels: \r\n9 12 34 PLTX 1.5", {"row 9 12 34", "pll 9 1.5 "}},
        {"file ends inside a row", "Channels: 9 12", {"row 9 12 ", "pll 9  "}},
        {"file ends after PLTX", "Channels: 9 12 34 PLTX", {"row 9 12 34", "pll 9  "}},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.file), c.calls) << c.name;
}

// A window that loading acts on, starting from a reset table of 500 rows and zero settings.
class Window : public LoadTarget {
public:
    Window() { m_state.rows.resize(500); }
    void SetSerialNumber(std::string_view text) override { m_state.serialNumber = text; }
    void SetUserDescription(std::string_view text) override { m_state.userDescription = text; }
    void SetDtmfDelay(std::int32_t value) override { m_state.dtmfDelay = value; }
    void SetMinVolume(std::int32_t value) override { m_state.minVolume = value; }
    void SetWideBand(bool enable) override { m_state.wideBandEnabled = enable; }
    void SelectSquelch(int index) override { m_state.squelch = index + 1; }
    void SelectDisp(int index) override { m_state.disp = index + 1; }
    void SelectRadioMfg(int index) override { m_state.radioMfg = index + 1; }
    void SetHomeNumberRow(std::string_view number, std::string_view tx, std::string_view rx) override {
        RowOf(number) = {std::string(tx), std::string(rx), "", ""};
    }
    void SetPllColumns(std::string_view number, std::string_view pllTx, std::string_view pllRx) override {
        RowOf(number).pllTx = pllTx;
        RowOf(number).pllRx = pllRx;
    }
    Snapshot m_state;

private:
    Row& RowOf(std::string_view number) {
        return m_state.rows.at(std::atoi(std::string(number).c_str()) - 1);
    }
};

std::string Describe(const Snapshot& s) {
    std::string text = s.serialNumber + "|" + s.userDescription + "|" + std::to_string(s.minVolume) + "|" +
                       std::to_string(s.dtmfDelay) + "|" + std::to_string(s.wideBandEnabled) + "|" +
                       std::to_string(s.squelch) + "|" + std::to_string(s.disp) + "|" +
                       std::to_string(s.radioMfg);
    for (const Row& r : s.rows) text += "\n" + r.tx + "|" + r.rx + "|" + r.pllTx + "|" + r.pllRx;
    return text;
}

// Whether a file has the table's part at all: a file that is not a table has no Channels: key.
TEST(TableFileReader, CheckFindsTheTablePartWithoutApplyingAnything) {
    const struct {
        std::string file;
        bool channels;
        std::size_t stopLine;
    } cases[] = {
        {"", false, 0},
        {"MINvolume: 5\r\nDTMFDelay: 3\r\n", false, 0},
        {"Channels \r\n1 12 34\r\n", false, 0},
        {"MINvolume: 5\r\nChannels: \r\n", true, 0},
        {"xChannels:y 1 12 34 5 56 78", true, 0},
        {"DTMFDelay: x\r\nChannels: \r\n", false, 1},
        {"Channels: \r\n1 12 34\r\nChannels: \r\n", true, 3},
    };
    for (const auto& c : cases) {
        const LoadResult result = CheckTableFile(c.file);
        EXPECT_EQ(result.channels, c.channels) << c.file;
        EXPECT_EQ(result.stopLine, c.stopLine) << c.file;
    }
}

TEST(TableFileReader, ReadsBackWhatTheWriterWrote) {
    Snapshot extremes;
    extremes.serialNumber = "Serial number of 38 bytes, spaces too!";
    extremes.userDescription = std::string(37, 'd') + " ";
    extremes.minVolume = -16;
    extremes.dtmfDelay = -16;
    extremes.squelch = 2;
    extremes.disp = 1;
    extremes.radioMfg = 2;
    extremes.rows.resize(500);
    extremes.rows[99] = {"01", "FFF", "", "6553.4"};
    extremes.rows[0] = {"FFF", "FFF", "146.5", ""};  // a row without codes keeps its PLL value
    extremes.rows[499] = {"999", "000", "", ""};
    for (const Snapshot& saved : {test::WorkedExample(), extremes}) {
        Window window;
        EXPECT_TRUE(ReadTableFile(WriteTableFile(saved), window).Whole());
        EXPECT_EQ(Describe(window.m_state), Describe(saved));
    }
}

}  // namespace
