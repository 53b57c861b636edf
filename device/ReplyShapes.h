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
