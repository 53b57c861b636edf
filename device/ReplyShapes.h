#pragma once

// What the replies of the session's commands look like, for the wait that tells when one is whole: used
// by the single commands and the transfers alike.
#include "device/DeviceSession.h"
#include "protocol/DeviceCommand.h"

inline constexpr ReplyShape kStatusReply{ReplyShape::Kind::kFixed, 3};
inline constexpr ReplyShape kHomeNumberStatusReply{ReplyShape::Kind::kFixed, 5};
inline constexpr ReplyShape kPllValuesReply{ReplyShape::Kind::kFixed, 8};
inline constexpr ReplyShape kHomeNumberCodesReply{ReplyShape::Kind::kHomeNumberCodes, 10};
inline ReplyShape TextReply(const protocol::DeviceCommand& command) {
    return {ReplyShape::Kind::kText, 2 + command.set.fieldSize};
}

// A reply as the decoders take it: its bytes, and how many came, -1 for none (a time-out, or a request
// that did not go out).
inline std::span<const std::uint8_t> Bytes(const DeviceSession::ReplyBytes& reply) {
    return reply.value_or(std::span<const std::uint8_t>{});
}
inline std::int32_t Count(const DeviceSession::ReplyBytes& reply) {
    return reply ? static_cast<std::int32_t>(reply->size()) : -1;
}
