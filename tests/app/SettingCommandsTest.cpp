// The setting and text handlers end to end: in-memory window, the program's serial link, the simulated
// device on a pseudo-terminal. Each case asserts the bytes the device received and the exact log.
#include <gtest/gtest.h>

#include <chrono>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"
#include "tests/support/SimulatedDevice.h"

namespace {

using testsupport::Bytes;
using testsupport::SimulatedDevice;
using vantor::sim::DeviceState;

// Counts how often the busy lock's controls change, to tell a handler that never took the lock.
class CountingControls : public MemoryDialogControls {
public:
    int enableCalls = 0;
    void EnableWindow(int id, bool enable) override {
        ++enableCalls;
        MemoryDialogControls::EnableWindow(id, enable);
    }
};

class Handlers {
public:
    explicit Handlers(DeviceState state = {}, std::vector<std::string> faults = {})
        : device(std::move(state), faults) {
        dialog.OnInitDialog();
        controls.enableCalls = 0;
    }
    bool AllCommandsEnabled() {
        for (int id : RadioConfigDialog::BusyLockControls()) {
            if (!controls.At(id).enabled) return false;
        }
        return true;
    }

    SimulatedDevice device;
    CountingControls controls;
    RadioConfigDialog dialog{controls};
};

Bytes Text(const std::string& text, std::size_t field) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(field, 0);
    return bytes;
}

struct SetCase {
    const char* name;
    std::function<void(MemoryDialogControls&)> prepare;
    void (RadioConfigDialog::*handler)();
    Bytes request;
    std::string log;
};

// Every Set and Write, each answered with status 0 by the device.
TEST(SettingCommandsTest, EverySetSendsItsRequestAndReportsSuccess) {
    const std::vector<SetCase> cases{
        {"DISP TBD",
         [](auto& c) { c.SetCurSel(ctl::kDispList, 1); },
         &RadioConfigDialog::OnDispSet,
         {0x35, 0x01, 0x02},
         "Sending 'DISP' button write request: 2\r\n'DISP' button Write Response:\r\n"
         "'DISP' button Write Successful\r\n"},
        {"Radio Mfg ICOM",
         [](auto& c) { c.SetCurSel(ctl::kRadioMfgList, 1); },
         &RadioConfigDialog::OnRadioMfgSet,
         {0x39, 0x01, 0x02},
         "Sending Radio Mfg write request: 2\r\nRadio Mfg Write Response:\r\nRadio Mfg Write Successful\r\n"},
        {"SQUELCH NONE",
         [](auto& c) { c.SetCurSel(ctl::kSquelchList, 0); },
         &RadioConfigDialog::OnSquelchSet,
         {0x3B, 0x01, 0x01},
         "Sending 'SQUELCH' button write request: 1\r\n'SQUELCH' button Write Response:\r\n"
         "'SQUELCH' button Write Successful\r\n"},
        {"Wide Band Enable",
         [](auto&) {},
         &RadioConfigDialog::OnWideBandSet,
         {0x34, 0x01, 0x01},
         "Sending Wide Band Write request:\r\n34(Wide Band):\r\nWide Band Write Response:\r\n"
         "Wide Band successfully enabled\r\n"},
        {"Wide Band Disable",
         [](auto& c) {
             c.SetCheck(ctl::kWideBandEnable, false);
             c.SetCheck(ctl::kWideBandDisable, true);
         },
         &RadioConfigDialog::OnWideBandSet,
         {0x34, 0x01, 0x02},
         "Sending Wide Band Write request:\r\n34(Wide Band):\r\nWide Band Write Response:\r\n"
         "Wide Band successfully disabled\r\n"},
        {"DTMF Delay 7",
         [](auto& c) { c.SetDlgItemText(ctl::kDtmfDelayEdit, "7"); },
         &RadioConfigDialog::OnDtmfDelaySet,
         {0x36, 0x01, 0x07},
         "Sending DTMF Delay write request:\r\n36(DTMF Delay):\r\nDTMF Delay write Response:\r\n"
         "DTMF Delay write Success\r\n"},
        {"MIN volume 15",
         [](auto& c) { c.SetDlgItemText(ctl::kMinVolumeEdit, "15"); },
         &RadioConfigDialog::OnMinVolumeSet,
         {0x3A, 0x01, 0x0F},
         "Sending MIN volume write request:\r\n0x3A(MIN volume):\r\nMIN volume write Response:\r\n"
         "MIN volume write Success\r\n"},
        {"Serial Number ABC", [](auto& c) { c.SetDlgItemText(ctl::kSerialNumberEdit, "ABC"); },
         &RadioConfigDialog::OnSerialNumberWrite, testsupport::Concat({0x37, 0x01}, Text("ABC", 32)),
         "Setting Serial Number to: \r\nABC\r\n37(Serial Number):\r\nSerial Number Write Response:\r\n"
         "Serial Number Write Successful\r\n"},
        {"empty User Description", [](auto&) {}, &RadioConfigDialog::OnUserDescriptionWrite,
         testsupport::Concat({0x3C, 0x01}, Text("", 12)),
         "Setting User Descript to: \r\n\r\n(User Descript):\r\nUser Descipt Write Response:\r\n"
         "User Descript Write Successful\r\n"},
    };
    for (const SetCase& c : cases) {
        Handlers h;
        c.prepare(h.controls);
        (h.dialog.*c.handler)();
        EXPECT_EQ(h.device.Requests(), std::vector<Bytes>{c.request}) << c.name;
        EXPECT_EQ(h.dialog.LogContents(), c.log) << c.name;
        EXPECT_TRUE(h.AllCommandsEnabled()) << c.name;
        EXPECT_FALSE(h.dialog.Link().IsOpen()) << c.name;
    }
}

TEST(SettingCommandsTest, SetsChangeTheDevice) {
    Handlers h;
    h.controls.SetCurSel(ctl::kDispList, 1);
    h.dialog.OnDispSet();
    h.controls.SetDlgItemText(ctl::kDtmfDelayEdit, "");  // an empty edit sends 0, which the device refuses
    h.dialog.OnDtmfDelaySet();
    h.controls.SetDlgItemText(ctl::kUserDescriptionEdit, "Truck 7");
    h.dialog.OnUserDescriptionWrite();
    EXPECT_EQ(h.device.Requests()[1], (Bytes{0x36, 0x01, 0x00}));
    EXPECT_TRUE(h.dialog.LogContents().ends_with("User Descript Write Successful\r\n"));
    EXPECT_TRUE(h.dialog.LogContents().find("DTMF Delay write FAILED\r\n") != std::string::npos);
    const DeviceState state = h.device.State();
    EXPECT_EQ(state.disp, 2);
    EXPECT_EQ(state.dtmfDelay, 5);
    EXPECT_EQ(state.userDescription, DeviceState::TextField("Truck 7", 12));
}

TEST(SettingCommandsTest, GetsShowTheDevicesValues) {
    DeviceState state;
    state.wideBand = 2;
    state.disp = 2;
    state.radioMfg = 2;
    state.squelch = 2;
    state.dtmfDelay = 12;
    state.minVolume = 0xF0;
    Handlers h(state);
    h.dialog.OnWideBandGet();
    h.dialog.OnDispGet();
    h.dialog.OnRadioMfgGet();
    h.dialog.OnSquelchGet();
    h.dialog.OnDtmfDelayGet();
    h.dialog.OnMinVolumeGet();
    EXPECT_EQ(h.device.Requests(),
              (std::vector<Bytes>{
                  {0x34, 0x02}, {0x35, 0x02}, {0x39, 0x02}, {0x3B, 0x02}, {0x36, 0x02}, {0x3A, 0x02}}));
    EXPECT_EQ(h.dialog.LogContents(),
              "Sending Wide Band Read request:\r\n34(Wide Band):\r\nWide Band Read Response:\r\n"
              "Wide Band Disabled\r\n"
              "Sending 'DISP' button Read request: \r\n'DISP' button Response:\r\nTBD\r\n"
              "Sending Radio Mfg Read request: \r\nRadio Mfg Read Response:\r\nICOM\r\n"
              "Sending 'SQUELCH' button Read request: \r\n'SQUELCH' button Response:\r\nSQLCH\r\n"
              "Sending DTMF Delay read request:\r\n36(DTMF Delay):\r\nDTMF Delay read Response:\r\n"
              "Sending MIN volume read request:\r\n0x3A(MIN volume):\r\nMIN volume read Response:\r\n");
    EXPECT_TRUE(h.controls.At(ctl::kWideBandDisable).checked);
    EXPECT_FALSE(h.controls.At(ctl::kWideBandEnable).checked);
    EXPECT_EQ(h.controls.At(ctl::kDispList).current, 1);
    EXPECT_EQ(h.controls.At(ctl::kRadioMfgList).current, 1);
    EXPECT_EQ(h.controls.At(ctl::kSquelchList).current, 1);
    EXPECT_EQ(h.controls.At(ctl::kDtmfDelayEdit).text, "12");
    EXPECT_EQ(h.controls.At(ctl::kMinVolumeEdit).text, "-16");
    // A Get chooses the entry without a selection change: the values stay until a Set refreshes them.
    EXPECT_EQ(h.dialog.DispChoice(), 0);
    h.dialog.OnSquelchSet();
    EXPECT_EQ(h.device.Requests().back(), (Bytes{0x3B, 0x01, 0x02}));
}

TEST(SettingCommandsTest, DtmfDelayGetRefusesValuesOutsideOneToTwenty) {
    for (const auto& [value, shown] :
         std::vector<std::pair<std::uint8_t, const char*>>{{0x15, "21"}, {0x80, "-128"}}) {
        DeviceState state;
        state.dtmfDelay = value;
        Handlers h(state);
        h.dialog.OnDtmfDelayGet();
        EXPECT_EQ(h.dialog.LogContents(),
                  std::string("Sending DTMF Delay read request:\r\n36(DTMF Delay):\r\n"
                              "DTMF Delay read Response:\r\nUnrecognized response[2]: ") +
                      shown + "\r\n");
        EXPECT_EQ(h.controls.At(ctl::kDtmfDelayEdit).text, "1");
    }
}

// --- checks before or under the lock ---------------------------------------------------------------

TEST(SettingCommandsTest, ListSetWithNoEntrySendsNothingAndReleasesTheLock) {
    Handlers h;
    h.dialog.OnSquelchSet();
    h.dialog.OnRadioMfgSet();
    h.dialog.OnDispSet();
    EXPECT_TRUE(h.device.Requests().empty());
    EXPECT_EQ(h.dialog.LogContents(),
              "Please Select a 'SQUELCH' button entry\r\nPlease Select a Radio Mfg\r\n"
              "Please Select a 'DISP' button entry\r\n");
    EXPECT_TRUE(h.AllCommandsEnabled());
}

TEST(SettingCommandsTest, WideBandSetWithNeitherButtonCheckedLogsItsOpeningLineFirst) {
    Handlers h;
    h.controls.SetCheck(ctl::kWideBandEnable, false);
    h.dialog.OnWideBandSet();
    EXPECT_TRUE(h.device.Requests().empty());
    EXPECT_EQ(h.dialog.LogContents(),
              "Sending Wide Band Write request:\r\nno input. Please choose enable\r\nor disable");
    EXPECT_TRUE(h.AllCommandsEnabled());
}

TEST(SettingCommandsTest, NumberOverItsLimitIsRefusedWithoutTouchingTheLock) {
    struct Case {
        int edit;
        const char* value;
        void (RadioConfigDialog::*handler)();
        const char* log;
    };
    for (const Case& c :
         {Case{ctl::kDtmfDelayEdit, "21", &RadioConfigDialog::OnDtmfDelaySet, "Value must be 20 or less\r\n"},
          Case{ctl::kMinVolumeEdit, "16", &RadioConfigDialog::OnMinVolumeSet,
               "Value must be 15 or less\r\n"}}) {
        Handlers h;
        h.controls.SetDlgItemText(c.edit, c.value);
        (h.dialog.*c.handler)();
        EXPECT_EQ(h.dialog.LogContents(), c.log);
        EXPECT_EQ(h.controls.enableCalls, 0);
        EXPECT_TRUE(h.device.Requests().empty());
    }
}

TEST(SettingCommandsTest, SerialNumberFieldIsCutAtThirtyTwoButLoggedWhole) {
    Handlers h;
    const std::string full(32, 'F');
    h.controls.SetDlgItemText(ctl::kSerialNumberEdit, full);
    h.dialog.OnSerialNumberWrite();
    const std::string longer = full + "EXTRA!";
    h.controls.SetDlgItemText(ctl::kSerialNumberEdit, longer);
    h.dialog.OnSerialNumberWrite();
    const Bytes expected = testsupport::Concat({0x37, 0x01}, Text(full, 32));
    EXPECT_EQ(h.device.Requests(), (std::vector<Bytes>{expected, expected}));
    EXPECT_NE(h.dialog.LogContents().find("Setting Serial Number to: \r\n" + longer + "\r\n"),
              std::string::npos);
}

// --- text reads ----------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string stored;  // the device's serial number field
    std::vector<std::string> faults;
    std::string log;  // after the opening line
    std::string edit;
};

TEST(SettingCommandsTest, SerialNumberReadTakesTheTextAsLongAsTheReply) {
    const std::string head = "Sending Serial Number read request:\r\n";
    const std::string checks =
        "37(Serial Number):\r\nSerial Number read Response:\r\nSerial Number Received:\r\n";
    const std::vector<ReadCase> cases{
        {"sample of 8 bytes",
         DeviceState::TextField("AB12", 32),
         {"37:short=8"},
         "Received : 8 bytes\r\n" + checks + "AB12\r\n",
         "AB12"},
        {"whole field",
         DeviceState::TextField("SIM-42", 32),
         {},
         "Received : 34 bytes\r\n" + checks + "SIM-42\r\n",
         "SIM-42"},
        {"header only",
         DeviceState::TextField("AB12", 32),
         {"37:short=2"},
         "Received : 2 bytes\r\n" + checks + "\r\n",
         ""},
        {"zero byte inside",
         std::string("AB\0CD", 5) + std::string(27, '\0'),
         {},
         "Received : 34 bytes\r\n" + checks + "AB\r\n",
         "AB"},
        {"forty of fifty",
         std::string(32, 'S'),
         {"37:long=50"},
         "Received : 40 bytes\r\n" + checks + std::string(32, 'S') + "UUUUUU\r\n",
         std::string(32, 'S') + "UUUUUU"},
    };
    for (const ReadCase& c : cases) {
        DeviceState state;
        state.serialNumber = c.stored;
        Handlers h(state, c.faults);
        h.controls.SetDlgItemText(ctl::kSerialNumberEdit, "old");
        h.dialog.OnSerialNumberRead();
        EXPECT_EQ(h.device.Requests(), (std::vector<Bytes>{{0x37, 0x02}})) << c.name;
        EXPECT_EQ(h.dialog.LogContents(), head + c.log) << c.name;
        EXPECT_EQ(h.controls.At(ctl::kSerialNumberEdit).text, c.edit) << c.name;
    }
}

TEST(SettingCommandsTest, UserDescriptionReadUsesItsOwnTexts) {
    DeviceState state;
    state.userDescription = DeviceState::TextField("Depot", 12);
    Handlers h(state);
    h.dialog.OnUserDescriptionRead();
    EXPECT_EQ(
        h.dialog.LogContents(),
        "Sending read request:\r\nReceived : 14 bytes\r\n(User Descript):\r\nUser Descript read Response:\r\n"
        "User Desciption Received:\r\nDepot\r\n");
    EXPECT_EQ(h.controls.At(ctl::kUserDescriptionEdit).text, "Depot");
}

TEST(SettingCommandsTest, OneByteTextReplyStopsAtTheSubCodeCheck) {
    Handlers h({}, {"37:short=1"});
    h.controls.SetDlgItemText(ctl::kSerialNumberEdit, "keep");
    h.dialog.OnSerialNumberRead();
    EXPECT_EQ(h.dialog.LogContents(),
              "Sending Serial Number read request:\r\nReceived : 1 bytes\r\n"
              "37(Serial Number):\r\nUnrecognized response[1]: \r\n");
    EXPECT_EQ(h.controls.At(ctl::kSerialNumberEdit).text, "keep");
}

// --- what the device gets wrong ------------------------------------------------------------------

struct FaultCase {
    const char* name;
    std::string fault;
    std::string log;
};

TEST(SettingCommandsTest, ReplyFaultsAreReportedAndChangeNothing) {
    const std::string opening = "Sending DTMF Delay write request:\r\n";
    const std::vector<FaultCase> cases{
        {"failure status", "36:status1",
         opening + "36(DTMF Delay):\r\nDTMF Delay write Response:\r\nDTMF Delay write FAILED\r\n"},
        {"wrong code", "36:code=C8", opening + "Unexpected response[0]: -56\r\n"},
        {"wrong sub-code after the echo line", "36:sub",
         opening + "36(DTMF Delay):\r\nUnrecognized response[1]: 2\r\n"},
        {"silence", "36:silence", opening + "Timed out waiting for response\r\n"},
    };
    for (const FaultCase& c : cases) {
        Handlers h({}, {c.fault});
        h.controls.SetDlgItemText(ctl::kDtmfDelayEdit, "9");
        h.dialog.OnDtmfDelaySet();
        EXPECT_EQ(h.dialog.LogContents(), c.log) << c.name;
        EXPECT_TRUE(h.AllCommandsEnabled()) << c.name;
        EXPECT_FALSE(h.dialog.Link().IsOpen()) << c.name;
        EXPECT_EQ(h.controls.At(ctl::kDtmfDelayEdit).text, "9") << c.name;
    }
}

// A command that gets no reply waits for the first byte for as long as its rounds of half an interval
// ran: ordinary commands 101 rounds of 5 ms (50 polls of 10 ms), the two text reads 41 rounds of 50 ms
// (20 of 100 ms); then the time-out line pauses 100 ms. Only a lower bound is certain; the upper one
// catches a hang.
TEST(SettingCommandsTest, UnansweredCommandsWaitOnTheirOwnSchedule) {
    struct Case {
        void (RadioConfigDialog::*handler)();
        std::string fault;
        int leastMs;
    };
    for (const Case& c : {Case{&RadioConfigDialog::OnDtmfDelayGet, "36:silence", 505},
                          Case{&RadioConfigDialog::OnSerialNumberRead, "37:silence", 2050}}) {
        Handlers h({}, {c.fault});
        const auto start = std::chrono::steady_clock::now();
        (h.dialog.*c.handler)();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_GE(ms.count(), c.leastMs + 100) << c.fault;
        EXPECT_LT(ms.count(), c.leastMs + 10000) << c.fault;
        EXPECT_TRUE(h.dialog.LogContents().ends_with("Timed out waiting for response\r\n")) << c.fault;
        ASSERT_FALSE(h.controls.sleeps.empty());
        EXPECT_EQ(h.controls.sleeps.back(), 100) << c.fault;
    }
}

// A status the program does not know, from a far end that answers whatever the test scripts.
TEST(SettingCommandsTest, UnrecognisedStatusIsShownSigned) {
    struct Case {
        void (RadioConfigDialog::*handler)();
        Bytes request;
        Bytes reply;
        std::string log;
    };
    const std::vector<Case> cases{
        {&RadioConfigDialog::OnMinVolumeSet,
         {0x3A, 0x01, 0x05},
         {0x3A, 0x01, 0xFF},
         "Sending MIN volume write request:\r\n0x3A(MIN volume):\r\nMIN volume write Response:\r\n"
         "Unrecognized response[2]: -1\r\n"},
        {&RadioConfigDialog::OnSerialNumberWrite,
         testsupport::Concat({0x37, 0x01}, Text("", 32)),
         {0x37, 0x01, 0x02},
         "Setting Serial Number to: \r\n\r\n37(Serial Number):\r\nSerial Number Write Response:\r\n"
         "Unrecognized Write response[2]: 2\r\n"},
    };
    for (const Case& c : cases) {
        testsupport::PortsDirectory ports;
        testsupport::FarEnd far(ports.Path(), 1);
        MemoryDialogControls controls;
        RadioConfigDialog dialog(controls);
        dialog.OnInitDialog();
        controls.SetDlgItemText(ctl::kMinVolumeEdit, "5");
        std::thread device([&] {
            EXPECT_EQ(far.Read(c.request.size()), c.request);
            far.Send(c.reply);
        });
        (dialog.*c.handler)();
        device.join();
        EXPECT_EQ(dialog.LogContents(), c.log);
    }
}

TEST(SettingCommandsTest, WrongSubCodeWithoutAnEchoLine) {
    Handlers h({}, {"35:sub"});
    h.controls.SetCurSel(ctl::kDispList, 0);
    h.dialog.OnDispSet();
    EXPECT_EQ(h.dialog.LogContents(),
              "Sending 'DISP' button write request: 1\r\nUnrecognized response[1]: 2\r\n");
}

TEST(SettingCommandsTest, WrongCodeOnAGetLeavesTheListAlone) {
    Handlers h({}, {"39:code=C8"});
    h.dialog.OnRadioMfgGet();
    EXPECT_EQ(h.dialog.LogContents(), "Sending Radio Mfg Read request: \r\nUnexpected response[0]: -56\r\n");
    EXPECT_EQ(h.controls.At(ctl::kRadioMfgList).current, -1);
}

TEST(SettingCommandsTest, PortThatDoesNotOpenEndsTheCommandCleanly) {
    Handlers h;
    h.controls.SetDlgItemText(ctl::kSerialPortEdit, "COM1");
    h.dialog.OnMinVolumeGet();
    EXPECT_TRUE(
        h.dialog.LogContents().starts_with("Sending MIN volume read request:\r\nOpen com port failed\r\n"));
    EXPECT_TRUE(h.AllCommandsEnabled());
    EXPECT_TRUE(h.device.Requests().empty());
}

TEST(SettingCommandsTest, UnderAWorkerTheLockStaysOn) {
    Handlers h;
    h.dialog.SetWorkerFlag(true);
    h.dialog.OnWideBandGet();
    EXPECT_FALSE(h.controls.At(ctl::kWideBandGet).enabled);
    EXPECT_FALSE(h.dialog.Link().IsOpen());
    EXPECT_TRUE(h.dialog.LogContents().ends_with("Wide Band Enabled\r\n"));
}

}  // namespace
