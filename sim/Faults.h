#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/DeviceModel.h"

// Scripted misbehaviour of the simulated device, so that tests can show how the program copes with a
// device that refuses, stays silent, garbles or truncates its replies, answers late, or vanishes.
//
// A fault is one text, SELECTOR:ACTION (the full syntax is kFaultSyntaxHelp below). Each fault counts
// the requests its selector matches, on its own, and acts on those whose count lies in its range; several
// faults may act on one request, in the order they were given.
namespace vantor::sim {

enum class FaultAction {
    kRefuse,   // status1: a write is answered with status 1 and not stored
    kSilence,  // no reply; the request is not acted on
    kCode,     // byte 0 of the reply replaced
    kSubCode,  // byte 1 of the reply replaced (by default with the other sub-code)
    kEcho,     // bytes 2 and 3 of the reply replaced with another home number, as if echoing that one
    kShort,    // the reply cut to its first N bytes (by default all but the last)
    kLong,     // the reply padded with filler bytes to N bytes (by default 50)
    kSplit,    // the reply sent in two pieces with a pause between them
    kDelay,    // the reply sent later by the given time
    kUnplug,   // the port vanishes as the request arrives: no reply, no port
};

struct FaultRule {
    std::optional<std::uint8_t> code;  // nullopt: any request
    std::optional<std::uint8_t> subCode;
    std::uint32_t first = 1;  // the range of matching requests it acts on, counted from 1
    std::uint32_t last = std::numeric_limits<std::uint32_t>::max();
    FaultAction action = FaultAction::kSilence;
    std::optional<std::uint32_t> value;  // the action's number, when given
    std::optional<std::uint32_t> at;     // split: bytes in the first piece, when given

    bool Selects(std::span<const std::uint8_t> request) const;
};

// A rule, or the reason the text is not one.
using FaultParse = std::variant<FaultRule, std::string>;
FaultParse ParseFault(std::string_view text);

inline constexpr std::uint8_t kFillerByte = 0x55;  // what a too-long reply is padded with
inline constexpr std::size_t kDefaultLongSize = 50;
inline constexpr std::size_t kLongestReply = 4096;
inline constexpr std::chrono::milliseconds kDefaultSplitPause{50};
inline constexpr std::uint32_t kLargestEchoedHomeNumber = 0xFFFF;  // all that bytes 2 and 3 can hold

// What the faults acting on one request do to it. The byte edits (code, sub, echo, short, long) apply to the
// reply in the order the faults were given; then the reply is split (by the last split fault) and
// delayed (by all delay faults together).
struct FaultEffects {
    bool refuse = false;
    bool silence = false;
    bool unplug = false;
    std::vector<FaultRule> shaping;  // the code, sub, echo, short, long, split and delay faults that act
};

class FaultPlan {
public:
    FaultPlan() = default;
    explicit FaultPlan(std::vector<FaultRule> rules);

    // Counts the request against every rule and returns what the rules in range do to it.
    FaultEffects Match(std::span<const std::uint8_t> request);

private:
    struct Counted {
        FaultRule rule;
        std::uint32_t seen = 0;
    };
    std::vector<Counted> m_rules;
};

// One piece of a reply as it goes on the line: sent after the pause, counted from the end of the piece
// before it (for the first piece, from the moment the reply is due).
struct ReplyPiece {
    std::chrono::milliseconds pause{0};
    Bytes bytes;
    bool operator==(const ReplyPiece&) const = default;
};

// The reply as the faults shape it; empty for no reply at all.
std::vector<ReplyPiece> ShapeReply(Bytes reply, const FaultEffects& effects);

extern const char kFaultSyntaxHelp[];

// A randomly faulty device: each request meets one fault, picked at random, with the given chance;
// the same seed and the same requests give the same faults. The faults are those a rule can name, with
// their numbers picked too: silence, status 1 (writes only), a wrong code or sub-code, a wrong echo (on
// replies long enough to carry one), a short or long reply, a split with a long pause, a late reply, and
// pieces with the short pauses of a USB adapter's timer.
struct Chaos {
    std::uint64_t seed = 0;
    double rate = 0;  // 0 to 1
};
// SEED,RATE: a seed of up to 20 digits and a rate from 0 to 1 ("7,0.05"); nullopt otherwise.
std::optional<Chaos> ParseChaos(std::string_view text);

class ChaosPlan {
public:
    ChaosPlan() = default;
    explicit ChaosPlan(Chaos chaos);
    // The fault for this request, and its name for the log ("silence", "status1", "code", "sub", "echo",
    // "short", "long", "split", "delay", "pieces"); none for most requests.
    struct Picked {
        FaultRule rule;
        std::string name;
    };
    std::optional<Picked> Pick(std::span<const std::uint8_t> request);

private:
    std::uint64_t Next();  // splitmix64: the same numbers from one seed everywhere
    std::uint64_t m_state = 0;
    double m_rate = 0;
};

}  // namespace vantor::sim
