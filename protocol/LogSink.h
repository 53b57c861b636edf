#pragma once

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
