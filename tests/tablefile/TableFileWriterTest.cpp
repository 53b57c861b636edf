#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tablefile/TableFile.h"
#include "tests/tablefile/TestSupport.h"

namespace {

using namespace tablefile;

Snapshot WithRows(std::vector<Row> rows) {
    Snapshot snapshot;
    snapshot.rows = std::move(rows);
    return snapshot;
}

TEST(TableFileWriter, WritesTheWorkedExampleByteForByte) {
    EXPECT_EQ(WriteTableFile(test::WorkedExample()),
              "SerialNumber: A17-B42\r\n"
              "UserDescript: Unit 12\r\n"
              "MINvolume: 5\r\n"
              "DTMFDelay: 3\r\n"
              "WideBand: 1\r\n"
              "'SQUELCH': 1\r\n"
              "'DISP': 2\r\n"
              "RadioMfg: 1\r\n"
              "Channels: \r\n"
              "1 123 456 \r\n"
              "2 12 34 PLTX 123.4 \r\n"
              "7 777 888 PLTX 123.4 PLRX 234.5 \r\n");
}

TEST(TableFileWriter, EdgeCases) {
    const std::string settings =
        "MINvolume: 0\r\nDTMFDelay: 0\r\nWideBand: 0\r\n'SQUELCH': 0\r\n'DISP': 0\r\nRadioMfg: "
        "0\r\nChannels: \r\n";
    Snapshot signedEdits;
    signedEdits.userDescription = " a b ";
    signedEdits.minVolume = -16;
    signedEdits.dtmfDelay = INT32_MIN;
    const struct {
        const char* name;
        Snapshot snapshot;
        std::string file;
    } cases[] = {
        {"nothing set: no text lines, Channels last", {}, settings},
        {"user description alone, negative edits signed", signedEdits,
         "UserDescript:  a b \r\nMINvolume: -16\r\nDTMFDelay: -2147483648\r\nWideBand: 0\r\n'SQUELCH': 0\r\n"
         "'DISP': 0\r\nRadioMfg: 0\r\nChannels: \r\n"},
        {"rows without codes left out only without PLL values; written with FFF for their codes",
         WithRows(
             {{"FFF", "FFF", "1.5", "2.5"}, {"", "", "", "2.5"}, {"", "", "", ""}, {"FFF", "FFF", "", ""}}),
         settings + "1 FFF FFF PLTX 1.5 PLRX 2.5 \r\n2 FFF FFF PLRX 2.5 \r\n"},
        {"one FFF, FFF in another case, a lone empty code",
         WithRows({{"FFF", "12", "", ""}, {"fff", "FFF", "", ""}, {"12", "", "", ""}, {"", "34", "", ""}}),
         settings + "1 FFF 12 \r\n2 fff FFF \r\n3 12  \r\n4  34 \r\n"},
        {"PLL Rx alone, the position and not a Num text", WithRows({{}, {}, {"011", "022", "", "45.5"}}),
         settings + "3 011 022 PLRX 45.5 \r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(WriteTableFile(c.snapshot), c.file) << c.name;
}

}  // namespace
