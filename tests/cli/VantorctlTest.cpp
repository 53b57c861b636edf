// vantorctl against the simulated device: the bytes the device received, what was printed, and the exit
// status of each outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "sim/Faults.h"
#include "sim/PtyServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FarEnd.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using testsupport::Bytes;
using vantor::sim::DeviceState;

struct Finished {
    int status;
    std::string output;  // standard error's log, then the printed value (standard output is flushed last)
};

Finished Vantorctl(const testsupport::SimulatedDevice& device, std::vector<std::string> args) {
    testsupport::ChildProcess program(
        VANTORCTL_PATH, std::move(args),
        {"VANTOR_PORTS_DIR=" + device.PortsPath(), "VANTOR_PORT", "VANTOR_BAUD"});
    std::string output = program.AllOutput();
    return {program.Wait(), std::move(output)};
}

std::string Joined(const std::vector<std::string>& args) {
    std::string line = "vantorctl";
    for (const std::string& arg : args) line += " " + arg;
    return line;
}

TEST(VantorctlTest, EachCommandSendsTheWindowsBytesAndExitsByItsOutcome) {
    // Every case starts from this device: codes at the ends of the table and on both sides of the last
    // home number with PLL values.
    DeviceState state;
    state.homeNumbers[0] = {"12", "34"};
    state.pll[0] = {455, vantor::sim::kNoPll};
    state.homeNumbers[99] = {"123", "456"};
    state.pll[99] = {1465, 4000};
    state.homeNumbers[100] = {"56", "78"};
    state.homeNumbers[499] = {"98", "76"};
    const std::string usageEnd = "second signal ends vantorctl at once.\n";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> faults;
        std::vector<Bytes> requests;
        int status;
        std::string ending;  // of the output
    };
    const std::vector<Case> cases{
        {{"get", "disp"}, {}, {{0x35, 0x02}}, 0, "'DISP' button Response:\nNONE\nNONE\n"},
        {{"set", "disp", "tbd"}, {}, {{0x35, 0x01, 0x02}}, 0, "'DISP' button Write Successful\n"},
        {{"get", "serial-number"}, {}, {{0x37, 0x02}}, 0, "SIM00001\nSIM00001\n"},
        {{"write", "7", "12", "34", "45.5"},
         {},
         {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}},
         0,
         "Sending PLL Write request:\nHome Number: 7 Successful\n"},
        {{"read", "300"}, {}, {{0x33, 0x02, 0x01, 0x2C}}, 0, "Tx: FFF Rx: FFF\ntx= rx=\n"},
        {{"write", "7", "12", "34", "45.5", "46.5"},
         {},
         {{0x33, 0x01, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}, {0x38, 0x01, 0x00, 0x07, 0x01, 0xC7, 0x01, 0xD1}},
         0,
         "Sending PLL Write request:\nHome Number: 7 Successful\n"},
        // Home numbers 1 to 500; PLL values for 1 to 100 only.
        {{"read", "1"},
         {},
         {{0x33, 0x02, 0x00, 0x01}, {0x38, 0x02, 0x00, 0x01}},
         0,
         "TxPLL: 45.5 RxPLL: \ntx=12 rx=34 pll-tx=45.5 pll-rx=\n"},
        {{"read", "100"},
         {},
         {{0x33, 0x02, 0x00, 0x64}, {0x38, 0x02, 0x00, 0x64}},
         0,
         "TxPLL: 146.5 RxPLL: 400.0\ntx=123 rx=456 pll-tx=146.5 pll-rx=400.0\n"},
        {{"read", "101"}, {}, {{0x33, 0x02, 0x00, 0x65}}, 0, "Home Number: 101 Tx: 56 Rx: 78\ntx=56 rx=78\n"},
        {{"read", "500"}, {}, {{0x33, 0x02, 0x01, 0xF4}}, 0, "Home Number: 500 Tx: 98 Rx: 76\ntx=98 rx=76\n"},
        {{"read", "0"},
         {},
         {},
         2,
         "vantorctl: home numbers are 1 to 500, not '0'\nTry 'vantorctl --help'.\n"},
        // Codes the window's edits could not hold, and PLL texts that are not numbers, are refused.
        {{"write", "7", "1234", "5678"}, {}, {}, 2, "Invalid entry: Invalid Rx/Tx value\n"},
        {{"write", "100", "12", "34", "146,5"}, {}, {}, 2, "TxPLL and RxPLL must be numbers\n"},
        {{"set", "dtmf-delay", "3"}, {"36:status1"}, {{0x36, 0x01, 0x03}}, 1, "DTMF Delay write FAILED\n"},
        {{"get", "wide-band"}, {"34:silence"}, {{0x34, 0x02}}, 1, "Timed out waiting for response\n"},
        {{"set", "dtmf-delay", "25"}, {}, {}, 2, "Value must be 20 or less\n"},
        {{"set", "disp", "X"},
         {},
         {},
         2,
         "vantorctl: disp takes NONE, TBD, 1 or 2, not 'X'\nTry 'vantorctl --help'.\n"},
        {{"read", "501"},
         {},
         {},
         2,
         "vantorctl: home numbers are 1 to 500, not '501'\nTry 'vantorctl --help'.\n"},
        // Texts as long as their fields go out whole; a character more is refused.
        {{"set", "serial-number", std::string(32, 'S')},
         {},
         {[] {
             Bytes request{0x37, 0x01};
             request.insert(request.end(), 32, 'S');
             return request;
         }()},
         0,
         "Serial Number Write Successful\n"},
        {{"set", "serial-number", std::string(33, 'S')},
         {},
         {},
         2,
         "takes at most 32 characters, not 33\nTry 'vantorctl --help'.\n"},
        {{"set", "user-description", std::string(12, 'U')},
         {},
         {[] {
             Bytes request{0x3C, 0x01};
             request.insert(request.end(), 12, 'U');
             return request;
         }()},
         0,
         "User Descript Write Successful\n"},
        {{"set", "user-description", std::string(13, 'U')},
         {},
         {},
         2,
         "vantorctl: user-description takes at most 12 characters, not 13\nTry 'vantorctl --help'.\n"},
        // No command, with options or without: the usage, and exit status 2.
        {{}, {}, {}, 2, usageEnd},
        {{"--port", "1"}, {}, {}, 2, usageEnd},
        {{"--port", "9", "get", "disp"}, {}, {}, 3, "com9: no such device\n"},
        {{"--port", "abc", "get", "disp"},
         {},
         {},
         2,
         "vantorctl: --port takes port numbers such as 1 or 1,3,5-8, not 'abc': 'abc' is not a port number or "
         "a range of them\nTry 'vantorctl --help'.\n"},
        // Each option's range, from its lowest to its highest value (a port number is 32 bits unsigned, a
        // speed a positive 32-bit int).
        {{"--port", "0", "get", "disp"},
         {},
         {},
         2,
         "vantorctl: --port takes port numbers such as 1 or 1,3,5-8, not '0': '0' is not a port number or a "
         "range of them\nTry 'vantorctl --help'.\n"},
        {{"--port", "1", "get", "disp"}, {}, {{0x35, 0x02}}, 0, "'DISP' button Response:\nNONE\nNONE\n"},
        // Lists: a port twice, a range backwards or open, more than 256 ports.
        {{"--port", "1,2,1", "get", "disp"}, {}, {}, 2, "not '1,2,1': port 1 is given twice\nTry 'vantorctl --help'.\n"},
        {{"--port", "5-3", "get", "disp"}, {}, {}, 2, "not '5-3': the range 5-3 runs backwards\nTry 'vantorctl --help'.\n"},
        {{"--port", "3-", "get", "disp"}, {}, {}, 2, "not '3-': '3-' is not a port number or a range of them\nTry 'vantorctl --help'.\n"},
        {{"--port", "1-257", "get", "disp"}, {}, {}, 2, "not '1-257': more than 256 ports\nTry 'vantorctl --help'.\n"},
        {{"--port", "1,2", "read", "7"},
         {},
         {},
         2,
         "vantorctl: read takes one port\nTry 'vantorctl --help'.\n"},
        {{"--port", "4294967295", "get", "disp"},
         {},
         {{0x35, 0x02}},
         0,
         "'DISP' button Response:\nNONE\nNONE\n"},
        {{"--port", "4294967296", "get", "disp"},
         {},
         {},
         2,
         "vantorctl: --port takes port numbers such as 1 or 1,3,5-8, not '4294967296': '4294967296' is not a "
         "port number or a range of them\nTry 'vantorctl --help'.\n"},
        {{"--baud", "0", "get", "disp"},
         {},
         {},
         2,
         "vantorctl: --baud takes a speed such as 19200, not '0'\nTry 'vantorctl --help'.\n"},
        {{"--baud", "1", "get", "disp"}, {}, {{0x35, 0x02}}, 0, "'DISP' button Response:\nNONE\nNONE\n"},
        {{"--baud", "2147483647", "get", "disp"},
         {},
         {{0x35, 0x02}},
         0,
         "'DISP' button Response:\nNONE\nNONE\n"},
        {{"--baud", "2147483648", "get", "disp"},
         {},
         {},
         2,
         "vantorctl: --baud takes a speed such as 19200, not '2147483648'\nTry 'vantorctl --help'.\n"},
        {{"set", "min-volume", "-1"}, {}, {}, 2, "vantorctl: unknown option '-1'\nTry 'vantorctl --help'.\n"},
        // After "--" a negative value is the command's: the device is sent its byte and refuses it.
        {{"--", "set", "min-volume", "-1"}, {}, {{0x3A, 0x01, 0xFF}}, 1, "MIN volume write FAILED\n"},
        {{"set", "dtmf-delay", "--", "-1"}, {}, {{0x36, 0x01, 0xFF}}, 1, "DTMF Delay write FAILED\n"},
        {{"set", "dtmf-delay", "--", "21"}, {}, {}, 2, "Value must be 20 or less\n"},
    };
    for (const Case& c : cases) {
        testsupport::SimulatedDevice device(state, c.faults);
        const std::string ports = device.PortsPath();
        std::filesystem::create_symlink(ports + "/unplugged", ports + "/com9");
        std::filesystem::create_symlink(std::filesystem::read_symlink(ports + "/com1"),
                                        ports + "/com4294967295");
        const Finished run = Vantorctl(device, c.args);
        EXPECT_EQ(run.status, c.status) << Joined(c.args) << "\n" << run.output;
        EXPECT_TRUE(run.output.ends_with(c.ending)) << Joined(c.args) << "\n" << run.output;
        EXPECT_EQ(device.Requests(), c.requests) << Joined(c.args);
    }
}

// A table read from one device, written back to it, leaves it as it was (PLL values of a home number
// without codes included); the window opens the file.
// What read-all saved, write-all --verify writes back and finds on the device; verify then finds what
// changed since.
TEST(VantorctlTest, ReadAllThenWriteAllLeavesTheDeviceAsItWas) {
    DeviceState state;
    state.homeNumbers[0] = {"123", "456"};
    state.pll[0] = {1465, vantor::sim::kNoPll};
    state.pll[2] = {vantor::sim::kNoPll, 4012};
    state.homeNumbers[499] = {"12", "34"};
    state.disp = 2;
    testsupport::SimulatedDevice device(state);
    const std::string file = device.PortsPath() + "/table.txt";
    EXPECT_EQ(Vantorctl(device, {"read-all", "-o", file}).status, 0);
    const Finished written = Vantorctl(device, {"write-all", "--verify", file});
    EXPECT_EQ(written.status, 0) << written.output;
    EXPECT_TRUE(written.output.ends_with("Verify: the device holds the table\n")) << written.output;
    EXPECT_EQ(device.State(), state);
    // The device changed since: verify says where, and fails.
    EXPECT_EQ(Vantorctl(device, {"set", "dtmf-delay", "9"}).status, 0);
    const Finished changed = Vantorctl(device, {"verify", file});
    EXPECT_EQ(changed.status, 1);
    EXPECT_TRUE(changed.output.ends_with("DTMF Delay: table 5, device 9\nVerify: 1 differences\n"))
        << changed.output;
    EXPECT_EQ(Vantorctl(device, {"verify"}).status, 2);
    EXPECT_EQ(Vantorctl(device, {"--verify", "read-all"}).status, 2);

    MemoryDialogControls controls;
    RadioConfigDialog dialog(controls);
    dialog.OnInitDialog();
    controls.yesNoAnswers = {true};
    controls.fileAnswers = {file};
    dialog.OnOpen();
    EXPECT_EQ(controls.rows[0], (std::vector<std::string>{"1", "123", "456", "146.5", ""}));
    EXPECT_EQ(controls.rows[2], (std::vector<std::string>{"3", "FFF", "FFF", "", "401.2"}));
    EXPECT_EQ(controls.rows[499], (std::vector<std::string>{"500", "12", "34", "", ""}));
    EXPECT_EQ(controls.GetCurSel(ctl::kDispList), 1);
}

// A device's table to CSV and back keeps every row byte for byte; diff compares two table files with
// Verify's lines and status, or a file with the device on --port.
TEST(VantorctlTest, ConvertAndDiffWorkOnFilesAlone) {
    DeviceState state;
    state.homeNumbers[0] = {"12", "34"};
    state.pll[0] = {455, vantor::sim::kNoPll};
    state.homeNumbers[99] = {"123", "456"};
    state.pll[99] = {1465, 4000};
    state.homeNumbers[499] = {"98", "76"};
    testsupport::SimulatedDevice device(state);
    const std::string dir = device.PortsPath() + "/";
    ASSERT_EQ(Vantorctl(device, {"read-all", "-o", dir + "device.txt"}).status, 0);
    const auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto rows = [&](const std::string& path) {
        const std::string text = read(path);
        return text.substr(text.find("Channels:"));
    };
    {
        std::ofstream(dir + "other.txt", std::ios::binary) << read(dir + "device.txt") << "7 11 22 \r\n";
        std::ofstream(dir + "bad.csv", std::ios::binary) << "Number;Tx;Rx\r\n7;12;345\r\n";
    }
    const struct {
        std::vector<std::string> args;
        int status;
        std::string output;  // its end
    } cases[] = {
        {{"convert", dir + "device.txt", dir + "device.csv"}, 0, ""},
        {{"convert", dir + "device.csv", dir + "back.txt"}, 0, ""},
        // A table from CSV has the settings of a new table: all of them differ, the rows none.
        {{"diff", dir + "device.txt", dir + "back.txt"}, 1,
         "DISP: table NONE, device none\nSQUELCH: table NONE, device none\nSerial Number: table SIM00001, device \n"
         "User Description: table Simulator, device \nDTMF Delay: table 5, device 1\nVerify: 5 differences\n"},
        {{"diff", dir + "device.txt", dir + "other.txt"}, 1,
         "Home Number 7: table /, device 11/22\nVerify: 1 differences\n"},
        {{"diff", dir + "device.txt", dir + "device.txt"}, 0, "Verify: the device holds the table\n"},
        {{"--port", "1", "diff", dir + "device.txt"}, 0, "Verify: the device holds the table\n"},
        {{"diff", dir + "device.txt"}, 2, "vantorctl: diff takes two TABLEFILEs, or one and --port\nTry 'vantorctl --help'.\n"},
        {{"diff", dir + "device.txt", dir + "missing.txt"}, 2, ""},
        {{"convert", dir + "bad.csv", dir + "bad.txt"}, 2, "vantorctl: " + dir + "bad.csv: line 2: Invalid Rx/Tx value\nTry 'vantorctl --help'.\n"},
        {{"convert", dir + "device.txt", dir + "no/such/folder.csv"}, 4, ""},
        {{"convert", dir + "device.txt"}, 2, "vantorctl: convert takes IN and OUT\nTry 'vantorctl --help'.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        const Finished run = Vantorctl(device, c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_TRUE(run.output.ends_with(c.output)) << run.output;
    }
    EXPECT_EQ(read(dir + "device.csv"), "Number,Tx,Rx,PLL Tx,PLL Rx\r\n1,12,34,45.5,\r\n100,123,456,146.5,400.0\r\n500,98,76,,\r\n");
    EXPECT_EQ(rows(dir + "back.txt"), rows(dir + "device.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir + "bad.txt"));
}

// A write-all that skipped a row and lost its PLL exchanges went through, but not whole: exit status 1.
TEST(VantorctlTest, AWriteAllThatLeftSomethingUnwrittenFails) {
    testsupport::SimulatedDevice device({}, {"38/w@2:silence"});
    const std::string file = device.PortsPath() + "/table.txt";
    {
        std::ofstream table(file, std::ios::binary);
        table << "SerialNumber: S1\r\nUserDescript: D1\r\nMINvolume: 5\r\nDTMFDelay: 3\r\nWideBand: 1\r\n"
                 "'SQUELCH': 1\r\n'DISP': 1\r\nRadioMfg: 1\r\nChannels: \r\n";
        for (int n = 1; n <= 500; ++n) table << n << " 123 456 \r\n";
    }
    const Finished written = Vantorctl(device, {"write-all", file});
    EXPECT_EQ(written.status, 1) << written.output;
    EXPECT_NE(written.output.find("Home Number: 500 Successful\nPLL values not written for home numbers 2 to "
                                  "100\nSending 'DISP' button write request: 1\n"),
              std::string::npos)
        << written.output;
    EXPECT_EQ(device.State().homeNumbers[499], (vantor::sim::HomeNumberCodes{"123", "456"}));
}

// Everything a run would send is checked before its first request: a table whose rows, choices, numbers
// or texts could not all go would otherwise be refused halfway, after its rows had changed the device.
TEST(VantorctlTest, WriteAllRefusesATableThatCannotGoWholeBeforeSendingAnything) {
    const std::string settings = "SerialNumber: NEW\r\nMINvolume: 5\r\nDTMFDelay: 3\r\nWideBand: 1\r\n"
                                 "'SQUELCH': 1\r\n'DISP': 1\r\nRadioMfg: 1\r\n";
    const struct {
        const char* name;
        std::string file;
        std::vector<std::string> refusals;  // each after "vantorctl: FILE: "
    } cases[] = {
        {"no settings", "Channels: \r\n1 12 34 \r\n",
         {"'DISP' button: Please Select a 'DISP' button entry",
          "'SQUELCH' button: Please Select a 'SQUELCH' button entry"}},
        {"codes of two lengths on home number 500", settings + "Channels: \r\n1 12 34 \r\n500 12 345 \r\n",
         {"Home Number 500 not written: Invalid Rx/Tx value"}},
        {"DTMF Delay over its limit", "SerialNumber: NEW\r\nDTMFDelay: 21\r\nWideBand: 1\r\n'SQUELCH': 1\r\n"
                                      "'DISP': 1\r\nChannels: \r\n1 12 34 \r\n",
         {"DTMF Delay: Value must be 20 or less"}},
        {"a serial number longer than its field",
         "SerialNumber: " + std::string(33, 'S') + "\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 1\r\n"
                                                   "Channels: \r\n",
         {"Serial Number: 33 characters, more than the 32 its field holds"}},
    };
    for (const auto& c : cases) {
        testsupport::SimulatedDevice device;
        const std::string file = device.PortsPath() + "/table.txt";
        std::ofstream(file, std::ios::binary) << c.file;
        const Finished run = Vantorctl(device, {"write-all", "--verify", file});
        std::string expected;
        for (const std::string& refusal : c.refusals) expected += "vantorctl: " + file + ": " + refusal + "\n";
        expected += "vantorctl: " + file + " cannot be written whole; nothing was sent\n";
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_TRUE(run.output.ends_with(expected)) << c.name << "\n" << run.output;
        EXPECT_EQ(device.Requests(), std::vector<Bytes>{}) << c.name;
    }
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A run that does not read the whole device leaves the file of an earlier run as it was.
TEST(VantorctlTest, AFailedReadAllLeavesItsFileAsItWas) {
    const struct {
        std::vector<std::string> faults;
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {{}, {"--port", "9"}, 3},
        {{"33@250:unplug"}, {}, 1},  // the write fails; no setting follows to find the port gone
        {{"3C:silence"}, {}, 1},     // every row read, the user description not
    };
    for (const auto& c : cases) {
        testsupport::SimulatedDevice device({}, c.faults);
        std::filesystem::create_symlink(device.PortsPath() + "/unplugged", device.PortsPath() + "/com9");
        const std::string file = device.PortsPath() + "/table.txt";
        std::ofstream(file, std::ios::binary) << "a good table\r\n";
        std::vector<std::string> args = c.options;
        for (const char* word : {"read-all", "-o", file.c_str()}) args.emplace_back(word);
        const Finished run = Vantorctl(device, args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_TRUE(
            run.output.ends_with("vantorctl: " + file + " left as it was: the device was not read whole\n"))
            << run.output;
        EXPECT_EQ(Contents(file), "a good table\r\n");
    }
}

// Nothing is sent for a file that is not a table, or that would load only in part: it would erase the
// device's rows and texts.
TEST(VantorctlTest, WriteAllRefusesAFileThatIsNotAWholeTable) {
    const std::string settings = "SerialNumber: NEW\r\nMINvolume: 5\r\nDTMFDelay: 3\r\n";
    const struct {
        const char* name;
        std::string file;
        std::string message;  // after "vantorctl: FILE"
    } cases[] = {
        {"empty", "", " is not a table file: it has no Channels: line; nothing was sent\n"},
        {"random bytes", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
         " is not a table file: it has no Channels: line; nothing was sent\n"},
        {"cut before Channels:", settings + "WideBand: 1\r\n'SQUEL",
         " is not a table file: it has no Channels: line; nothing was sent\n"},
        {"a setting without its number", settings + "WideBand: on\r\nChannels: \r\n1 12 34 \r\n",
         " cannot be loaded whole: loading stops at line 4: no number after WideBand:; nothing was sent\n"},
        {"a stray token on the last line", settings + "Channels: \r\n1 12 34 \r\n2 56 78 MHz",
         " cannot be loaded whole: loading stops at line 6: MHz is not a home number; nothing was sent\n"},
    };
    for (const auto& c : cases) {
        DeviceState state;
        state.homeNumbers[0] = {"123", "456"};
        testsupport::SimulatedDevice device(state);
        const std::string file = device.PortsPath() + "/table.txt";
        std::ofstream(file, std::ios::binary) << c.file;
        const Finished run = Vantorctl(device, {"write-all", file});
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_EQ(run.output, "vantorctl: " + file + c.message) << c.name;
        EXPECT_EQ(device.Requests(), std::vector<Bytes>{}) << c.name;
        EXPECT_EQ(device.State(), state) << c.name;
    }
}

// write-all --backup: the device first goes whole into a file Open loads, then the table is written. A
// backup that cannot be read whole or saved writes nothing.
TEST(VantorctlTest, WriteAllWithABackupSavesTheDeviceFirstOrWritesNothing) {
    DeviceState state;
    state.homeNumbers[499] = {"12", "34"};
    state.serialNumber = DeviceState::TextField("SN/7 x", 32);  // a name with characters a path cannot take
    struct Case {
        std::vector<std::string> faults;
        bool folder;
        int status;
        std::string ending;
    };
    const std::vector<Case> cases{
        {{}, true, 0, ""},
        {{"3C/r:silence"},
         true,
         1,
         "vantorctl: the device was not read whole for its backup; nothing was written\n"},
        {{}, false, 4, "/backups: No such file or directory; nothing was sent\n"},
    };
    for (const Case& c : cases) {
        testsupport::SimulatedDevice device(state, c.faults);
        const std::string dir = device.PortsPath() + "/backups";
        if (c.folder) std::filesystem::create_directory(dir);
        const std::string table = device.PortsPath() + "/table.txt";
        std::ofstream(table, std::ios::binary)
            << "WideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 1\r\nChannels: \r\n1 55 66 \r\n";
        const Finished run = Vantorctl(device, {"write-all", "--backup", dir, table});
        EXPECT_EQ(run.status, c.status) << run.output;
        if (c.status != 0) {
            EXPECT_TRUE(run.output.ends_with(c.ending)) << run.output;
            EXPECT_EQ(device.State(), state);
            continue;
        }
        EXPECT_EQ(device.State().homeNumbers[0], (vantor::sim::HomeNumberCodes{"55", "66"}));
        std::vector<std::filesystem::path> saved;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) saved.push_back(entry.path());
        ASSERT_EQ(saved.size(), 1U);
        EXPECT_TRUE(saved[0].filename().string().starts_with("SN_7_x-2")) << saved[0];
        EXPECT_NE(run.output.find("vantorctl: the device was saved to " + saved[0].string() + "\n"),
                  std::string::npos);
        // The backup loads back as the device was.
        MemoryDialogControls controls;
        RadioConfigDialog dialog(controls);
        dialog.OnInitDialog();
        controls.yesNoAnswers = {true};
        controls.fileAnswers = {saved[0].string()};
        dialog.OnOpen();
        EXPECT_EQ(controls.rows[499], (std::vector<std::string>{"500", "12", "34", "", ""}));
        EXPECT_EQ(controls.rows[0], (std::vector<std::string>{"1", "", "", "", ""}));
        EXPECT_EQ(controls.At(ctl::kSerialNumberEdit).text, "SN/7 x");
    }
}

// vantorctl with its standard streams redirected by a shell: REDIRECTIONS as a shell takes them.
Finished VantorctlRedirected(const testsupport::SimulatedDevice& device, const std::string& redirections,
                             std::vector<std::string> args) {
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" " + redirections, VANTORCTL_PATH});
    testsupport::ChildProcess program(
        "/bin/sh", std::move(args), {"VANTOR_PORTS_DIR=" + device.PortsPath(), "VANTOR_PORT", "VANTOR_BAUD"});
    std::string output = program.AllOutput();
    return {program.Wait(), std::move(output)};
}

// Output that cannot be written ends the run with status 4 and says so; a closed standard output is not
// handed to a file the program opens (the trace here), which would then receive the value.
TEST(VantorctlTest, OutputThatCannotBeWrittenEndsWithStatus4) {
    const struct {
        std::string redirections;
        std::vector<std::string> args;
        std::vector<Bytes> requests;
        std::string ending;
    } cases[] = {
        {">/dev/full",
         {"get", "disp"},
         {{0x35, 0x02}},
         "\nvantorctl: cannot write to standard output: No space left on device\n"},
        {">&-",
         {"get", "disp"},
         {{0x35, 0x02}},
         "\nvantorctl: cannot write to standard output: Bad file descriptor\n"},
        {">&-",
         {"--trace", "TRACE", "get", "disp"},
         {{0x35, 0x02}},
         "\nvantorctl: cannot write to standard output: Bad file descriptor\n"},
        {">/dev/full",
         {"--help"},
         {},
         "vantorctl: cannot write to standard output: No space left on device\n"},
        {"2>/dev/full", {"set", "disp", "2"}, {{0x35, 0x01, 0x02}}, ""},
        {"",
         {"--trace", "/dev/full", "get", "disp"},
         {{0x35, 0x02}},
         "NONE\nvantorctl: cannot write the trace file /dev/full: No space left on device\n"},
        {"",
         {"--trace", "FOLDER/missing/trace", "get", "disp"},
         {},
         "vantorctl: cannot write the trace file FOLDER/missing/trace: No such file or directory\n"},
        // Where the output goes is checked before anything is sent.
        {"",
         {"-o", "FOLDER/missing/t.txt", "read-all"},
         {},
         "vantorctl: cannot write FOLDER/missing/t.txt: No such file or directory; nothing was sent\n"},
        {"",
         {"--record", "FOLDER/missing/r.csv", "set", "disp", "2"},
         {},
         "vantorctl: cannot write the record FOLDER/missing/r.csv: No such file or directory; nothing was "
         "sent\n"},
        {"",
         {"--record", "FOLDER", "--port", "1,2", "get", "disp"},
         {},
         "vantorctl: cannot write the record FOLDER: Is a directory; nothing was sent\n"},
        {"",
         {"--backup", "FOLDER/missing", "write-all", "FOLDER/table.txt"},
         {},
         "vantorctl: cannot write the backup folder FOLDER/missing: No such file or directory; nothing was "
         "sent\n"},
        {"",
         {"--backup", "FOLDER/com1", "write-all", "FOLDER/table.txt"},
         {},
         "vantorctl: cannot write the backup folder FOLDER/com1: Not a directory; nothing was sent\n"},
    };
    for (const auto& c : cases) {
        testsupport::SimulatedDevice device;
        const std::string trace = device.PortsPath() + "/trace.txt";
        const auto placed = [&](std::string text) {
            if (text == "TRACE") return trace;
            if (const auto at = text.find("FOLDER"); at != std::string::npos)
                text.replace(at, 6, device.PortsPath());
            return text;
        };
        std::vector<std::string> args;
        for (const std::string& arg : c.args) args.push_back(placed(arg));
        const Finished run = VantorctlRedirected(device, c.redirections, args);
        const std::string name = c.redirections + " " + c.args.back();
        EXPECT_EQ(run.status, 4) << name << "\n" << run.output;
        EXPECT_TRUE(run.output.ends_with(placed(c.ending))) << name << "\n" << run.output;
        EXPECT_EQ(device.Requests(), c.requests) << name;
        if (c.args.size() > 1 && c.args[1] == "TRACE") {
            EXPECT_EQ(Contents(trace).find("NONE"), std::string::npos) << Contents(trace);
        }
    }
}

}  // namespace

namespace {

using testsupport::ServeOnPort;

// Three units at once: one goes through, one is silent, one is unplugged mid-run. The one that goes
// through is written whole and verified; the summary says what became of each, and the exit status is
// the worst. Every log line names its port.
TEST(VantorctlTest, SeveralPortsRunAtOnceAndEachEndsOnItsOwn) {
    testsupport::PortsDirectory ports;
    auto good = ServeOnPort(ports.Path(), 1);
    auto silent = ServeOnPort(ports.Path(), 2, "*:silence");
    auto unplugged = ServeOnPort(ports.Path(), 3, "*@40:unplug");
    const std::string file = ports.Path() + "/table.txt";
    std::ofstream(file, std::ios::binary)
        << "SerialNumber: UNIT-1\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 2\r\n"
           "Channels: \r\n1 55 66 \r\n500 12 34 \r\n";
    testsupport::ChildProcess program(VANTORCTL_PATH, {"--port", "1-3", "--json", "write-all", "--verify", file},
                                      {"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT", "VANTOR_BAUD"});
    const std::string output = program.AllOutput();
    EXPECT_EQ(program.Wait(), 1) << output;
    // With --json, a JSON line for each unit in port order and one for the run; the table for people
    // goes to standard error.
    std::vector<std::string> json;
    for (std::size_t at = 0; at < output.size(); at = output.find('\n', at) + 1) {
        if (output[at] != '{') continue;
        const nlohmann::json object = nlohmann::json::parse(output.substr(at, output.find('\n', at) - at));
        json.push_back(object["type"].get<std::string>() + " " +
                       (object.contains("port") ? std::to_string(object["port"].get<int>()) + " " +
                                                      object["outcome"].get<std::string>()
                                                : std::to_string(object["passed"].get<int>()) + "/" +
                                                      std::to_string(object["units"].get<int>())));
    }
    EXPECT_EQ(json, (std::vector<std::string>{"unit 1 done", "unit 2 refused or no answer",
                                              "unit 3 refused or no answer", "summary 1/3"}))
        << output;
    EXPECT_NE(output.find("units 3, passed 1, failed 2, yield 33.3 %, "), std::string::npos) << output;
    EXPECT_EQ(good->State().homeNumbers[0], (vantor::sim::HomeNumberCodes{"55", "66"}));
    EXPECT_EQ(good->State().homeNumbers[499], (vantor::sim::HomeNumberCodes{"12", "34"}));
    EXPECT_EQ(good->State().disp, 2);
    const auto has = [&](const std::string& text) { return output.find(text) != std::string::npos; };
    EXPECT_TRUE(has("1      UNIT-1               write-all: done                       0  holds the table"))
        << output;
    EXPECT_TRUE(has("2                           write-all: refused or no answer")) << output;
    EXPECT_TRUE(has("3                           write-all: refused or no answer")) << output;
    EXPECT_TRUE(has("[port 2] More than 5 errors have occurred.\n")) << output;
    EXPECT_TRUE(has("[port 3] Home numbers not written: ")) << output;
    EXPECT_TRUE(has("[port 1] Verify: the device holds the table\n")) << output;
    // No line of the log stands without its port (the summary and the JSON lines come after the log).
    const std::string log = output.substr(0, std::min(output.find("port   serial number"), output.find("{\"type")));
    for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
        EXPECT_TRUE(log.compare(at, 6, "[port ") == 0) << log.substr(at, 60);
    }
}

// Each unit of a run gets its own serial number from the series, in place of the table's; a unit whose
// Serial Number write never went out gives its number back for the next run, and one whose number would
// not fit the field is refused before anything is sent.
TEST(VantorctlTest, EachUnitGetsASerialNumberOfItsOwn) {
    testsupport::PortsDirectory ports;
    auto first = ServeOnPort(ports.Path(), 1);
    auto second = ServeOnPort(ports.Path(), 2);
    auto dying = ServeOnPort(ports.Path(), 3, "*@3:unplug");  // gone after two rows
    const std::string file = ports.Path() + "/table.txt", record = ports.Path() + "/record.csv";
    std::ofstream(file, std::ios::binary) << "SerialNumber: NEW-1\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 2\r\n"
                                             "Channels: \r\n1 55 66 \r\n";
    const auto run = [&](std::vector<std::string> args) {
        testsupport::ChildProcess program(VANTORCTL_PATH, std::move(args),
                                          {"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT", "VANTOR_BAUD"});
        std::string output = program.AllOutput();
        return Finished{program.Wait(), std::move(output)};
    };
    const auto state = [&] {
        std::ifstream in(record + ".serials");
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::vector<std::string> series = {"--record", record, "--serial-number", "VX-{n:04}", "--first", "7"};
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), series.begin(), series.end());
        return args;
    };

    const auto serial = [](const vantor::sim::PtyServer& device) {
        return std::string(device.State().serialNumber.c_str());  // the field holds zero bytes after it
    };
    Finished done = run(with({"--port", "1-3", "write-all", file}));
    EXPECT_EQ(done.status, 1) << done.output;  // unit 3 was unplugged
    const std::string a = serial(*first), b = serial(*second);
    // Unit 3 went before its Serial Number write: its number came back, and the next unit gets it.
    EXPECT_TRUE(state().starts_with("series template VX-{n:04}\nnext 10\nback ")) << state();
    Finished next = run(with({"--port", "1", "write-all", file}));
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_NE(next.output.find("Serial number for this unit: " + serial(*first) + "\n"), std::string::npos)
        << next.output;
    EXPECT_EQ(state(), "series template VX-{n:04}\nnext 10\nback\n");
    EXPECT_EQ((std::set<std::string>{a, b, serial(*first)}), (std::set<std::string>{"VX-0007", "VX-0008", "VX-0009"}));

    const struct {
        std::vector<std::string> args;
        std::string said;
    } refused[] = {
        {{"--record", record, "--serial-number", std::string(29, 'x') + "{n:04}", "--port", "2", "write-all", file},
         "vantorctl: '" + std::string(29, 'x') + "0001' is longer than the serial number's 32 bytes\n"},
        {{"--serial-number", "VX-{n}", "--port", "2", "write-all", file},
         "vantorctl: serial numbers per unit need --record: the series' state is kept beside it\n"},
        {{"--record", record, "--serial-number", "VX-{n}", "--port", "2", "read-all"},
         "vantorctl: --serial-number and --serial-numbers go with write-all only\n"},
    };
    const std::size_t records = second->Records().size();
    for (const auto& r : refused) {
        SCOPED_TRACE(Joined(r.args));
        const Finished refusal = run(r.args);
        EXPECT_EQ(refusal.status, 2);
        EXPECT_TRUE(refusal.output.starts_with(r.said)) << refusal.output;
    }
    EXPECT_EQ(second->Records().size(), records);  // nothing was sent
}

// Units of one run never take each other's files: three holding one serial number, backed up within
// the same second, get three backups; two whose serial numbers clean up to one name get two tables. Each
// unit's log says which file it got.
TEST(VantorctlTest, UnitsOfOneRunNeverReplaceEachOthersFiles) {
    testsupport::PortsDirectory ports;
    std::vector<std::unique_ptr<vantor::sim::PtyServer>> devices;
    for (int port = 1; port <= 3; ++port) devices.push_back(ServeOnPort(ports.Path(), port));
    const std::vector<std::string> environment{"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT",
                                               "VANTOR_BAUD"};
    const std::string dir = ports.Path() + "/bk", table = ports.Path() + "/table.txt";
    std::filesystem::create_directory(dir);
    std::ofstream(table, std::ios::binary)
        << "SerialNumber: NEW-1\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 1\r\nChannels: \r\n";
    const std::string record = ports.Path() + "/record.csv";
    // What each port's log says it saved, and the files in the folder.
    const auto saved = [](const std::string& output, const std::string& folder) {
        std::vector<std::string> said, found;
        for (int port = 1; port <= 3; ++port) {
            const std::string line = "[port " + std::to_string(port) + "] vantorctl: the device was saved to ";
            if (const auto at = output.find(line); at != std::string::npos) {
                said.push_back(output.substr(at + line.size(), output.find('\n', at) - at - line.size()));
            }
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".txt") found.push_back(entry.path().string());
        }
        std::sort(said.begin(), said.end());
        std::sort(found.begin(), found.end());
        return std::pair{said, found};
    };
    {
        testsupport::ChildProcess program(
            VANTORCTL_PATH, {"--port", "1-3", "--record", record, "write-all", "--backup", dir, table}, environment);
        const std::string output = program.AllOutput();
        EXPECT_EQ(program.Wait(), 0) << output;
        const auto [said, found] = saved(output, dir);
        EXPECT_EQ(found.size(), 3U) << output;
        EXPECT_EQ(said, found) << output;
        // The record names each unit's serial number after the write and before it, and its backup.
        std::ifstream in(record);
        std::vector<std::string> backups;
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            EXPECT_NE(line.find(",NEW-1,write-all,"), std::string::npos) << line;
            const std::string before = ",SIM00001,";
            ASSERT_NE(line.find(before), std::string::npos) << line;
            const std::string rest = line.substr(line.find(before) + before.size());
            backups.push_back(rest.substr(0, rest.find(',')));
        }
        std::sort(backups.begin(), backups.end());
        EXPECT_EQ(backups, found);
    }
    vantor::sim::DeviceState slash, underscore;
    slash.serialNumber = vantor::sim::DeviceState::TextField("A/B", 32);
    underscore.serialNumber = vantor::sim::DeviceState::TextField("A_B", 32);
    auto a = ServeOnPort(ports.Path(), 4, "", slash);
    auto b = ServeOnPort(ports.Path(), 5, "", underscore);
    const std::string out = ports.Path() + "/out";
    std::filesystem::create_directory(out);
    testsupport::ChildProcess program(VANTORCTL_PATH, {"--port", "4,5", "read-all", "-o", out + "/unit-{serial}.txt"},
                                      environment);
    const std::string output = program.AllOutput();
    EXPECT_EQ(program.Wait(), 0) << output;
    std::vector<std::string> serials;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        const std::string text = Contents(entry.path().string());
        serials.push_back(text.substr(0, text.find('\r')));
        EXPECT_TRUE(entry.path().filename() == "unit-A_B.txt" ||
                    entry.path().filename() == "unit-A_B-port4.txt" ||
                    entry.path().filename() == "unit-A_B-port5.txt")
            << entry.path();
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string>{"SerialNumber: A/B", "SerialNumber: A_B"})) << output;
    EXPECT_NE(output.find("[port 4] vantorctl: the device was saved to " + out + "/unit-A_B"), std::string::npos);
    EXPECT_NE(output.find("[port 5] vantorctl: the device was saved to " + out + "/unit-A_B"), std::string::npos);
}

// --port's lists at their bounds beyond those above: 256 ports are taken, 257 over several items are
// not, a list of one port is that port; find's speeds take no empty item, and --record is refused where
// no unit is talked to.
TEST(VantorctlTest, PortListsAreTakenOrRefusedAtTheirBounds) {
    testsupport::SimulatedDevice device;
    const std::string refused = "vantorctl: --port takes port numbers such as 1 or 1,3,5-8, not '";
    const std::string tryHelp = "\nTry 'vantorctl --help'.\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string ending;
    } cases[] = {
        {{"--port", "1-1", "get", "disp"}, 0, "NONE\n"},
        // 256 ports, none of them there: each unit fails on its own.
        {{"--port", "1000-1255", "get", "disp"}, 3, "\n1255                        get: port failed "},
        {{"--port", "1000-1200,1201-1256", "get", "disp"},
         2,
         refused + "1000-1200,1201-1256': more than 256 ports" + tryHelp},
        {{"--port", "1,", "get", "disp"}, 2, refused + "1,': '' is not a port number or a range of them" + tryHelp},
        {{"find", "--baud", "19200,"}, 2, "vantorctl: --baud takes speeds such as 19200,9600, not '19200,'" + tryHelp},
        {{"--record", "r.csv", "find"},
         2,
         "vantorctl: --record goes with the commands that talk to units, not find" + tryHelp},
    };
    for (const auto& c : cases) {
        const Finished run = Vantorctl(device, c.args);
        EXPECT_EQ(run.status, c.status) << Joined(c.args) << "\n" << run.output;
        EXPECT_NE(run.output.find(c.ending), std::string::npos) << Joined(c.args) << "\n" << run.output;
    }
}

// Each unit's outcome in its own word, the worst unit's status whichever ran last, and a record that a
// spreadsheet or a line's systems read safely: UTF-8, a formula shown as text, one line per unit, and
// the new lines on lines of their own after a record whose last line had no end.
TEST(VantorctlTest, TheRecordSaysWhatBecameOfEachUnitInAFormEveryReaderTakes) {
    testsupport::PortsDirectory ports;
    const std::string table = ports.Path() + "/table.txt", record = ports.Path() + "/record.csv";
    std::ofstream(table, std::ios::binary)
        << "DTMFDelay: 5\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 1\r\nChannels: \r\n1 12 34 \r\n";
    std::ofstream(record, std::ios::binary) << "a line of an earlier run, cut short";
    DeviceState formula, lineBreak, latin1;
    formula.serialNumber = DeviceState::TextField("=1+2", 32);
    lineBreak.serialNumber = DeviceState::TextField("A\r\nB", 32);
    latin1.serialNumber = DeviceState::TextField("Caf\xE9", 32);
    latin1.homeNumbers[0] = {"12", "34"};
    auto differs = ServeOnPort(ports.Path(), 1, "", formula);
    auto cut = ServeOnPort(ports.Path(), 2, "3C:silence", lineBreak);
    auto holds = ServeOnPort(ports.Path(), 3, "", latin1);
    testsupport::ChildProcess program(VANTORCTL_PATH, {"--port", "1-3", "--record", record, "verify", table},
                                      {"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT", "VANTOR_BAUD"});
    const std::string output = program.AllOutput();
    EXPECT_EQ(program.Wait(), 1) << output;  // the worst, though the last unit held the table
    EXPECT_NE(output.find("verify: differs"), std::string::npos) << output;
    EXPECT_NE(output.find("verify: not read whole"), std::string::npos) << output;
    EXPECT_NE(output.find("verify: done"), std::string::npos) << output;

    std::ifstream in(record, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4U) << Contents(record);
    EXPECT_EQ(lines[0], "a line of an earlier run, cut short");
    std::sort(lines.begin() + 1, lines.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.find(',')) < b.substr(b.find(','));
    });
    const auto fields = [&](const std::string& line) {  // serial number, command, outcome and verify
        std::vector<std::string> field(1);
        for (const char c : line) {
            if (c == ',') {
                field.emplace_back();
            } else {
                field.back().push_back(c);
            }
        }
        EXPECT_EQ(field.size(), 13U) << line;
        field.resize(13);
        EXPECT_EQ(field[5], table) << line;
        return field[3] + "," + field[4] + "," + field[7] + "," + field[8];
    };
    EXPECT_EQ(fields(lines[1]), "'=1+2,verify,differs,1 differences") << lines[1];
    EXPECT_EQ(fields(lines[2]), "A\\x0D\\x0AB,verify,not read whole,not read whole") << lines[2];
    EXPECT_EQ(fields(lines[3]), "Caf\xC3\xA9,verify,done,holds the table") << lines[3];
}

// A stop signal in the middle of a run on two units: each ends after the exchange in flight as Stop ends
// it, says what it did not write, is summed up and recorded as stopped, and the run ends with status 5.
TEST(VantorctlTest, AStopSignalEndsEveryUnitAsStopDoesAndRecordsThem) {
    for (const int signal : {SIGTERM, SIGINT}) {
        testsupport::PortsDirectory ports;
        std::vector<std::unique_ptr<vantor::sim::PtyServer>> devices;
        for (int port = 1; port <= 2; ++port) devices.push_back(ServeOnPort(ports.Path(), port, "33:delay=5"));
        const std::string table = ports.Path() + "/table.txt", record = ports.Path() + "/record.csv";
        std::ofstream(table, std::ios::binary)
            << "WideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 1\r\nChannels: \r\n500 12 34 \r\n";
        testsupport::ChildProcess program(VANTORCTL_PATH, {"--port", "1,2", "--record", record, "write-all", table},
                                          {"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT", "VANTOR_BAUD"});
        ASSERT_TRUE(program.WaitUntilItHandles(signal));
        // Both units well into their rows, far from the end (each row takes over 5 ms).
        for (const auto& device : devices) ASSERT_TRUE(device->WaitForRecords(40, std::chrono::seconds(10)));
        program.Signal(signal);
        const std::string output = program.AllOutput();
        EXPECT_EQ(program.Wait(), 5) << output;
        for (const std::string port : {"[port 1] ", "[port 2] "}) {  // the two units' lines interleave
            const std::size_t stopped = output.find(port + "Write All stopped\n");
            EXPECT_NE(stopped, std::string::npos) << output;
            EXPECT_NE(output.find(port + "Home numbers not written: ", stopped), std::string::npos) << output;
        }
        EXPECT_NE(output.find("write-all: stopped"), std::string::npos) << output;
        for (const auto& device : devices) {
            EXPECT_EQ(device->State().homeNumbers[499], vantor::sim::HomeNumberCodes{}) << output;
        }
        std::ifstream in(record);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), 3U) << Contents(record);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_NE(lines[i].find(",write-all," + table + ","), std::string::npos) << lines[i];
            EXPECT_NE(lines[i].find(",stopped,,"), std::string::npos) << lines[i];
        }
    }
}

// Two runs of three units each record into one file at once: one header, then one whole line per unit.
TEST(VantorctlTest, RunsRecordingAtOnceKeepTheirLinesWhole) {
    testsupport::PortsDirectory ports;
    std::vector<std::unique_ptr<vantor::sim::PtyServer>> devices;
    for (int port = 1; port <= 6; ++port) devices.push_back(ServeOnPort(ports.Path(), port));
    const std::string record = ports.Path() + "/record.csv";
    const std::vector<std::string> environment{"VANTOR_PORTS_DIR=" + ports.Path(), "VANTOR_PORT",
                                               "VANTOR_BAUD"};
    testsupport::ChildProcess first(VANTORCTL_PATH, {"--port", "1-3", "--record", record, "get", "disp"},
                                    environment);
    testsupport::ChildProcess second(VANTORCTL_PATH, {"--port", "4-6", "--record", record, "get", "disp"},
                                     environment);
    first.AllOutput();
    second.AllOutput();
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);

    std::ifstream in(record);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line,
              "utc,port,device,serial_number,command,table_file,table_sha256,outcome,verify,seconds,"
              "serial_number_before,backup,bench");
    std::vector<std::string> seen;
    while (std::getline(in, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 12) << line;
        const std::size_t port = line.find(',') + 1;
        const std::string rest = line.substr(port);
        EXPECT_NE(rest.find(",SIM00001,get,,,done,,"), std::string::npos) << line;
        seen.push_back(rest.substr(0, rest.find(',')));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

}  // namespace

namespace station {

// A CSV line's fields as RFC 4180 reads them: quoted fields with their quotes doubled.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// A station on four sockets, its units plugged in one after another: one that takes the table, one that
// refuses every row, one unplugged halfway and a good one in its socket after it; a socket whose port is
// no serial port is said once. A unit left in its socket after it failed is not programmed again, and
// is gone once it no longer answers. The failed units give their serial numbers back, hostile as they
// are, and the good ones take them in turn. The stop signal comes while the last unit is being written:
// it is finished, then the summary.
TEST(VantorctlTest, AStationProgramsEachUnitPluggedInAndSaysPassOrFail) {
    testsupport::PortsDirectory ports;
    const std::string dir = ports.Path();
    const std::string table = dir + "/table.txt", record = dir + "/record.csv", list = dir + "/serials.txt";
    std::ofstream(table, std::ios::binary)
        << "SerialNumber: NEW-1\r\nWideBand: 1\r\n'SQUELCH': 1\r\n'DISP': 2\r\nChannels: \r\n1 55 66 \r\n500 12 34 \r\n";
    const std::vector<std::string> serials{"=HYPERLINK(\"http://x\")", "a,\"b\"", "C\xE9", "spare"};
    {
        std::ofstream out(list, std::ios::binary);
        for (const std::string& s : serials) out << s << "\r\n";
    }
    std::ofstream(dir + "/com4") << "not a serial port";
    testsupport::ChildProcess program(
        VANTORCTL_PATH,
        {"station", "--port", "1-4", "--json", "--record", record, "--serial-numbers", list, "write-all", table},
        {"VANTOR_PORTS_DIR=" + dir, "VANTOR_PORT", "VANTOR_BAUD"});
    ASSERT_TRUE(program.WaitUntilItHandles(SIGINT));

    auto good = ServeOnPort(dir, 1);
    ASSERT_TRUE(program.WaitForOutput("port 1    PASS")) << program.OutputSoFar();
    // Refuses every row, then stops answering the station's asking once it has failed.
    auto refusing = ServeOnPort(dir, 2, std::vector<std::string>{"33/w:status1", "35/r@3-:silence"});
    ASSERT_TRUE(program.WaitForOutput("port 2    FAIL")) << program.OutputSoFar();
    ASSERT_TRUE(program.WaitForOutput("[port 2] unit silent; waiting for the next")) << program.OutputSoFar();
    auto vanishing = ServeOnPort(dir, 3, "*@30:unplug");
    ASSERT_TRUE(program.WaitForOutput("[port 3] unit unplugged; waiting for the next")) << program.OutputSoFar();
    vanishing.reset();
    auto slow = ServeOnPort(dir, 3, "33:delay=5");
    ASSERT_TRUE(slow->WaitForRecords(60, std::chrono::seconds(10))) << program.OutputSoFar();
    program.Signal(SIGINT);
    const std::string output = program.AllOutput();
    EXPECT_EQ(program.Wait(), 1) << output;

    const auto serial = [](const vantor::sim::PtyServer& device) {
        return std::string(device.State().serialNumber.c_str());
    };
    EXPECT_EQ(serial(*good), serials[0]);
    EXPECT_EQ(serial(*slow), serials[1]);
    EXPECT_EQ(serial(*refusing), "SIM00001");
    EXPECT_EQ(slow->State().homeNumbers[499], (vantor::sim::HomeNumberCodes{"12", "34"}));
    const auto times = [&](const std::string& text) {
        std::size_t n = 0;
        for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(times("[port 4] cannot open the port: " + dir + "/com4: not a serial port; waiting until it can "
                    "be opened\n"),
              1U)
        << output;
    EXPECT_EQ(times("[port 2] unit found\n"), 1U) << output;
    EXPECT_EQ(times("[port 2] unit silent; waiting for the next\n"), 1U) << output;
    EXPECT_EQ(times("units 4, passed 2, failed 2, yield 50.0 %, "), 1U) << output;

    // The JSON lines, parsed back: one for each unit in the order they ended, then the summary.
    std::vector<nlohmann::json> objects;
    for (std::size_t at = 0; at < output.size(); at = output.find('\n', at) + 1) {
        if (output[at] == '{') objects.push_back(nlohmann::json::parse(output.substr(at, output.find('\n', at) - at)));
    }
    ASSERT_EQ(objects.size(), 5U) << output;
    struct Expected {
        int port;
        std::string serialNumber, outcome;
        int status;
    };
    const std::vector<Expected> expected{{1, serials[0], "done", 0},
                                         {2, "SIM00001", "refused or no answer", 1},
                                         {3, "", "refused or no answer", 1},
                                         {3, serials[1], "done", 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(objects[i].dump());
        EXPECT_EQ(objects[i]["type"], "unit");
        EXPECT_EQ(objects[i]["port"], expected[i].port);
        EXPECT_EQ(objects[i]["serial_number"], expected[i].serialNumber);
        EXPECT_EQ(objects[i]["serial_number_before"], "SIM00001");
        EXPECT_EQ(objects[i]["outcome"], expected[i].outcome);
        EXPECT_EQ(objects[i]["status"], expected[i].status);
        EXPECT_EQ(objects[i]["passed"], expected[i].status == 0);
        EXPECT_EQ(objects[i]["table_file"], table);
    }
    // Home number 1 refused six times, sent a seventh, and the run ended.
    std::vector<std::string> refusals(6, "Home Number: 1 Unsuccessful");
    refusals.push_back("Ending process.");
    EXPECT_EQ(objects[1]["error_lines"], nlohmann::json(refusals));
    EXPECT_EQ(objects[1]["retries"], 6);
    EXPECT_EQ(objects[4]["type"], "summary");
    EXPECT_EQ(objects[4]["units"], 4);
    EXPECT_EQ(objects[4]["passed"], 2);
    EXPECT_EQ(objects[4]["failed"], 2);
    EXPECT_EQ(objects[4]["yield"], 0.5);

    // The record: a line for each unit, its fields read back as they were, hostile or not.
    std::ifstream in(record, std::ios::binary);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(CsvFields(line));
    ASSERT_EQ(lines.size(), 5U) << Contents(record);
    EXPECT_EQ(lines[0].back(), "bench");
    EXPECT_EQ(lines[1][3], "'" + serials[0]);  // shown as text, never run as a formula
    EXPECT_EQ(lines[4][3], serials[1]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 13U);
        EXPECT_EQ(lines[i][1], std::to_string(expected[i - 1].port));
        EXPECT_EQ(lines[i][10], "SIM00001");
    }
    EXPECT_TRUE(Contents(record + ".serials").ends_with("\nnext 2\nback\n")) << Contents(record + ".serials");
}

}  // namespace station
