#include <gtest/gtest.h>

#include "sim/TableLoader.h"

namespace vantor::sim {
namespace {

// The program writes each line with a trailing space on channel lines and CR LF line ends.
constexpr std::string_view kSavedTable =
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
    "7 777 888 PLTX 123.4 PLRX 234.5 \r\n";

TEST(LoadTableText, FillsSettingsCodesAndPllValuesFromASavedTable) {
    DeviceState state;
    ASSERT_EQ(LoadTableText(kSavedTable, state), std::nullopt);
    EXPECT_EQ(state.serialNumber, DeviceState::TextField("A17-B42", 32));
    EXPECT_EQ(state.userDescription, DeviceState::TextField("Unit 12", 12));
    EXPECT_EQ(state.minVolume, 5);
    EXPECT_EQ(state.dtmfDelay, 3);
    EXPECT_EQ(state.wideBand, 1);
    EXPECT_EQ(state.squelch, 1);
    EXPECT_EQ(state.disp, 2);
    EXPECT_EQ(state.radioMfg, 1);
    EXPECT_EQ(state.homeNumbers[0], (HomeNumberCodes{"123", "456"}));
    EXPECT_EQ(state.homeNumbers[1], (HomeNumberCodes{"12", "34"}));
    EXPECT_EQ(state.homeNumbers[2], HomeNumberCodes{});
    EXPECT_EQ(state.homeNumbers[6], (HomeNumberCodes{"777", "888"}));
    EXPECT_EQ(state.pll[0], PllValues{});
    EXPECT_EQ(state.pll[1], (PllValues{1234, kNoPll}));
    EXPECT_EQ(state.pll[6], (PllValues{1234, 2345}));
}

TEST(LoadTableText, TakesWhatTheProgramWouldSendForOddButValidRows) {
    DeviceState state;
    state.radioMfg = 2;
    state.disp = 2;
    const std::string_view text =
        "WideBand: 0\n'DISP': 0\nRadioMfg: 0\nChannels:\n"
        "3 5 7\n"                // one-digit codes go out with a leading zero
        "4 FFF 12 PLRX 45.57\n"  // FFF in either code sends no codes; the PLL value is cut, not rounded
        "500 999 000\n"
        "9 FFF FFF PLTX 0\n";
    ASSERT_EQ(LoadTableText(text, state), std::nullopt);
    EXPECT_EQ(state.wideBand, 2);
    EXPECT_EQ(state.disp, 2);
    EXPECT_EQ(state.radioMfg, 2);
    EXPECT_EQ(state.homeNumbers[2], (HomeNumberCodes{"05", "07"}));
    EXPECT_EQ(state.homeNumbers[3], HomeNumberCodes{});
    EXPECT_EQ(state.pll[3], (PllValues{kNoPll, 455}));
    EXPECT_EQ(state.homeNumbers[499], (HomeNumberCodes{"999", "000"}));
    EXPECT_EQ(state.pll[8], (PllValues{0, kNoPll}));
}

TEST(LoadTableText, CutsTextsToTheirFields) {
    DeviceState state;
    ASSERT_EQ(LoadTableText("SerialNumber: 0123456789012345678901234567890123456\n"
                            "UserDescript:  leading space kept\n",
                            state),
              std::nullopt);
    EXPECT_EQ(state.serialNumber, "01234567890123456789012345678901");
    EXPECT_EQ(state.userDescription, " leading spa");
}

TEST(LoadTableText, NamesTheLineOfWhatTheDeviceWouldNotTakeAndChangesNothing) {
    const std::pair<std::string_view, const char*> files[] = {
        {"MINvolume: 16\n", "line 1: bad MIN volume \"16\" (the device takes 0 to 15)"},
        {"\nDTMFDelay: 0\n", "line 2: bad DTMF Delay \"0\" (the device takes 1 to 20)"},
        {"DTMFDelay:\n", "line 1: DTMF Delay needs one number"},
        {"RadioMfg: 3\n", "line 1: bad Radio Mfg \"3\" (the device takes 1 to 2)"},
        {"'SQUELCH': x\n", "line 1: bad 'SQUELCH' button \"x\""},
        {"WideBand: 2\n", "line 1: bad Wide Band \"2\" (expected 1 or 0)"},
        {"Volume: 3\n", "line 1: unknown line \"Volume: 3\""},
        {"Mode:\\\t0123456789012345678901234567890123456789\n",
         R"(line 1: unknown line "Mode:\\\x09012345678901234567890123456789012"...)"},
        {"Channels:\n7 12\n", "line 2: expected a home number line"},
        {"Channels:\n0 12 34\n", "line 2: bad home number \"0\" (expected 1 to 500)"},
        {"Channels:\nx 12 34\n", "line 2: bad home number \"x\""},
        {"Channels:\n7 12 345\n",
         "line 2: bad codes \"12\" \"345\" (expected two codes of 2 or of 3 digits)"},
        {"Channels:\n7 1a 34\n", "line 2: bad codes"},
        {"Channels:\n7 12 34 PLTX 6553.5\n", "line 2: bad PLTX value"},
        {"Channels:\n7 12 34 PLTX -1\n", "line 2: bad PLTX value"},
        {"Channels:\n7 12 34 PLRX 1 PLTX 2\n", "line 2: unexpected \"PLTX\""},
        {"Channels:\n101 12 34 PLTX 1\n", "line 2: PLL values are only for home numbers 1 to 100"},
        {"MINvolume: 5\r\nChannels: \r\n1 12 34 \r\nMINvolume: 6\r\n", "line 4: expected a home number line"},
    };
    for (const auto& [text, message] : files) {
        DeviceState state;
        const DeviceState before = state;
        const auto error = LoadTableText(text, state);
        ASSERT_TRUE(error.has_value()) << text;
        EXPECT_NE(error->find(message), std::string::npos) << text << " gave: " << *error;
        EXPECT_EQ(state, before) << text;
    }
}

}  // namespace
}  // namespace vantor::sim
