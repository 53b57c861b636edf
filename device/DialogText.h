#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// How the window reads a number out of an edit: optional spaces, an optional minus sign, decimal
// digits, optional spaces. Anything else, or a value outside 32 bits, is not a number.
inline std::optional<std::int32_t> ParseDialogInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (digits == 0 || i != text.size()) return std::nullopt;
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// GetDlgItemInt: empty or non-numeric text reads as 0.
inline std::int32_t DialogIntOrZero(std::string_view text) { return ParseDialogInt(text).value_or(0); }
