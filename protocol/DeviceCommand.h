#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/Frame.h"

// The device's commands, one row per code, with every line their checks and reports write. The setting
// and text commands are all run by the same few routines (SettingExchange.h); a row says what differs.
namespace protocol {

// Decides where a command's input check sits relative to its opening line, and how its read is taken.
enum class CommandKind : std::uint8_t {
    kHomeNumber,  // home number and PLL: frames and reports of their own, built on the same header
    kSwitch,      // Wide Band: opening line, then the radio-button check
    kChoice,      // a selection list: the check, then the opening text completed by the value
    kNumber,      // an edit's number: refused over its limit before the busy lock is taken
    kText,        // a fixed-size text field out; a text as long as the reply back
};

struct SetTexts {
    std::string_view opening{};  // ends without a line end where the value completes it (kChoice)
    std::string_view refusal{};  // logged instead of sending: no choice made, or a number over the limit
    std::int32_t limit = 0;      // kNumber: the largest value sent
    std::string_view header{};
    StatusTexts status{};
    // What the outcome reads when value 2 went out, where that differs (Wide Band Disable).
    StatusTexts statusForSecondValue{};
    std::string_view unrecognisedStatus{};
    std::size_t fieldSize = 0;  // kText: bytes of the text field in the request
};

struct GetTexts {
    std::string_view opening{};
    std::string_view header{};
    // Values a read accepts, taken as signed bytes; anything else is unrecognised.
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    std::array<std::string_view, 2> valueLines{};  // lines naming values 1 and 2, where a read shows them
    std::string_view received{};                   // kText: the line before the text
};

struct DeviceCommand {
    std::uint8_t code = 0;
    std::string_view name{};
    CommandKind kind = CommandKind::kHomeNumber;
    std::string_view echo{};  // empty: the command has no echo line
    SetTexts set{};
    GetTexts get{};
};

// Both buttons' read replies name their first value the same way.
inline constexpr std::string_view kNoneLine = "NONE\r\n";

// The texts of the home number and PLL commands belong to their own reports.
inline constexpr DeviceCommand kHomeNumber{.code = 0x33, .name = "Home Number"};
inline constexpr DeviceCommand kPll{.code = 0x38, .name = "PLL"};

inline constexpr DeviceCommand kWideBand{
    .code = 0x34,
    .name = "Wide Band",
    .kind = CommandKind::kSwitch,
    .echo = "34(Wide Band):\r\n",
    .set = {.opening = "Sending Wide Band Write request:\r\n",
            .refusal = "no input. Please choose enable\r\nor disable",
            .header = "Wide Band Write Response:\r\n",
            .status = {"Wide Band successfully enabled\r\n", "Wide Band enable FAILED\r\n"},
            .statusForSecondValue = {"Wide Band successfully disabled\r\n", "Wide Band disable FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus},
    .get = {.opening = "Sending Wide Band Read request:\r\n",
            .header = "Wide Band Read Response:\r\n",
            .lowest = 1,
            .highest = 2,
            .valueLines = {"Wide Band Enabled\r\n", "Wide Band Disabled\r\n"}},
};

inline constexpr DeviceCommand kDisp{
    .code = 0x35,
    .name = "'DISP' button",
    .kind = CommandKind::kChoice,
    .set = {.opening = "Sending 'DISP' button write request: ",
            .refusal = "Please Select a 'DISP' button entry\r\n",
            .header = "'DISP' button Write Response:\r\n",
            .status = {"'DISP' button Write Successful\r\n", "'DISP' button Write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus},
    .get = {.opening = "Sending 'DISP' button Read request: \r\n",
            .header = "'DISP' button Response:\r\n",
            .lowest = 1,
            .highest = 2,
            .valueLines = {kNoneLine, "TBD\r\n"}},
};

inline constexpr DeviceCommand kDtmfDelay{
    .code = 0x36,
    .name = "DTMF Delay",
    .kind = CommandKind::kNumber,
    .echo = "36(DTMF Delay):\r\n",
    .set = {.opening = "Sending DTMF Delay write request:\r\n",
            .refusal = "Value must be 20 or less\r\n",
            .limit = 20,
            .header = "DTMF Delay write Response:\r\n",
            .status = {"DTMF Delay write Success\r\n", "DTMF Delay write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedValue},
    .get = {.opening = "Sending DTMF Delay read request:\r\n",
            .header = "DTMF Delay read Response:\r\n",
            .lowest = 1,
            .highest = 20},
};

inline constexpr DeviceCommand kSerialNumber{
    .code = 0x37,
    .name = "Serial Number",
    .kind = CommandKind::kText,
    .echo = "37(Serial Number):\r\n",
    .set = {.opening = "Setting Serial Number to: \r\n",
            .header = "Serial Number Write Response:\r\n",
            .status = {"Serial Number Write Successful\r\n", "Serial Number Write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus,
            .fieldSize = 32},
    .get = {.opening = "Sending Serial Number read request:\r\n",
            .header = "Serial Number read Response:\r\n",
            .received = "Serial Number Received:\r\n"},
};

inline constexpr DeviceCommand kRadioMfg{
    .code = 0x39,
    .name = "Radio Mfg",
    .kind = CommandKind::kChoice,
    .set = {.opening = "Sending Radio Mfg write request: ",
            .refusal = "Please Select a Radio Mfg\r\n",
            .header = "Radio Mfg Write Response:\r\n",
            .status = {"Radio Mfg Write Successful\r\n", "Radio Mfg Write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus},
    .get = {.opening = "Sending Radio Mfg Read request: \r\n",
            .header = "Radio Mfg Read Response:\r\n",
            .lowest = 1,
            .highest = 2,
            .valueLines = {"KENWOOD\r\n", "ICOM\r\n"}},
};

inline constexpr DeviceCommand kMinVolume{
    .code = 0x3A,
    .name = "MIN volume",
    .kind = CommandKind::kNumber,
    .echo = "0x3A(MIN volume):\r\n",
    .set = {.opening = "Sending MIN volume write request:\r\n",
            .refusal = "Value must be 15 or less\r\n",
            .limit = 15,
            .header = "MIN volume write Response:\r\n",
            .status = {"MIN volume write Success\r\n", "MIN volume write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedValue},
    // Every byte is a volume, a negative one included.
    .get = {.opening = "Sending MIN volume read request:\r\n",
            .header = "MIN volume read Response:\r\n",
            .lowest = -128,
            .highest = 127},
};

inline constexpr DeviceCommand kSquelch{
    .code = 0x3B,
    .name = "'SQUELCH' button",
    .kind = CommandKind::kChoice,
    .set = {.opening = "Sending 'SQUELCH' button write request: ",
            .refusal = "Please Select a 'SQUELCH' button entry\r\n",
            .header = "'SQUELCH' button Write Response:\r\n",
            .status = {"'SQUELCH' button Write Successful\r\n", "'SQUELCH' button Write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus},
    .get = {.opening = "Sending 'SQUELCH' button Read request: \r\n",
            .header = "'SQUELCH' button Response:\r\n",
            .lowest = 1,
            .highest = 2,
            .valueLines = {kNoneLine, "SQLCH\r\n"}},
};

inline constexpr DeviceCommand kUserDescription{
    .code = 0x3C,
    .name = "User Description",
    .kind = CommandKind::kText,
    .echo = "(User Descript):\r\n",
    .set = {.opening = "Setting User Descript to: \r\n",
            .header = "User Descipt Write Response:\r\n",
            .status = {"User Descript Write Successful\r\n", "User Descript Write FAILED\r\n"},
            .unrecognisedStatus = kUnrecognizedWriteStatus,
            .fieldSize = 12},
    .get = {.opening = "Sending read request:\r\n",
            .header = "User Descript read Response:\r\n",
            .received = "User Desciption Received:\r\n"},
};

// Every code from 0x33 to 0x3C, in code order.
inline constexpr std::array<const DeviceCommand*, 10> kDeviceCommands{
    &kHomeNumber, &kWideBand, &kDisp,      &kDtmfDelay, &kSerialNumber,
    &kPll,        &kRadioMfg, &kMinVolume, &kSquelch,   &kUserDescription,
};

// The row of a command code; none for a code the device does not have.
constexpr const DeviceCommand* FindCommand(std::uint8_t code) {
    for (const DeviceCommand* command : kDeviceCommands) {
        if (command->code == code) return command;
    }
    return nullptr;
}

}  // namespace protocol
