#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "table/HomeNumberRules.h"
#include "tablefile/Keys.h"
#include "tablefile/TableFile.h"

namespace tablefile {
namespace {

// The longest serial number or user description a device read can put into the window.
constexpr std::size_t kTextLimit = 38;

enum class Key {
    kSerialNumber,
    kUserDescription,
    kDtmfDelay,
    kMinVolume,
    kWideBand,
    kSquelch,
    kDisp,
    kRadioMfg,
    kChannels,
    kNone
};

// In the order they are tested: a token that holds two keys acts as the first of them.
constexpr struct {
    std::string_view text;
    Key key;
} kKeys[] = {
    {kSerialNumberKey, Key::kSerialNumber},
    {kUserDescriptionKey, Key::kUserDescription},
    {kDtmfDelayKey, Key::kDtmfDelay},
    {kMinVolumeKey, Key::kMinVolume},
    {kWideBandKey, Key::kWideBand},
    {kSquelchKey, Key::kSquelch},
    {kDispKey, Key::kDisp},
    {kRadioMfgKey, Key::kRadioMfg},
    {kChannelsKey, Key::kChannels},
};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

Key KeyOf(std::string_view token) {
    for (const auto& k : kKeys) {
        if (token.find(k.text) != std::string_view::npos) return k.key;
    }
    return Key::kNone;
}

std::string_view KeyText(Key key) {
    for (const auto& k : kKeys) {
        if (k.key == key) return k.text;
    }
    return {};
}

// A token as a log line can show it: control bytes as \xNN, and no more than a line's worth of it (a binary
// file read by mistake is one long token).
std::string Shown(std::string_view token) {
    constexpr std::size_t kLongest = 40;
    std::string shown;
    for (const char c : token.substr(0, kLongest)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    if (token.size() > kLongest) shown += "...";
    return shown;
}

// Reads the file front to back; every read stops at the end of the bytes.
class Cursor {
public:
    explicit Cursor(std::string_view bytes) : m_bytes(bytes) {}

    // The next run of non-blank bytes; empty at the end of the file.
    std::string_view NextToken() {
        SkipSpace();
        const std::size_t start = m_pos;
        while (m_pos < m_bytes.size() && !IsSpace(m_bytes[m_pos])) ++m_pos;
        return m_bytes.substr(start, m_pos - start);
    }

    // An optional sign and decimal digits after any blanks, stopping before the first other byte. Nothing
    // when there are no digits. Larger magnitudes than any caller accepts all read as kNumberCap; `text`
    // receives what was read.
    std::optional<std::int64_t> NextNumber(std::string_view& text) {
        SkipSpace();
        const std::size_t start = m_pos;
        bool negative = false;
        if (m_pos < m_bytes.size() && (m_bytes[m_pos] == '+' || m_bytes[m_pos] == '-')) {
            negative = m_bytes[m_pos++] == '-';
        }
        const std::size_t digits = m_pos;
        std::int64_t value = 0;
        for (; m_pos < m_bytes.size() && IsDigit(m_bytes[m_pos]); ++m_pos) {
            value = std::min<std::int64_t>(value * 10 + (m_bytes[m_pos] - '0'), kNumberCap);
        }
        text = m_bytes.substr(start, m_pos - start);
        if (m_pos == digits) return std::nullopt;
        return negative ? -value : value;
    }

    // The line a token returned by NextToken (or the end of the file) stands on, counted from 1.
    std::size_t LineOf(std::string_view token) const {
        const auto end = m_bytes.begin() + (token.data() - m_bytes.data());
        return 1 + static_cast<std::size_t>(std::count(m_bytes.begin(), end, '\n'));
    }

    // The rest of the line after a key token, without the one byte that separates it from the key and
    // without the line end; the reading goes on with the next line. Cut to kTextLimit bytes.
    std::string_view RestOfLine() {
        const std::size_t lineFeed = m_bytes.find('\n', m_pos);
        const std::size_t end = lineFeed == std::string_view::npos ? m_bytes.size() : lineFeed;
        std::string_view line = m_bytes.substr(m_pos, end - m_pos);
        m_pos = lineFeed == std::string_view::npos ? m_bytes.size() : lineFeed + 1;
        // Also at the very end of the file: a CR there is what is left of a line end.
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty()) line.remove_prefix(1);
        return line.substr(0, kTextLimit);
    }

    static constexpr std::int64_t kNumberCap = std::int64_t{1} << 32;

private:
    void SkipSpace() {
        while (m_pos < m_bytes.size() && IsSpace(m_bytes[m_pos])) ++m_pos;
    }

    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

struct Stop {
    std::size_t line;
    std::string reason;
};

// Rows up to the end of the file. A token where a row number belongs that counts below 1 ends the loading:
// whatever follows it would be read out of place.
std::optional<Stop> ReadChannels(Cursor& cursor, LoadTarget& target) {
    std::string_view number;
    bool needNumber = true;
    for (;;) {
        if (needNumber) number = cursor.NextToken();
        if (number.empty()) return std::nullopt;
        if (table::AtoiValue(number) < 1)
            return Stop{cursor.LineOf(number), Shown(number) + " is not a home number"};
        const std::string_view tx = cursor.NextToken();
        const std::string_view rx = cursor.NextToken();
        target.SetHomeNumberRow(number, tx, rx);

        std::string_view pllTx;
        std::string_view pllRx;
        std::string_view next = cursor.NextToken();
        needNumber = true;
        if (next.find(kPllTxMark) != std::string_view::npos) {
            pllTx = cursor.NextToken();
            next = cursor.NextToken();
            if (next.find(kPllRxMark) != std::string_view::npos) {
                pllRx = cursor.NextToken();
            } else {
                needNumber = false;
            }
        } else if (next.find(kPllRxMark) != std::string_view::npos) {
            pllRx = cursor.NextToken();
        } else {
            needNumber = false;
        }
        target.SetPllColumns(number, pllTx, pllRx);
        // A row without both PLL parts has already read the token after it: the next row's number.
        if (!needNumber) number = next;
    }
}

// A stop when no number can be read after the key, which ends the loading. The two edits also take a
// negative value written as its unsigned 32-bit twin, as older files have it.
std::optional<Stop> ReadSetting(Key key, std::string_view keyToken, Cursor& cursor, LoadTarget& target) {
    std::string_view text;
    const std::optional<std::int64_t> number = cursor.NextNumber(text);
    const bool edit = key == Key::kDtmfDelay || key == Key::kMinVolume;
    const std::int64_t highest = edit ? std::int64_t{UINT32_MAX} : std::int64_t{INT32_MAX};
    if (!number) return Stop{cursor.LineOf(keyToken), "no number after " + std::string(KeyText(key))};
    if (*number < INT32_MIN || *number > highest) {
        return Stop{cursor.LineOf(text),
                    Shown(text) + " after " + std::string(KeyText(key)) + " is out of range"};
    }
    const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(*number));
    switch (key) {
        case Key::kDtmfDelay:
            target.SetDtmfDelay(value);
            break;
        case Key::kMinVolume:
            target.SetMinVolume(value);
            break;
        case Key::kWideBand:
            target.SetWideBand(value != 0);
            break;
        case Key::kSquelch:
            if (value == 1 || value == 2) target.SelectSquelch(value - 1);
            break;
        case Key::kDisp:
            if (value == 1 || value == 2) target.SelectDisp(value - 1);
            break;
        case Key::kRadioMfg:
            if (value <= 2) target.SelectRadioMfg(value <= 0 ? -1 : value - 1);
            break;
        default:
            break;
    }
    return std::nullopt;
}

// Takes every call and does nothing with it.
class NoTarget : public LoadTarget {
public:
    void SetSerialNumber(std::string_view) override {}
    void SetUserDescription(std::string_view) override {}
    void SetDtmfDelay(std::int32_t) override {}
    void SetMinVolume(std::int32_t) override {}
    void SetWideBand(bool) override {}
    void SelectSquelch(int) override {}
    void SelectDisp(int) override {}
    void SelectRadioMfg(int) override {}
    void SetHomeNumberRow(std::string_view, std::string_view, std::string_view) override {}
    void SetPllColumns(std::string_view, std::string_view, std::string_view) override {}
};

}  // namespace

LoadResult ReadTableFile(std::string_view bytes, LoadTarget& target) {
    LoadResult result;
    Cursor cursor(bytes);
    for (std::string_view token = cursor.NextToken(); !token.empty(); token = cursor.NextToken()) {
        std::optional<Stop> stop;
        switch (const Key key = KeyOf(token)) {
            case Key::kSerialNumber:
                target.SetSerialNumber(cursor.RestOfLine());
                break;
            case Key::kUserDescription:
                target.SetUserDescription(cursor.RestOfLine());
                break;
            case Key::kChannels:
                result.channels = true;
                stop = ReadChannels(cursor, target);
                break;
            case Key::kNone:
                break;
            default:
                stop = ReadSetting(key, token, cursor, target);
                break;
        }
        if (stop) {
            result.stopLine = stop->line;
            result.stopReason = std::move(stop->reason);
            break;
        }
    }
    return result;
}

LoadResult CheckTableFile(std::string_view bytes) {
    NoTarget nothing;
    return ReadTableFile(bytes, nothing);
}

}  // namespace tablefile
