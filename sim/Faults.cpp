#include "sim/Faults.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace vantor::sim {
namespace {

constexpr std::uint32_t kLongestPauseMs = 600000;
constexpr std::uint8_t kDefaultWrongCode = 0xC8;  // no command has it, and it reads as negative

struct ActionName {
    std::string_view name;
    FaultAction action;
    bool takesValue;
    bool needsValue;
};

constexpr ActionName kActions[] = {
    {"status1", FaultAction::kRefuse, false, false}, {"silence", FaultAction::kSilence, false, false},
    {"code", FaultAction::kCode, true, false},       {"sub", FaultAction::kSubCode, true, false},
    {"echo", FaultAction::kEcho, true, true},        {"short", FaultAction::kShort, true, false},
    {"long", FaultAction::kLong, true, false},       {"split", FaultAction::kSplit, true, false},
    {"delay", FaultAction::kDelay, true, true},      {"unplug", FaultAction::kUnplug, false, false},
};

constexpr std::string_view kActionList =
    "status1, silence, code, sub, echo, short, long, split, delay or unplug";

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::optional<std::uint32_t> ParseNumber(std::string_view text, int base) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint8_t> ParseByte(std::string_view text) {
    const auto value = ParseNumber(text, 16);
    if (!value || *value > 0xFF) return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

// "" when the selector was understood, else why not.
std::string ParseSelector(std::string_view text, FaultRule& rule) {
    if (const auto atSign = text.find('@'); atSign != std::string_view::npos) {
        std::string_view range = text.substr(atSign + 1);
        text = text.substr(0, atSign);
        const auto dash = range.find('-');
        const auto first = ParseNumber(range.substr(0, dash), 10);
        if (!first || *first == 0)
            return "bad occurrence " + Quoted(range) + " (expected N, N- or N-M, counted from 1)";
        rule.first = *first;
        rule.last = *first;
        if (dash != std::string_view::npos) {
            const std::string_view upper = range.substr(dash + 1);
            rule.last = std::numeric_limits<std::uint32_t>::max();
            if (!upper.empty()) {
                const auto last = ParseNumber(upper, 10);
                if (!last || *last < *first)
                    return "bad occurrence " + Quoted(range) + " (expected N, N- or N-M with M >= N)";
                rule.last = *last;
            }
        }
    }
    if (const auto slash = text.find('/'); slash != std::string_view::npos) {
        const std::string_view kind = text.substr(slash + 1);
        text = text.substr(0, slash);
        if (kind == "w") {
            rule.subCode = kWrite;
        } else if (kind == "r") {
            rule.subCode = kRead;
        } else {
            return "bad request kind " + Quoted(kind) + " (expected w or r)";
        }
    }
    if (text == "*" || text == "any") return "";
    rule.code = ParseByte(text);
    if (!rule.code)
        return "bad command code " + Quoted(text) + " (expected two hex digits such as 35, or * for any)";
    // A code outside the commands would select only garbage: most likely a slip, such as 53 for 35.
    if (*rule.code < kHomeNumberCode || *rule.code > kUserDescriptionCode)
        return "unknown command code " + Quoted(text) + " (the device's commands are 33 to 3C; * for any)";
    return "";
}

std::string ParseAction(std::string_view text, FaultRule& rule) {
    const auto equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    const auto known = std::find_if(std::begin(kActions), std::end(kActions),
                                    [&](const ActionName& a) { return a.name == name; });
    if (known == std::end(kActions))
        return "unknown action " + Quoted(name) + " (expected " + std::string(kActionList) + ")";
    rule.action = known->action;
    if (equals == std::string_view::npos) {
        return known->needsValue ? Quoted(name) + " needs a value, as in " + std::string(name) + "=100" : "";
    }
    const std::string_view argument = text.substr(equals + 1);
    if (!known->takesValue) return Quoted(name) + " takes no value";

    const auto comma = argument.find(',');
    if (comma != std::string_view::npos && rule.action != FaultAction::kSplit) {
        return Quoted(name) + " takes one value";
    }
    const std::string_view main = argument.substr(0, comma);
    const bool hex = rule.action == FaultAction::kCode || rule.action == FaultAction::kSubCode;
    std::optional<std::uint32_t> value = ParseNumber(main, 10);
    if (hex) {
        const auto byte = ParseByte(main);
        value = byte ? std::optional<std::uint32_t>(*byte) : std::nullopt;
    }
    if (!value) {
        return "bad value " + Quoted(main) + " for " + std::string(name) +
               (hex ? " (expected a byte in hex, such as C8)" : " (expected a decimal number)");
    }
    rule.value = *value;
    switch (rule.action) {
        case FaultAction::kEcho:
            if (*value > kLargestEchoedHomeNumber)
                return "echo takes a home number from 0 to " + std::to_string(kLargestEchoedHomeNumber);
            break;
        case FaultAction::kShort:
            if (*value == 0) return "short=0 leaves no reply: use silence";
            break;
        case FaultAction::kLong:
            if (*value == 0 || *value > kLongestReply)
                return "long takes 1 to " + std::to_string(kLongestReply) + " bytes";
            break;
        case FaultAction::kDelay:
        case FaultAction::kSplit:
            if (*value > kLongestPauseMs)
                return Quoted(name) + " takes at most " + std::to_string(kLongestPauseMs) + " ms";
            break;
        default:
            break;
    }
    if (comma != std::string_view::npos) {
        const auto at = ParseNumber(argument.substr(comma + 1), 10);
        if (!at || *at == 0)
            return "bad split point " + Quoted(argument.substr(comma + 1)) +
                   " (expected bytes in the first piece, 1 or more)";
        rule.at = *at;
    }
    return "";
}

}  // namespace

bool FaultRule::Selects(std::span<const std::uint8_t> request) const {
    if (code && (request.empty() || request[0] != *code)) return false;
    if (subCode && (request.size() < 2 || request[1] != *subCode)) return false;
    return true;
}

FaultParse ParseFault(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::string("expected SELECTOR:ACTION, such as 35:status1 or 33/r@2:silence");
    }
    FaultRule rule;
    if (std::string why = ParseSelector(text.substr(0, colon), rule); !why.empty()) return why;
    if (std::string why = ParseAction(text.substr(colon + 1), rule); !why.empty()) return why;
    return rule;
}

FaultPlan::FaultPlan(std::vector<FaultRule> rules) {
    for (auto& rule : rules) m_rules.push_back(Counted{std::move(rule)});
}

FaultEffects FaultPlan::Match(std::span<const std::uint8_t> request) {
    FaultEffects effects;
    for (Counted& counted : m_rules) {
        const FaultRule& rule = counted.rule;
        if (!rule.Selects(request)) continue;
        ++counted.seen;
        if (counted.seen < rule.first || counted.seen > rule.last) continue;
        switch (rule.action) {
            case FaultAction::kRefuse:
                effects.refuse = true;
                break;
            case FaultAction::kSilence:
                effects.silence = true;
                break;
            case FaultAction::kUnplug:
                effects.unplug = true;
                break;
            default:
                effects.shaping.push_back(rule);
                break;
        }
    }
    return effects;
}

std::vector<ReplyPiece> ShapeReply(Bytes reply, const FaultEffects& effects) {
    if (effects.silence || effects.unplug || reply.empty()) return {};
    std::chrono::milliseconds delay{0};
    const FaultRule* split = nullptr;
    for (const FaultRule& rule : effects.shaping) {
        switch (rule.action) {
            case FaultAction::kCode:
                reply[0] = rule.value ? static_cast<std::uint8_t>(*rule.value) : kDefaultWrongCode;
                break;
            case FaultAction::kSubCode:
                if (reply.size() < 2) break;
                if (rule.value) {
                    reply[1] = static_cast<std::uint8_t>(*rule.value);
                } else {
                    reply[1] = reply[1] == kWrite ? kRead : reply[1] == kRead ? kWrite : 0;
                }
                break;
            case FaultAction::kEcho:
                // Only home number and PLL replies carry a home number there; a shorter reply has none.
                if (reply.size() < 4 || !rule.value) break;
                reply[2] = static_cast<std::uint8_t>(*rule.value >> 8);
                reply[3] = static_cast<std::uint8_t>(*rule.value & 0xFF);
                break;
            case FaultAction::kShort:
                reply.resize(std::max<std::size_t>(
                    1, std::min<std::size_t>(rule.value.value_or(reply.size() - 1), reply.size())));
                break;
            case FaultAction::kLong:
                reply.resize(std::max<std::size_t>(reply.size(), rule.value.value_or(kDefaultLongSize)),
                             kFillerByte);
                break;
            case FaultAction::kSplit:
                split = &rule;
                break;
            case FaultAction::kDelay:
                delay += std::chrono::milliseconds(rule.value.value_or(0));
                break;
            default:
                break;
        }
    }
    std::vector<ReplyPiece> pieces;
    const std::size_t at = split ? split->at.value_or(reply.size() / 2) : reply.size();
    if (split && at >= 1 && at < reply.size()) {
        pieces.push_back(
            ReplyPiece{delay, Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(at))});
        const std::chrono::milliseconds pause =
            split->value ? std::chrono::milliseconds(*split->value) : kDefaultSplitPause;
        pieces.push_back(
            ReplyPiece{pause, Bytes(reply.begin() + static_cast<std::ptrdiff_t>(at), reply.end())});
    } else {
        pieces.push_back(ReplyPiece{delay, std::move(reply)});
    }
    return pieces;
}

const char kFaultSyntaxHelp[] = R"(Fault syntax: --fault SELECTOR:ACTION (the option may be repeated)
  SELECTOR  CODE[/w|/r][@RANGE]
    CODE    the command code in hex (33 to 3C, 0x prefix allowed), or * (or any) for every request
    /w /r   only write (sub-code 1) or only read (sub-code 2) requests
    @RANGE  which of the matching requests, counted from 1: @N the Nth only, @N-M the Nth to the Mth,
            @N- the Nth and all later ones; without it, every matching request
  ACTION
    status1          answer a write with status 1 and do not store it (reads are unaffected)
    silence          do not answer, and do not act on the request
    code[=XX]        reply with command code XX (hex; default C8)
    sub[=XX]         reply with sub-code XX (hex; default: 2 for a write, 1 for a read)
    echo=N           reply with home number N in bytes 2 and 3 (decimal, 0 to 65535, high byte first);
                     replies shorter than 4 bytes are left alone
    short[=N]        send only the first N bytes of the reply (default: all but the last)
    long[=N]         pad the reply with 55 bytes to N bytes (default 50)
    split[=MS[,AT]]  send the first AT bytes (default: half), pause MS ms (default 50), send the rest
    delay=MS         answer MS ms later than usual
    unplug           close the port as the request arrives (an unplugged adapter); no reply
  Several faults may act on one request; each counts the requests it matches on its own.
  Examples:
    --fault 35:status1          every 'DISP' button write is refused
    --fault 33/r@2:silence      the second home number read goes unanswered
    --fault 33/r@1:echo=9       the first home number read comes back as if for home number 9
    --fault 38@3-5:delay=700    PLL requests 3 to 5 are answered 700 ms late
    --fault 37/r:long           serial number reads come back 50 bytes long
    --fault '*@10:unplug'       nine requests are answered, then the port vanishes with the tenth
)";

}  // namespace vantor::sim

namespace vantor::sim {

std::optional<Chaos> ParseChaos(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const std::string_view seedText = text.substr(0, comma);
    const std::string rateText(text.substr(comma + 1));
    Chaos chaos;
    const auto [end, error] = std::from_chars(seedText.data(), seedText.data() + seedText.size(), chaos.seed);
    if (seedText.empty() || error != std::errc() || end != seedText.data() + seedText.size()) return std::nullopt;
    if (rateText.empty() || rateText.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    char* rateEnd = nullptr;
    chaos.rate = std::strtod(rateText.c_str(), &rateEnd);
    if (*rateEnd != '\0' || !(chaos.rate >= 0 && chaos.rate <= 1)) return std::nullopt;
    return chaos;
}

ChaosPlan::ChaosPlan(Chaos chaos) : m_state(chaos.seed), m_rate(chaos.rate) {}

std::uint64_t ChaosPlan::Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::optional<ChaosPlan::Picked> ChaosPlan::Pick(std::span<const std::uint8_t> request) {
    // Every request draws as many numbers, faulty or not, so that one request's fault never moves the
    // faults of the requests after it.
    const double chance = static_cast<double>(Next() >> 11) / static_cast<double>(1ULL << 53);
    const std::uint64_t kind = Next(), number = Next(), at = Next();
    if (m_rate <= 0 || chance >= m_rate) return std::nullopt;
    const bool write = request.size() > 1 && request[1] == 1;
    const bool homeNumber = !request.empty() && (request[0] == 0x33 || request[0] == 0x38);
    const bool textRead = request.size() > 1 && (request[0] == 0x37 || request[0] == 0x3C) && !write;
    // Each fault only where it is one a program can see: status 1 on a write; a wrong echo on a home
    // number's write reply (on a read reply it would be another home number's reading, well formed);
    // no cut or padded text reply (a text is as long as its reply: that would be another text).
    static constexpr std::string_view kNames[] = {"silence", "status1", "code", "sub",   "echo",
                                                  "short",   "long",    "split", "delay", "pieces"};
    std::vector<std::size_t> kinds;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const std::string_view name = kNames[i];
        if ((name == "status1" && !write) || (name == "echo" && !(homeNumber && write)) ||
            ((name == "short" || name == "long") && textRead))
            continue;
        kinds.push_back(i);
    }
    Picked picked;
    picked.name = std::string(kNames[kinds[kind % kinds.size()]]);
    FaultRule& rule = picked.rule;
    const std::string& name = picked.name;
    if (name == "silence") {
        rule.action = FaultAction::kSilence;
    } else if (name == "status1") {
        rule.action = FaultAction::kRefuse;
    } else if (name == "code") {
        rule.action = FaultAction::kCode;
        rule.value = static_cast<std::uint32_t>(0x30 + number % 0x10);  // a code of the table, or near one
        if (!request.empty() && *rule.value == request[0]) rule.value = 0xC8;
    } else if (name == "sub") {
        rule.action = FaultAction::kSubCode;
    } else if (name == "echo") {
        rule.action = FaultAction::kEcho;
        const std::uint32_t asked = request.size() >= 4 ? (request[2] << 8 | request[3]) : 0;
        rule.value = static_cast<std::uint32_t>((asked + 1 + number % 499) % 500 + 1);
    } else if (name == "short") {
        rule.action = FaultAction::kShort;
        if (number % 2) rule.value = static_cast<std::uint32_t>(number % 3);
    } else if (name == "long") {
        rule.action = FaultAction::kLong;
        rule.value = static_cast<std::uint32_t>(41 + number % 20);
    } else if (name == "split") {
        rule.action = FaultAction::kSplit;
        rule.value = static_cast<std::uint32_t>(20 + number % 600);
        if (at % 2) rule.at = 1;  // else half of it
    } else if (name == "delay") {
        rule.action = FaultAction::kDelay;
        rule.value = static_cast<std::uint32_t>(50 + number % 900);
    } else {
        rule.action = FaultAction::kSplit;  // the adapter's pieces: a pause of its timer's length at most
        rule.value = static_cast<std::uint32_t>(1 + number % 16);
        if (at % 2) rule.at = 1;
    }
    return picked;
}

}  // namespace vantor::sim
