// The settings as plain values (what vantorctl keeps instead of a window) and the table file into and out
// of them: every setting survives a load and a save, in the terms the window's controls use.
#include <gtest/gtest.h>

#include <string>

#include "device/DeviceSettings.h"
#include "tests/protocol/RecordingLog.h"

namespace {

TEST(DeviceSettingsTest, PlainValuesStartAsTheWindowDoes) {
    SettingValues values;
    EXPECT_EQ(values.Value(protocol::kDtmfDelay), 1);
    EXPECT_EQ(values.Value(protocol::kWideBand), 1);
    for (const protocol::DeviceCommand* command :
         {&protocol::kDisp, &protocol::kSquelch, &protocol::kRadioMfg, &protocol::kMinVolume}) {
        EXPECT_EQ(values.Value(*command), 0) << command->name;
    }
    EXPECT_EQ(values.Text(protocol::kSerialNumber), "");
    EXPECT_EQ(values.Text(protocol::kUserDescription), "");
}

// Values other than the start values everywhere, home numbers 1, 100 and 500 included: loaded into a
// table and plain values, then saved, the file comes back byte for byte.
TEST(DeviceSettingsTest, ATableFileLoadsIntoValuesAndSavesBackUnchanged) {
    tablefile::Snapshot saved;
    saved.serialNumber = std::string(32, 'S');
    saved.userDescription = "Desk 7";
    saved.minVolume = 12;
    saved.dtmfDelay = 20;
    saved.wideBandEnabled = false;
    saved.squelch = 2;
    saved.disp = 1;
    saved.radioMfg = 2;
    saved.rows.resize(500);
    saved.rows[0] = {"12", "34", "145.5", ""};
    saved.rows[99] = {"123", "456", "", "6553.4"};
    saved.rows[499] = {"98", "76", "", ""};
    const std::string file = tablefile::WriteTableFile(saved);

    table::HomeNumberTable table;
    SettingValues values;
    RecordingLog log;
    ASSERT_TRUE(LoadTableFile(file, table, values, log).Whole());
    EXPECT_EQ(log.Contents(), "");
    const struct {
        const protocol::DeviceCommand& command;
        std::int32_t value;
    } expected[] = {{protocol::kWideBand, 2}, {protocol::kSquelch, 2}, {protocol::kDisp, 1},
                    {protocol::kRadioMfg, 2}, {protocol::kMinVolume, 12}, {protocol::kDtmfDelay, 20}};
    for (const auto& e : expected) EXPECT_EQ(values.Value(e.command), e.value) << e.command.name;
    EXPECT_EQ(table.Row(99).pllRx, "6553.4");
    EXPECT_FALSE(table.Changed());
    EXPECT_EQ(tablefile::WriteTableFile(TakeSnapshot(table, values)), file);
}

}  // namespace
