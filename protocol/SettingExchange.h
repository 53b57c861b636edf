#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/DeviceCommand.h"
#include "protocol/Frame.h"
#include "protocol/LogSink.h"

// The steps of a setting or text command that decide bytes and texts, in the order a handler runs them.
// The handler owns the busy lock, the port and the controls; it passes each step the command's row, what
// it read from the window, and the reply as received (the buffer and the count the wait returned, -1 on
// a time-out). Every step with a reply of n <= 0 logs nothing: the exchange has already reported it.
//
//   one-byte Set:  SetInputAccepted (before the lock) -> BeginSet -> send -> wait -> CheckWriteReply
//   one-byte Get:  BeginGet -> send -> wait -> DecodeSettingReply
//   text Write:    BeginTextWrite -> send -> wait -> CheckWriteReply
//   text Read:     BeginGet -> send -> wait -> DecodeTextReply
namespace protocol {

// The Wide Band value the radio buttons stand for: Disable wins when both are checked; 0 when neither is.
std::int32_t WideBandValue(bool enableChecked, bool disableChecked);

// Runs before the busy lock. False after logging the refusal: a number over its command's limit. There is
// no lower bound; a negative number goes out as its low 8 bits.
bool SetInputAccepted(const DeviceCommand& command, std::int32_t value, LogSink& log);

// Why a Set of `value` would not go out, as its refusal reads, without logging anything: a list with
// nothing chosen, Wide Band with neither button, a number over its limit. Empty when it would go.
std::string_view SetRefusal(const DeviceCommand& command, std::int32_t value);

// Runs under the busy lock: the opening line and the check that belongs there (no selection made, no
// radio button checked), in the command's order. The request to send, or none after a refusal.
// `value` gives the selection value, the Wide Band value or the edit's number; it is asked for where the
// command looks at the window (Wide Band after its opening line, the others before).
std::optional<WriteRequestBytes> BeginSet(const DeviceCommand& command,
                                          const std::function<std::int32_t()>& value, LogSink& log);

// Logs the opening line; the two-byte read request.
ReadRequestBytes BeginGet(const DeviceCommand& command, LogSink& log);

// Logs the setting line and the whole text (however long); the request with the text cut to its field.
std::vector<std::uint8_t> BeginTextWrite(const DeviceCommand& command, const std::string& text, LogSink& log);

// The reply to a one-byte Set or a text Write: header checks, then the status. `request` is what was
// sent; its value picks the outcome texts where they depend on it (Wide Band).
ReplyOutcome CheckWriteReply(const DeviceCommand& command, std::span<const std::uint8_t> request,
                             std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);

// The reply to a one-byte Get: the value to show, or none when the window keeps what it shows. A list or
// Wide Band gets 1 or 2 (its first or second entry, Enable or Disable); a number edit gets the signed byte.
std::optional<std::int32_t> DecodeSettingReply(const DeviceCommand& command,
                                               std::span<const std::uint8_t> reply, std::int32_t n,
                                               LogSink& log);

// The reply to a text Read: the text for the edit (possibly empty), or none when the edit keeps its own.
// The text runs from byte 2 to the last byte received and ends at the first zero byte.
std::optional<std::string> DecodeTextReply(const DeviceCommand& command, std::span<const std::uint8_t> reply,
                                           std::int32_t n, LogSink& log);

}  // namespace protocol
