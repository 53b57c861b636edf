#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/LogSink.h"

// The rules of the home number table: how its codes and PLL values are read from text and put on the
// wire, and what Add and Write accept. Pure text and number work; refusals that go to the log console
// are logged here, those that go to a message box are returned as their text.
namespace table {

// Only home numbers 1 to this carry PLL values.
inline constexpr std::int32_t kPllHomeNumbers = 100;
// A PLL value must lie below this, so that its wire value stays below the no-value marker.
inline constexpr double kPllLimit = 6553.5;
inline constexpr std::uint16_t kNoPllValue = 0xFFFF;
// A code of this text stands for no code.
inline constexpr std::string_view kNoCode = "FFF";

// A number at the start of a text, as the C library's atoi reads it: leading white space, an optional
// sign, digits up to the first other character; 0 when there are none. Beyond 32 bits it stops at the
// nearest limit.
std::int32_t AtoiValue(std::string_view text);

// A number at the start of a text, as the C library's atof reads it (the longest leading decimal or
// hexadecimal number, "inf" and "nan" included; 0 when there is none), whatever the process's locale.
double AtofValue(std::string_view text);

// A code as it is stored and sent: a code of exactly one character gets one leading "0".
std::string StoredCode(std::string_view code);

struct Codes {
    std::string tx;
    std::string rx;
    bool operator==(const Codes&) const = default;
};

// The codes of an edit pair or a table row as they go on the wire: each stored; "FFF" in either one
// empties both.
Codes CodesForSending(std::string_view tx, std::string_view rx);

// The PLL value of a text on the wire: 0xFFFF for an empty text, else the atof value times ten,
// truncated toward zero, its low 16 bits. A value no integer can hold (inf, nan) is sent as no value.
std::uint16_t PllWireValue(std::string_view text);

// The text of a PLL wire value: empty for 0xFFFF, else the value divided by ten with one decimal.
std::string PllText(std::uint16_t wire);

// Whether a PLL text is a number as the operator writes one: digits with at most one decimal point and at
// least one digit ("146.5", ".5", "5."). The empty text, no value, passes too.
bool IsPllNumber(std::string_view text);

// Whether a code can go on the wire: empty, or two or three digits.
bool IsWireCode(std::string_view code);

// Why a row of the table cannot go to the device as it stands, or nullopt when it can: its codes (as they
// go on the wire) must each be a wire code, both of one length, and its PLL texts, when they go out too,
// numbers not negative and below the limit. The texts are those of the Add and Write refusals.
std::optional<std::string_view> RowRefusal(const Codes& codes, std::string_view pllTx, std::string_view pllRx,
                                           bool withPll);

// What the operator typed into the five entry edits (Number already read as a number).
struct Entry {
    std::int32_t number = 0;
    std::string tx;
    std::string rx;
    std::string pllTx;
    std::string pllRx;
};

// What Add does with an entry, after its checks in their order.
struct AddDecision {
    enum class Action {
        kStore,    // store `codes` and the PLL texts as typed in the row of the entry's number
        kLogged,   // refused with lines in the log console (already logged); run the data exchange
        kMessage,  // refused with a message box: `message`, caption kInvalidEntryCaption
    };
    Action action = Action::kLogged;
    Codes codes;
    std::string_view message;
};

inline constexpr std::string_view kInvalidEntryCaption = "Invalid entry";

AddDecision CheckAdd(const Entry& entry, std::int32_t rowCount, LogSink& log);

// What Write does with an entry, after its checks in their order.
struct WriteDecision {
    enum class Action {
        kSend,     // send `codes` for the entry's number (and the PLL texts for numbers up to 100)
        kLogged,   // refused with lines in the log console (already logged); nothing is sent
        kMessage,  // refused with a message box before anything else: `message`, kInvalidEntryCaption
    };
    Action action = Action::kLogged;
    Codes codes;
    std::string_view message;
};

WriteDecision CheckWrite(const Entry& entry, std::int32_t rowCount, LogSink& log);

// Read's check of the number: true when it names a home number; otherwise the refusal is logged.
bool CheckReadNumber(std::int32_t number, std::int32_t rowCount, LogSink& log);

}  // namespace table
