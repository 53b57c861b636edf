#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Where protocol code writes its log lines: the four append operations of the log console. Texts carry
// their own line ends; nothing here adds one.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Text(std::string_view text, bool pause = false) = 0;
    virtual void Number(std::int32_t value, bool pause = false) = 0;
    virtual void String(const std::string& text, bool pause = false) = 0;
    virtual void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) = 0;
};

// A log that keeps nothing, for a caller that says what it found in words of its own.
class SilentLog : public LogSink {
public:
    void Text(std::string_view, bool) override {}
    void Number(std::int32_t, bool) override {}
    void String(const std::string&, bool) override {}
    void Hex(std::span<const std::uint8_t>, std::int32_t) override {}
};

// What Hex shows: the first `count` bytes (none for a count of 0 or less), two lower-case digits each.
inline std::string HexDigits(std::span<const std::uint8_t> bytes, std::int32_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t n = count > 0 ? std::min(bytes.size(), static_cast<std::size_t>(count)) : 0;
    std::string hex;
    hex.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return hex;
}
