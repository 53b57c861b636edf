#include "sim/DeviceModel.h"

#include <algorithm>

namespace vantor::sim {
namespace {

struct ByteSetting {
    std::uint8_t code;
    std::uint8_t DeviceState::*value;
    std::uint8_t lowest;  // values outside lowest..highest are refused with status 1
    std::uint8_t highest;
};

constexpr ByteSetting kByteSettings[] = {
    {kWideBandCode, &DeviceState::wideBand, 1, 2},    {kDispCode, &DeviceState::disp, 1, 2},
    {kDtmfDelayCode, &DeviceState::dtmfDelay, 1, 20}, {kRadioMfgCode, &DeviceState::radioMfg, 1, 2},
    {kMinVolumeCode, &DeviceState::minVolume, 0, 15}, {kSquelchCode, &DeviceState::squelch, 1, 2},
};

struct TextSetting {
    std::uint8_t code;
    std::string DeviceState::*field;
    std::size_t size;
};

constexpr TextSetting kTextSettings[] = {
    {kSerialNumberCode, &DeviceState::serialNumber, kSerialNumberSize},
    {kUserDescriptionCode, &DeviceState::userDescription, kUserDescriptionSize},
};

constexpr std::size_t kHeaderSize = 2;
constexpr std::size_t kHomeNumberHeaderSize = 4;     // code, sub-code, home number
constexpr std::size_t kLongestHomeNumberWrite = 10;  // two 3-digit codes
constexpr std::size_t kPllWriteSize = 8;

const ByteSetting* FindByteSetting(std::uint8_t code) {
    for (const auto& s : kByteSettings) {
        if (s.code == code) return &s;
    }
    return nullptr;
}

const TextSetting* FindTextSetting(std::uint8_t code) {
    for (const auto& s : kTextSettings) {
        if (s.code == code) return &s;
    }
    return nullptr;
}

// The fixed length of a request, or nullopt when the code and sub-code are unknown or, for a home number
// write, when the length depends on the codes it carries.
std::optional<std::size_t> FixedLength(std::uint8_t code, std::uint8_t sub) {
    if (sub != kWrite && sub != kRead) return std::nullopt;
    if (FindByteSetting(code)) return sub == kWrite ? kHeaderSize + 1 : kHeaderSize;
    if (const TextSetting* text = FindTextSetting(code))
        return sub == kWrite ? kHeaderSize + text->size : kHeaderSize;
    if (code == kPllCode) return sub == kWrite ? kPllWriteSize : kHomeNumberHeaderSize;
    if (code == kHomeNumberCode && sub == kRead) return kHomeNumberHeaderSize;
    return std::nullopt;
}

bool IsKnownCode(std::uint8_t code) { return code >= kHomeNumberCode && code <= kUserDescriptionCode; }

std::uint16_t Big16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void AppendBig16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// The header that every reply echoes, followed by the home number for the two home number commands.
Bytes ReplyHead(std::span<const std::uint8_t> request, std::size_t size) {
    return Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes WriteReply(std::span<const std::uint8_t> request, std::size_t headSize, bool stored) {
    Bytes reply = ReplyHead(request, headSize);
    reply.push_back(stored ? kStatusOk : kStatusRefused);
    return reply;
}

bool AllDigits(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b >= '0' && b <= '9'; });
}

}  // namespace

std::string DeviceState::TextField(std::string_view text, std::size_t size) {
    std::string field(text.substr(0, size));
    field.resize(size, '\0');
    return field;
}

FrameStatus ClassifyFrame(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return FrameStatus::kIncomplete;
    if (!IsKnownCode(bytes[0])) return FrameStatus::kUnknown;
    if (bytes.size() < kHeaderSize) return FrameStatus::kIncomplete;
    const std::uint8_t code = bytes[0];
    const std::uint8_t sub = bytes[1];
    if (code == kHomeNumberCode && sub == kWrite) {
        if (bytes.size() < kHomeNumberHeaderSize) return FrameStatus::kIncomplete;
        if (bytes.size() < kLongestHomeNumberWrite) return FrameStatus::kMaybeComplete;
        return bytes.size() == kLongestHomeNumberWrite ? FrameStatus::kComplete : FrameStatus::kUnknown;
    }
    const std::optional<std::size_t> length = FixedLength(code, sub);
    if (!length || bytes.size() > *length) return FrameStatus::kUnknown;
    return bytes.size() == *length ? FrameStatus::kComplete : FrameStatus::kIncomplete;
}

std::optional<Bytes> DeviceModel::Answer(std::span<const std::uint8_t> request, bool refuse) {
    if (request.size() < kHeaderSize) return std::nullopt;
    const std::uint8_t code = request[0];
    const std::uint8_t sub = request[1];
    if (code == kHomeNumberCode) return AnswerHomeNumber(request, refuse);
    if (code == kPllCode) return AnswerPll(request, refuse);

    const std::optional<std::size_t> length = FixedLength(code, sub);
    if (!length || request.size() != *length) return std::nullopt;

    if (const ByteSetting* setting = FindByteSetting(code)) {
        std::uint8_t& value = m_state.*(setting->value);
        if (sub == kRead) return Bytes{code, sub, value};
        const std::uint8_t wanted = request[2];
        const bool store = !refuse && wanted >= setting->lowest && wanted <= setting->highest;
        if (store) value = wanted;
        return WriteReply(request, kHeaderSize, store);
    }

    const TextSetting* text = FindTextSetting(code);
    std::string& field = m_state.*(text->field);
    if (sub == kRead) {
        Bytes reply{code, sub};
        reply.insert(reply.end(), field.begin(), field.end());
        return reply;
    }
    if (!refuse) field.assign(request.begin() + kHeaderSize, request.end());
    return WriteReply(request, kHeaderSize, !refuse);
}

std::optional<Bytes> DeviceModel::AnswerHomeNumber(std::span<const std::uint8_t> request, bool refuse) {
    const std::uint8_t sub = request[1];
    if (request.size() < kHomeNumberHeaderSize) return std::nullopt;
    const int number = Big16(request, 2);
    const bool inRange = number >= 1 && number <= kHomeNumberCount;

    if (sub == kRead) {
        // A read reply has no status byte to refuse with, so a home number the device does not have
        // goes unanswered.
        if (request.size() != kHomeNumberHeaderSize || !inRange) return std::nullopt;
        const HomeNumberCodes& codes = m_state.homeNumbers[number - 1];
        Bytes reply = ReplyHead(request, kHomeNumberHeaderSize);
        if (codes.tx.empty()) {
            reply.push_back(kNoCodes);
        } else {
            reply.insert(reply.end(), codes.tx.begin(), codes.tx.end());
            reply.insert(reply.end(), codes.rx.begin(), codes.rx.end());
        }
        return reply;
    }
    if (sub != kWrite || request.size() > kLongestHomeNumberWrite) return std::nullopt;

    // The request carries no length of its own codes: only 0, 2+2 and 3+3 digits can be split.
    const std::size_t codeLength = (request.size() - kHomeNumberHeaderSize) / 2;
    const bool splittable =
        request.size() == kHomeNumberHeaderSize || request.size() == 8 || request.size() == 10;
    const auto codeBytes = request.subspan(kHomeNumberHeaderSize);
    const bool store = !refuse && inRange && splittable && AllDigits(codeBytes);
    if (store) {
        HomeNumberCodes& codes = m_state.homeNumbers[number - 1];
        codes.tx.assign(codeBytes.begin(), codeBytes.begin() + static_cast<std::ptrdiff_t>(codeLength));
        codes.rx.assign(codeBytes.begin() + static_cast<std::ptrdiff_t>(codeLength), codeBytes.end());
    }
    return WriteReply(request, kHomeNumberHeaderSize, store);
}

std::optional<Bytes> DeviceModel::AnswerPll(std::span<const std::uint8_t> request, bool refuse) {
    const std::uint8_t sub = request[1];
    const std::optional<std::size_t> length = FixedLength(kPllCode, sub);
    if (!length || request.size() != *length) return std::nullopt;
    const int number = Big16(request, 2);
    const bool inRange = number >= 1 && number <= kPllHomeNumberCount;

    if (sub == kRead) {
        if (!inRange) return std::nullopt;
        const PllValues& pll = m_state.pll[number - 1];
        Bytes reply = ReplyHead(request, kHomeNumberHeaderSize);
        AppendBig16(reply, pll.tx);
        AppendBig16(reply, pll.rx);
        return reply;
    }
    const bool store = !refuse && inRange;
    if (store) m_state.pll[number - 1] = PllValues{Big16(request, 4), Big16(request, 6)};
    return WriteReply(request, kHomeNumberHeaderSize, store);
}

}  // namespace vantor::sim
