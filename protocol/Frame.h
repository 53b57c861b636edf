#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/LogSink.h"

// The two header bytes every request and reply share, and the checks every reply goes through.
namespace protocol {

inline constexpr std::uint8_t kWriteSubCode = 0x01;
inline constexpr std::uint8_t kReadSubCode = 0x02;
inline constexpr std::uint8_t kStatusSuccess = 0x00;
inline constexpr std::uint8_t kStatusFailed = 0x01;

inline constexpr std::string_view kLineEnd = "\r\n";
// Failure labels; each is followed by the offending byte and a line end.
inline constexpr std::string_view kUnexpectedCode = "Unexpected response[0]: ";
inline constexpr std::string_view kUnrecognizedSubCode = "Unrecognized response[1]: ";
inline constexpr std::string_view kUnrecognizedValue = "Unrecognized response[2]: ";
inline constexpr std::string_view kUnrecognizedWriteStatus = "Unrecognized Write response[2]: ";

using ReadRequestBytes = std::array<std::uint8_t, 2>;
using WriteRequestBytes = std::array<std::uint8_t, 3>;

ReadRequestBytes ReadRequest(std::uint8_t code);
// Only the value's low 8 bits go out: -16 from an edit is sent as 0xF0.
WriteRequestBytes WriteRequest(std::uint8_t code, std::int32_t value);
// The text in a field of exactly fieldSize bytes: cut when longer, zero-padded when shorter, and with
// no terminator when it fills the field.
std::vector<std::uint8_t> TextWriteRequest(std::uint8_t code, std::string_view text, std::size_t fieldSize);

// How far a reply got. The first four come from the header check; the last three from a write status.
enum class ReplyOutcome {
    kNoReply,  // time-out or an empty read: the exchange has already said so
    kWrongCode,
    kWrongSubCode,
    kMatched,
    kSucceeded,
    kFailed,
    kUnrecognisedStatus,
};

// Byte `index` of a reply of n bytes held in `reply`; none when the reply did not reach it. Whatever lies
// beyond n in the buffer belongs to an earlier reply and must not be taken for this one.
std::optional<std::uint8_t> ReplyByte(std::span<const std::uint8_t> reply, std::int32_t n, std::size_t index);

// A failure line: the label, the byte as a signed 8-bit number, a line end. A byte that never arrived
// has no number to show.
void LogByteLine(LogSink& log, std::string_view label, std::optional<std::uint8_t> byte);

// A text from the command table; an empty one means the command has no such line (appended, it would
// clear the console).
void LogLine(LogSink& log, std::string_view text);

// Code, then the echo line (before the sub-code is looked at, so a wrong sub-code still shows it), then
// the sub-code, then the response header line. Stops at the first failure with its line.
ReplyOutcome CheckReply(std::span<const std::uint8_t> reply, std::int32_t n, std::uint8_t code,
                        std::uint8_t subCode, std::string_view echo, std::string_view header, LogSink& log);

struct StatusTexts {
    std::string_view success{};
    std::string_view failure{};
};

// The status byte of a write reply; `unrecognised` is the command's label for any other value.
ReplyOutcome ReportWriteStatus(std::optional<std::uint8_t> status, StatusTexts texts,
                               std::string_view unrecognised, LogSink& log);

}  // namespace protocol
