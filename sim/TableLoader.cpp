#include "sim/TableLoader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/UniqueFd.h"

namespace vantor::sim {
namespace {

constexpr std::string_view kChannelsKey = "Channels:";
constexpr std::string_view kNoCode = "FFF";
constexpr double kPllLimit = 6553.5;
constexpr std::size_t kLongestQuote = 40;
// A table of all 500 home numbers with PLL values is some 20 kB.
constexpr std::size_t kLargestFile = 1 << 20;

struct NumberKey {
    std::string_view key;
    std::string_view name;
    std::uint8_t DeviceState::*value;
    unsigned lowest;
    unsigned highest;
    bool zeroKeeps;  // a list saved with no entry chosen
};

constexpr NumberKey kNumberKeys[] = {
    {"MINvolume:", "MIN volume", &DeviceState::minVolume, 0, 15, false},
    {"DTMFDelay:", "DTMF Delay", &DeviceState::dtmfDelay, 1, 20, false},
    {"'SQUELCH':", "'SQUELCH' button", &DeviceState::squelch, 1, 2, true},
    {"'DISP':", "'DISP' button", &DeviceState::disp, 1, 2, true},
    {"RadioMfg:", "Radio Mfg", &DeviceState::radioMfg, 1, 2, true},
};

struct TextKey {
    std::string_view key;
    std::string DeviceState::*field;
    std::size_t size;
};

constexpr TextKey kTextKeys[] = {
    {"SerialNumber:", &DeviceState::serialNumber, kSerialNumberSize},
    {"UserDescript:", &DeviceState::userDescription, kUserDescriptionSize},
};

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text.substr(0, kLongestQuote)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            quoted += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            quoted += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            quoted += escaped;
        }
    }
    quoted += "\"";
    if (text.size() > kLongestQuote) quoted += "...";
    return quoted;
}

std::optional<unsigned> ParseUnsigned(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A code as the program sends it: one digit gets a leading zero.
std::optional<std::string> Code(std::string_view word) {
    if (word.empty() || word.size() > 3) return std::nullopt;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return word.size() == 1 ? "0" + std::string(word) : std::string(word);
}

std::optional<std::uint16_t> PllWireValue(std::string_view word) {
    double value = 0;
    const auto [end, ec] =
        std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::fixed);
    if (word.empty() || ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    if (!(value >= 0 && value < kPllLimit)) return std::nullopt;
    return static_cast<std::uint16_t>(std::trunc(value * 10));
}

std::optional<std::string> ApplySetting(std::string_view line, DeviceState& state) {
    for (const TextKey& text : kTextKeys) {
        if (!line.starts_with(text.key)) continue;
        std::string_view value = line.substr(text.key.size());
        if (value.starts_with(' ')) value.remove_prefix(1);
        state.*(text.field) = DeviceState::TextField(value, text.size);
        return std::nullopt;
    }
    const auto words = Words(line);
    if (words.size() == 2 && words[0] == "WideBand:") {
        const auto value = ParseUnsigned(words[1]);
        if (!value || *value > 1) return "bad Wide Band " + Quoted(words[1]) + " (expected 1 or 0)";
        state.wideBand = *value == 1 ? 1 : 2;
        return std::nullopt;
    }
    for (const NumberKey& number : kNumberKeys) {
        if (words.empty() || words[0] != number.key) continue;
        if (words.size() != 2) return std::string(number.name) + " needs one number";
        const auto value = ParseUnsigned(words[1]);
        if (value && *value == 0 && number.zeroKeeps) return std::nullopt;
        if (!value || *value < number.lowest || *value > number.highest) {
            return "bad " + std::string(number.name) + " " + Quoted(words[1]) + " (the device takes " +
                   std::to_string(number.lowest) + " to " + std::to_string(number.highest) + ")";
        }
        state.*(number.value) = static_cast<std::uint8_t>(*value);
        return std::nullopt;
    }
    return "unknown line " + Quoted(line);
}

std::optional<std::string> ApplyChannel(std::string_view line, DeviceState& state) {
    const auto words = Words(line);
    if (words.size() < 3) return "expected a home number line: NUMBER TX RX [PLTX VALUE] [PLRX VALUE]";
    const auto number = ParseUnsigned(words[0]);
    if (!number || *number < 1 || *number > static_cast<unsigned>(kHomeNumberCount)) {
        return "bad home number " + Quoted(words[0]) + " (expected 1 to " + std::to_string(kHomeNumberCount) +
               ")";
    }
    HomeNumberCodes codes;
    if (words[1] != kNoCode && words[2] != kNoCode) {
        const auto tx = Code(words[1]);
        const auto rx = Code(words[2]);
        if (!tx || !rx || tx->size() != rx->size()) {
            return "bad codes " + Quoted(words[1]) + " " + Quoted(words[2]) +
                   " (expected two codes of 2 or of 3 digits)";
        }
        codes = HomeNumberCodes{*tx, *rx};
    }
    PllValues pll;
    std::size_t i = 3;
    for (std::string_view key : {"PLTX", "PLRX"}) {
        if (i >= words.size() || words[i] != key) continue;
        if (*number > static_cast<unsigned>(kPllHomeNumberCount)) {
            return "PLL values are only for home numbers 1 to " + std::to_string(kPllHomeNumberCount);
        }
        const auto value = i + 1 < words.size() ? PllWireValue(words[i + 1]) : std::nullopt;
        if (!value) return "bad " + std::string(key) + " value (expected a number from 0 to below 6553.5)";
        (key == "PLTX" ? pll.tx : pll.rx) = *value;
        i += 2;
    }
    if (i != words.size())
        return "unexpected " + Quoted(words[i]) + " (expected PLTX VALUE, then PLRX VALUE)";
    state.homeNumbers[*number - 1] = codes;
    if (*number <= static_cast<unsigned>(kPllHomeNumberCount)) state.pll[*number - 1] = pll;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> LoadTableText(std::string_view text, DeviceState& state) {
    DeviceState loaded = state;
    bool inChannels = false;
    int lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (Trimmed(line).empty()) continue;

        std::optional<std::string> error;
        if (inChannels) {
            error = ApplyChannel(line, loaded);
        } else if (Trimmed(line) == kChannelsKey) {
            inChannels = true;
        } else {
            error = ApplySetting(line, loaded);
        }
        if (error) return "line " + std::to_string(lineNumber) + ": " + *error;
    }
    state = std::move(loaded);
    return std::nullopt;
}

std::optional<std::string> LoadTableFile(const std::filesystem::path& path, DeviceState& state) {
    const std::string cannot = "cannot read the table file " + path.string();
    // A directory opens as a file would and fails only at the first read (EISDIR), so it is caught there.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) return cannot + ": " + std::strerror(errno);
    std::string text;
    char buffer[8192];
    while (true) {
        const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return cannot + ": " + std::strerror(errno);
        if (count == 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > kLargestFile) {
            return cannot + ": more than " + std::to_string(kLargestFile >> 20) +
                   " MiB, far larger than a saved table";
        }
    }
    if (auto error = LoadTableText(text, state)) return path.string() + ": " + *error;
    return std::nullopt;
}

}  // namespace vantor::sim
