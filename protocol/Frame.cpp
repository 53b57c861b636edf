#include "protocol/Frame.h"

#include <algorithm>

namespace protocol {

ReadRequestBytes ReadRequest(std::uint8_t code) { return {code, kReadSubCode}; }

WriteRequestBytes WriteRequest(std::uint8_t code, std::int32_t value) {
    return {code, kWriteSubCode, static_cast<std::uint8_t>(value & 0xFF)};
}

std::vector<std::uint8_t> TextWriteRequest(std::uint8_t code, std::string_view text, std::size_t fieldSize) {
    std::vector<std::uint8_t> request(2 + fieldSize, 0);
    request[0] = code;
    request[1] = kWriteSubCode;
    const std::string_view kept = text.substr(0, fieldSize);
    std::transform(kept.begin(), kept.end(), request.begin() + 2,
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return request;
}

std::optional<std::uint8_t> ReplyByte(std::span<const std::uint8_t> reply, std::int32_t n,
                                      std::size_t index) {
    if (n <= 0 || index >= static_cast<std::size_t>(n) || index >= reply.size()) return std::nullopt;
    return reply[index];
}

void LogByteLine(LogSink& log, std::string_view label, std::optional<std::uint8_t> byte) {
    log.Text(label);
    if (byte) log.Number(static_cast<std::int8_t>(*byte));
    log.Text(kLineEnd);
}

void LogLine(LogSink& log, std::string_view text) {
    if (!text.empty()) log.Text(text);
}

ReplyOutcome CheckReply(std::span<const std::uint8_t> reply, std::int32_t n, std::uint8_t code,
                        std::uint8_t subCode, std::string_view echo, std::string_view header, LogSink& log) {
    if (n <= 0) return ReplyOutcome::kNoReply;
    const auto replyCode = ReplyByte(reply, n, 0);
    if (replyCode != code) {
        LogByteLine(log, kUnexpectedCode, replyCode);
        return ReplyOutcome::kWrongCode;
    }
    LogLine(log, echo);
    const auto replySubCode = ReplyByte(reply, n, 1);
    if (replySubCode != subCode) {
        LogByteLine(log, kUnrecognizedSubCode, replySubCode);
        return ReplyOutcome::kWrongSubCode;
    }
    LogLine(log, header);
    return ReplyOutcome::kMatched;
}

ReplyOutcome ReportWriteStatus(std::optional<std::uint8_t> status, StatusTexts texts,
                               std::string_view unrecognised, LogSink& log) {
    if (status == kStatusSuccess) {
        LogLine(log, texts.success);
        return ReplyOutcome::kSucceeded;
    }
    if (status == kStatusFailed) {
        LogLine(log, texts.failure);
        return ReplyOutcome::kFailed;
    }
    LogByteLine(log, unrecognised, status);
    return ReplyOutcome::kUnrecognisedStatus;
}

}  // namespace protocol
