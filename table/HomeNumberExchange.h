#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/Frame.h"
#include "protocol/LogSink.h"
#include "table/HomeNumberRules.h"

// The home number (0x33) and PLL (0x38) exchanges: their requests byte for byte and the reports of their
// replies. Home numbers travel as their low 16 bits, high byte first. A reply is given as the buffer it
// landed in and the count the wait returned (-1 after a time-out); no step reads a byte that did not
// arrive, and none reports anything for n <= 0 (the exchange has said why already).
namespace table {

inline constexpr std::uint8_t kHomeNumberCode = 0x33;
inline constexpr std::uint8_t kPllCode = 0x38;

// 33 01, the number, the Tx code's characters, the Rx code's characters: 4 to 10 bytes.
std::vector<std::uint8_t> HomeNumberWriteRequest(std::int32_t homeNumber, const Codes& codes);
// 38 01, the number, the two PLL wire values.
std::array<std::uint8_t, 8> PllWriteRequest(std::int32_t homeNumber, std::uint16_t pllTx,
                                            std::uint16_t pllRx);
std::array<std::uint8_t, 4> HomeNumberReadRequest(std::int32_t homeNumber);
std::array<std::uint8_t, 4> PllReadRequest(std::int32_t homeNumber);

// The home number a reply echoes in bytes 2 and 3 (a byte that did not arrive counts as 0).
std::uint16_t EchoedHomeNumber(std::span<const std::uint8_t> reply, std::int32_t n);

// The report of a home number or PLL write reply (`code` 0x33 or 0x38): the code and sub-code checks
// with a hex dump of the reply, then "Home Number: " with the echoed number (signed 16-bit) and the
// status. kSucceeded only for status 0.
protocol::ReplyOutcome ReportWriteReply(std::uint8_t code, std::span<const std::uint8_t> reply,
                                        std::int32_t n, LogSink& log);

// The header checks of a read reply (`code` 0x33 or 0x38, sub-code 2), each failure reported with a hex
// dump of the reply. True when both match.
bool CheckReadHeader(std::uint8_t code, std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);

// The body of a home number read reply: the codes it holds (both empty for a home number without codes,
// marked by 0xFF in byte 4), or none for a length that no form has.
std::optional<Codes> HomeNumberReadBody(std::span<const std::uint8_t> reply, std::int32_t n);
bool HomeNumberReadBodyEmpty(std::span<const std::uint8_t> reply, std::int32_t n);

// The body of a PLL read reply as PLL texts, or none for a length other than 8.
struct PllTexts {
    std::string tx;
    std::string rx;
    bool operator==(const PllTexts&) const = default;
};
std::optional<PllTexts> PllReadBody(std::span<const std::uint8_t> reply, std::int32_t n);

// "Unrecognized number of bytes", the count and a hex dump of the reply.
void ReportUnrecognisedLength(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);

// The Read button's reports: header checks, "Home Number: " with the echoed number (unsigned 16-bit),
// then the body. The codes or PLL texts for the entry edits, or none when the edits keep what they hold.
std::optional<Codes> ReportHomeNumberRead(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);
std::optional<PllTexts> ReportPllRead(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);

// Write All's report of a PLL write reply: like the write reply report, but the echo line
// "38(PLL frequencies):" stands where the home number would, and no home number is shown. True when the
// device said it stored the values.
bool ReportTransferPllWriteReply(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log);

// Read All's report of a home number read reply: header checks, "Home Number: " with the echoed number
// (signed 16-bit), then the codes (" Tx:FFF Rx:FFF" for none). The echoed number and its codes, or none
// when the reply counts as a failure.
struct EchoedCodes {
    std::int16_t homeNumber = 0;
    Codes codes;
};
std::optional<EchoedCodes> ReportTransferHomeNumberRead(std::span<const std::uint8_t> reply, std::int32_t n,
                                                        LogSink& log);

// A device's text shown in the log: up to its first zero byte, and an empty one appends nothing.
void LogDeviceText(LogSink& log, const std::string& text);

}  // namespace table
