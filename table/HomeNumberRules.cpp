#include "table/HomeNumberRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace table {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kInvalidCodes = "Invalid Rx/Tx value";
constexpr std::string_view kPllTooLarge = "TxPLL and RxPLL must be less than 6553.5\r\n";
constexpr std::string_view kPllNegative = "TxPLL and RxPLL must not be negative\r\n";
constexpr std::string_view kPllNotNumber = "TxPLL and RxPLL must be numbers\r\n";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::size_t SkipSpace(std::string_view text, std::size_t i) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    return i;
}

// A number too large or too small for a double: the C library gives infinity for the one and zero for
// the other. Which it was follows from the place of the first non-zero digit, counted from the point, plus
// the exponent; the exponent's sign alone is not enough ("1" and 400 zeros "e-10" is too large).
double OutOfRange(std::string_view number, bool hex) {
    const std::int64_t digitPlaces = hex ? 4 : 1;  // binary places of a hex digit, as "p" counts them
    const char exponentMark = hex ? 'p' : 'e';
    std::int64_t places = 0;
    bool point = false;
    bool nonZero = false;
    std::size_t i = 0;
    for (; i < number.size() && (number[i] | 0x20) != exponentMark; ++i) {
        if (number[i] == '.') {
            point = true;
        } else if (!nonZero && number[i] == '0') {
            if (point) places -= digitPlaces;
        } else {
            nonZero = true;
            if (!point) places += digitPlaces;
        }
    }
    std::int64_t exponent = 0;
    if (i + 1 < number.size()) {
        const bool negative = number[i + 1] == '-';
        for (std::size_t j = i + 1; j < number.size(); ++j) {
            if (number[j] >= '0' && number[j] <= '9') {
                exponent = std::min<std::int64_t>(exponent * 10 + (number[j] - '0'), std::int64_t{1} << 40);
            }
        }
        if (negative) exponent = -exponent;
    }
    return places + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

double PllNumber(std::string_view text) { return AtofValue(text); }

// Not "above or at the limit": a value that is not a number (nan) is not below it either.
bool PllTooLarge(std::string_view tx, std::string_view rx) {
    return !(PllNumber(tx) < kPllLimit) || !(PllNumber(rx) < kPllLimit);
}
bool PllTooLarge(const Entry& entry) { return PllTooLarge(entry.pllTx, entry.pllRx); }

bool PllNegative(std::string_view tx, std::string_view rx) { return PllNumber(tx) < 0 || PllNumber(rx) < 0; }
bool PllNegative(const Entry& entry) { return PllNegative(entry.pllTx, entry.pllRx); }

bool PllNotNumber(std::string_view tx, std::string_view rx) { return !IsPllNumber(tx) || !IsPllNumber(rx); }
bool PllNotNumber(const Entry& entry) { return PllNotNumber(entry.pllTx, entry.pllRx); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool CodesRefused(const Codes& codes) {
    return !IsWireCode(codes.tx) || !IsWireCode(codes.rx) || codes.tx.size() != codes.rx.size();
}

bool HasPllText(const Entry& entry) { return !entry.pllTx.empty() || !entry.pllRx.empty(); }

}  // namespace

std::int32_t AtoiValue(std::string_view text) {
    std::size_t i = SkipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{INT32_MAX} + 1);
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, INT32_MAX));
}

double AtofValue(std::string_view text) {
    std::size_t i = SkipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::string_view number = text.substr(i);
    // from_chars takes a minus sign of its own, which the C library would not take after a sign.
    if (number.starts_with('-')) return 0.0;
    double value = 0.0;
    auto format = std::chars_format::general;
    if (number.size() > 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X') && number[2] != '-') {
        number.remove_prefix(2);
        format = std::chars_format::hex;
    }
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value, format);
    if (error == std::errc::result_out_of_range) {
        value = OutOfRange(number.substr(0, static_cast<std::size_t>(end - number.data())),
                           format == std::chars_format::hex);
    } else if (error != std::errc()) {
        value = 0.0;  // no number at all; "0x" alone reads as its 0, which this is too
    }
    return negative ? -value : value;
}

std::string StoredCode(std::string_view code) {
    return code.size() == 1 ? "0" + std::string(code) : std::string(code);
}

Codes CodesForSending(std::string_view tx, std::string_view rx) {
    Codes codes{StoredCode(tx), StoredCode(rx)};
    if (codes.tx == kNoCode || codes.rx == kNoCode) codes = {};
    return codes;
}

std::uint16_t PllWireValue(std::string_view text) {
    if (text.empty()) return kNoPllValue;
    const double tenths = std::trunc(AtofValue(text) * 10.0);
    if (!std::isfinite(tenths) || std::fabs(tenths) >= 0x1p62) return kNoPllValue;
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(tenths) & 0xFFFF);
}

std::string PllText(std::uint16_t wire) {
    if (wire == kNoPllValue) return {};
    // The value over ten with one decimal, written out digit by digit: the same text as "%.1f" gives,
    // whatever the process's locale says a decimal point is.
    return std::to_string(wire / 10) + "." + std::to_string(wire % 10);
}

bool IsPllNumber(std::string_view text) {
    if (text.empty()) return true;
    bool point = false;
    bool digit = false;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (IsDigit(c)) {
            digit = true;
        } else {
            return false;
        }
    }
    return digit;
}

bool IsWireCode(std::string_view code) {
    return (code.empty() || code.size() == 2 || code.size() == 3) &&
           std::all_of(code.begin(), code.end(), IsDigit);
}

std::optional<std::string_view> RowRefusal(const Codes& codes, std::string_view pllTx, std::string_view pllRx,
                                           bool withPll) {
    if (CodesRefused(codes)) return kInvalidCodes;
    if (!withPll) return std::nullopt;
    if (PllTooLarge(pllTx, pllRx)) return kPllTooLarge;
    if (PllNegative(pllTx, pllRx)) return kPllNegative;
    if (PllNotNumber(pllTx, pllRx)) return kPllNotNumber;
    return std::nullopt;
}

AddDecision CheckAdd(const Entry& entry, std::int32_t rowCount, LogSink& log) {
    using Action = AddDecision::Action;
    if (entry.number == 0) {
        log.Text("Please enter a valid home number\r\n");
        return {Action::kLogged, {}, {}};
    }
    if (entry.number > rowCount || entry.number < 0) {
        log.Text("Invalid Home Number.\r\n");
        log.Text("Channel must be less than ");
        log.Number(rowCount + 1);
        log.Text(kLineEnd);
        log.Text("and greater than 0\r\n");
        return {Action::kLogged, {}, {}};
    }
    Codes codes{StoredCode(entry.tx), StoredCode(entry.rx)};
    if (PllTooLarge(entry)) return {Action::kMessage, {}, kPllTooLarge};
    if (PllNegative(entry)) return {Action::kMessage, {}, kPllNegative};
    // "146,5" or "146.5 MHz" would go out as 146.0 or be saved as two words that end a later load.
    if (PllNotNumber(entry)) return {Action::kMessage, {}, kPllNotNumber};
    if ((codes.tx.empty() || codes.rx.empty()) && HasPllText(entry))
        return {Action::kMessage, {}, kInvalidCodes};
    if (codes.tx.size() != codes.rx.size()) return {Action::kMessage, {}, kInvalidCodes};
    return {Action::kStore, std::move(codes), {}};
}

WriteDecision CheckWrite(const Entry& entry, std::int32_t rowCount, LogSink& log) {
    using Action = WriteDecision::Action;
    Codes codes = CodesForSending(entry.tx, entry.rx);
    // The window's edits take at most three digits; a caller that fills them otherwise ("1234", "1a")
    // would have its codes cut or sent as they stand.
    if (CodesRefused(codes)) return {Action::kMessage, {}, kInvalidCodes};
    if (entry.number == 0) {
        log.Text("Please enter a home number\r\n");
        return {};
    }
    if ((codes.tx.empty() || codes.rx.empty()) && HasPllText(entry)) {
        log.Text("Please add Tx/Rx values\r\n");
        return {};
    }
    if (PllTooLarge(entry)) {
        log.Text(kPllTooLarge);
        return {};
    }
    // A negative value would go out as the low bits of its wire value: -0.1 as the no-value marker, -5 as
    // a value the device gives back as 6553.1.
    if (PllNegative(entry)) {
        log.Text(kPllNegative);
        return {};
    }
    if (PllNotNumber(entry)) {
        log.Text(kPllNotNumber);
        return {};
    }
    // Nothing would be sent; saying why is better than silence.
    if (!CheckReadNumber(entry.number, rowCount, log)) return {};
    return {Action::kSend, std::move(codes), {}};
}

bool CheckReadNumber(std::int32_t number, std::int32_t rowCount, LogSink& log) {
    if (number == 0) {
        log.Text("Please enter a Channel value\r\n");
        return false;
    }
    if (number > rowCount || number < 0) {
        log.Text("Invalid Home Number:\r\n");
        log.Text("Must be less than ");
        log.Number(rowCount);
        log.Text("\r\nand greater than 0.\r\n");
        return false;
    }
    return true;
}

}  // namespace table
