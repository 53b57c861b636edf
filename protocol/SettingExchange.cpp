#include "protocol/SettingExchange.h"

#include <algorithm>

namespace protocol {

namespace {

constexpr std::int32_t kFirstValue = 1;
constexpr std::int32_t kSecondValue = 2;
constexpr std::int32_t kNoValue = 0;
constexpr std::size_t kValueIndex = 2;
constexpr std::size_t kTextStart = 2;

StatusTexts OutcomeTexts(const DeviceCommand& command, std::span<const std::uint8_t> request) {
    const SetTexts& set = command.set;
    const bool secondSent = request.size() > kValueIndex && request[kValueIndex] == kSecondValue;
    return secondSent && !set.statusForSecondValue.success.empty() ? set.statusForSecondValue : set.status;
}

}  // namespace

std::int32_t WideBandValue(bool enableChecked, bool disableChecked) {
    if (disableChecked) return kSecondValue;
    return enableChecked ? kFirstValue : kNoValue;
}

bool SetInputAccepted(const DeviceCommand& command, std::int32_t value, LogSink& log) {
    if (command.kind != CommandKind::kNumber || value <= command.set.limit) return true;
    LogLine(log, command.set.refusal);
    return false;
}

std::string_view SetRefusal(const DeviceCommand& command, std::int32_t value) {
    switch (command.kind) {
        case CommandKind::kSwitch:
        case CommandKind::kChoice:
            return value == kNoValue ? command.set.refusal : std::string_view{};
        case CommandKind::kNumber:
            return value > command.set.limit ? command.set.refusal : std::string_view{};
        default:
            return {};
    }
}

std::optional<WriteRequestBytes> BeginSet(const DeviceCommand& command,
                                          const std::function<std::int32_t()>& readValue, LogSink& log) {
    const SetTexts& set = command.set;
    std::int32_t value = kNoValue;
    switch (command.kind) {
        case CommandKind::kSwitch:
            LogLine(log, set.opening);
            value = readValue();
            if (value == kNoValue) {
                LogLine(log, set.refusal);
                return std::nullopt;
            }
            break;
        case CommandKind::kChoice:
            value = readValue();
            if (value == kNoValue) {
                LogLine(log, set.refusal);
                return std::nullopt;
            }
            LogLine(log, set.opening);
            log.Number(value);
            log.Text(kLineEnd);
            break;
        case CommandKind::kNumber:
            value = readValue();
            LogLine(log, set.opening);
            break;
        case CommandKind::kText:
        case CommandKind::kHomeNumber:
            return std::nullopt;  // no one-byte value to write
    }
    return WriteRequest(command.code, value);
}

ReadRequestBytes BeginGet(const DeviceCommand& command, LogSink& log) {
    LogLine(log, command.get.opening);
    return ReadRequest(command.code);
}

std::vector<std::uint8_t> BeginTextWrite(const DeviceCommand& command, const std::string& text,
                                         LogSink& log) {
    LogLine(log, command.set.opening);
    log.String(text);
    log.Text(kLineEnd);
    return TextWriteRequest(command.code, text, command.set.fieldSize);
}

ReplyOutcome CheckWriteReply(const DeviceCommand& command, std::span<const std::uint8_t> request,
                             std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    const ReplyOutcome header =
        CheckReply(reply, n, command.code, kWriteSubCode, command.echo, command.set.header, log);
    if (header != ReplyOutcome::kMatched) return header;
    return ReportWriteStatus(ReplyByte(reply, n, kValueIndex), OutcomeTexts(command, request),
                             command.set.unrecognisedStatus, log);
}

std::optional<std::int32_t> DecodeSettingReply(const DeviceCommand& command,
                                               std::span<const std::uint8_t> reply, std::int32_t n,
                                               LogSink& log) {
    const GetTexts& get = command.get;
    if (CheckReply(reply, n, command.code, kReadSubCode, command.echo, get.header, log) !=
        ReplyOutcome::kMatched) {
        return std::nullopt;
    }
    const auto byte = ReplyByte(reply, n, kValueIndex);
    const std::int32_t value = byte ? static_cast<std::int8_t>(*byte) : 0;
    if (!byte || value < get.lowest || value > get.highest) {
        LogByteLine(log, kUnrecognizedValue, byte);
        return std::nullopt;
    }
    if (value == kFirstValue || value == kSecondValue) LogLine(log, get.valueLines[value - kFirstValue]);
    return value;
}

std::optional<std::string> DecodeTextReply(const DeviceCommand& command, std::span<const std::uint8_t> reply,
                                           std::int32_t n, LogSink& log) {
    if (n <= 0) return std::nullopt;
    log.Text("Received : ");
    log.Number(n);
    log.Text(" bytes\r\n");
    const GetTexts& get = command.get;
    if (CheckReply(reply, n, command.code, kReadSubCode, command.echo, get.header, log) !=
        ReplyOutcome::kMatched) {
        return std::nullopt;
    }
    const std::size_t end = std::min(static_cast<std::size_t>(n), reply.size());
    const auto first = reply.begin() + static_cast<std::ptrdiff_t>(std::min(kTextStart, end));
    const auto last = std::find(first, reply.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0});
    std::string text(first, last);
    LogLine(log, get.received);
    log.String(text);
    log.Text(kLineEnd);
    return text;
}

}  // namespace protocol
