#include "table/HomeNumberExchange.h"

#include <string_view>

namespace table {
namespace {

using protocol::kLineEnd;
using protocol::ReplyByte;
using protocol::ReplyOutcome;

constexpr std::uint8_t kNoCodesMark = 0xFF;
constexpr std::int32_t kThreeDigitReply = 10;
constexpr std::int32_t kTwoDigitReply = 8;
constexpr std::int32_t kPllReply = 8;

std::uint8_t High(std::int32_t value) { return static_cast<std::uint8_t>((value >> 8) & 0xFF); }
std::uint8_t Low(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

std::uint16_t Word(std::span<const std::uint8_t> reply, std::int32_t n, std::size_t at) {
    return static_cast<std::uint16_t>(ReplyByte(reply, n, at).value_or(0) << 8 |
                                      ReplyByte(reply, n, at + 1).value_or(0));
}

// A reply byte shown after its label, then the reply as received in hex, each on its own line.
void ReportByte(LogSink& log, std::string_view label, std::optional<std::uint8_t> byte,
                std::span<const std::uint8_t> reply, std::int32_t n) {
    protocol::LogByteLine(log, label, byte);
    log.Hex(reply, n);
    log.Text(kLineEnd);
}

std::string Characters(std::span<const std::uint8_t> reply, std::size_t from, std::size_t count) {
    return std::string(reply.begin() + static_cast<std::ptrdiff_t>(from),
                       reply.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// Codes the device sent go into the edits as far as a text can hold them: up to a zero byte.
std::string UpToZero(std::string text) {
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

}  // namespace

std::vector<std::uint8_t> HomeNumberWriteRequest(std::int32_t homeNumber, const Codes& codes) {
    std::vector<std::uint8_t> request{kHomeNumberCode, protocol::kWriteSubCode, High(homeNumber),
                                      Low(homeNumber)};
    request.insert(request.end(), codes.tx.begin(), codes.tx.end());
    request.insert(request.end(), codes.rx.begin(), codes.rx.end());
    return request;
}

std::array<std::uint8_t, 8> PllWriteRequest(std::int32_t homeNumber, std::uint16_t pllTx,
                                            std::uint16_t pllRx) {
    return {kPllCode,         protocol::kWriteSubCode,
            High(homeNumber), Low(homeNumber),
            High(pllTx),      Low(pllTx),
            High(pllRx),      Low(pllRx)};
}

std::array<std::uint8_t, 4> HomeNumberReadRequest(std::int32_t homeNumber) {
    return {kHomeNumberCode, protocol::kReadSubCode, High(homeNumber), Low(homeNumber)};
}

std::array<std::uint8_t, 4> PllReadRequest(std::int32_t homeNumber) {
    return {kPllCode, protocol::kReadSubCode, High(homeNumber), Low(homeNumber)};
}

std::uint16_t EchoedHomeNumber(std::span<const std::uint8_t> reply, std::int32_t n) {
    return Word(reply, n, 2);
}

ReplyOutcome ReportWriteReply(std::uint8_t code, std::span<const std::uint8_t> reply, std::int32_t n,
                              LogSink& log) {
    if (n <= 0) return ReplyOutcome::kNoReply;
    if (const auto byte = ReplyByte(reply, n, 0); byte != code) {
        ReportByte(log, "Unexpected response: ", byte, reply, n);
        return ReplyOutcome::kWrongCode;
    }
    if (const auto byte = ReplyByte(reply, n, 1); byte != protocol::kWriteSubCode) {
        ReportByte(log, "Unrecognized reponse[1]: ", byte, reply, n);
        return ReplyOutcome::kWrongSubCode;
    }
    log.Text("Home Number: ");
    log.Number(static_cast<std::int16_t>(EchoedHomeNumber(reply, n)));
    const auto status = ReplyByte(reply, n, 4);
    if (status == protocol::kStatusSuccess) {
        log.Text(" Successful\r\n");
        return ReplyOutcome::kSucceeded;
    }
    if (status == protocol::kStatusFailed) {
        log.Text(" Unsuccessful\r\n");
        return ReplyOutcome::kFailed;
    }
    ReportByte(log, " Unrecognized response[4]: ", status, reply, n);
    return ReplyOutcome::kUnrecognisedStatus;
}

bool CheckReadHeader(std::uint8_t code, std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    if (n <= 0) return false;
    if (const auto byte = ReplyByte(reply, n, 0); byte != code) {
        ReportByte(log, protocol::kUnexpectedCode, byte, reply, n);
        return false;
    }
    if (const auto byte = ReplyByte(reply, n, 1); byte != protocol::kReadSubCode) {
        ReportByte(log, protocol::kUnrecognizedSubCode, byte, reply, n);
        return false;
    }
    return true;
}

bool HomeNumberReadBodyEmpty(std::span<const std::uint8_t> reply, std::int32_t n) {
    return ReplyByte(reply, n, 4) == kNoCodesMark;
}

std::optional<Codes> HomeNumberReadBody(std::span<const std::uint8_t> reply, std::int32_t n) {
    if (HomeNumberReadBodyEmpty(reply, n)) return Codes{};
    if (n == kThreeDigitReply) return Codes{Characters(reply, 4, 3), Characters(reply, 7, 3)};
    if (n == kTwoDigitReply) return Codes{Characters(reply, 4, 2), Characters(reply, 6, 2)};
    return std::nullopt;
}

std::optional<PllTexts> PllReadBody(std::span<const std::uint8_t> reply, std::int32_t n) {
    if (n != kPllReply) return std::nullopt;
    return PllTexts{PllText(Word(reply, n, 4)), PllText(Word(reply, n, 6))};
}

void ReportUnrecognisedLength(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    log.Text("Unrecognized number of bytes\r\n");
    log.Text("returned: ");
    log.Number(n);
    log.Text(kLineEnd);
    log.Hex(reply, n);
    log.Text(kLineEnd);
}

void LogDeviceText(LogSink& log, const std::string& text) { log.String(UpToZero(text)); }

std::optional<Codes> ReportHomeNumberRead(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    if (!CheckReadHeader(kHomeNumberCode, reply, n, log)) return std::nullopt;
    log.Text("Home Number: ");
    log.Number(EchoedHomeNumber(reply, n));
    std::optional<Codes> codes = HomeNumberReadBody(reply, n);
    if (!codes) {
        ReportUnrecognisedLength(reply, n, log);
        return std::nullopt;
    }
    const bool empty = HomeNumberReadBodyEmpty(reply, n);
    log.Text(" Tx: ");
    LogDeviceText(log, empty ? std::string(kNoCode) : codes->tx);
    log.Text(" Rx: ");
    LogDeviceText(log, empty ? std::string(kNoCode) : codes->rx);
    log.Text(kLineEnd);
    return Codes{UpToZero(codes->tx), UpToZero(codes->rx)};
}

std::optional<PllTexts> ReportPllRead(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    if (!CheckReadHeader(kPllCode, reply, n, log)) return std::nullopt;
    log.Text("Home Number: ");
    log.Number(EchoedHomeNumber(reply, n));
    std::optional<PllTexts> pll = PllReadBody(reply, n);
    if (!pll) {
        ReportUnrecognisedLength(reply, n, log);
        return std::nullopt;
    }
    log.Text(" TxPLL: ");
    log.String(pll->tx);
    log.Text(" RxPLL: ");
    log.String(pll->rx);
    log.Text(kLineEnd);
    return pll;
}

bool ReportTransferPllWriteReply(std::span<const std::uint8_t> reply, std::int32_t n, LogSink& log) {
    if (n <= 0) return false;
    if (const auto byte = ReplyByte(reply, n, 0); byte != kPllCode) {
        ReportByte(log, "Unexpected response: ", byte, reply, n);
        return false;
    }
    log.Text("38(PLL frequencies):\r\n");
    if (const auto byte = ReplyByte(reply, n, 1); byte != protocol::kWriteSubCode) {
        ReportByte(log, "Unrecognized reponse[1]: ", byte, reply, n);
        return false;
    }
    const auto status = ReplyByte(reply, n, 4);
    if (status == protocol::kStatusSuccess) {
        log.Text(" Successful\r\n");
        return true;
    }
    if (status == protocol::kStatusFailed) {
        log.Text(" Unsuccessful\r\n");
    } else {
        ReportByte(log, " Unrecognized response[4]: ", status, reply, n);
    }
    return false;
}

std::optional<EchoedCodes> ReportTransferHomeNumberRead(std::span<const std::uint8_t> reply, std::int32_t n,
                                                        LogSink& log) {
    if (!CheckReadHeader(kHomeNumberCode, reply, n, log)) return std::nullopt;
    const auto homeNumber = static_cast<std::int16_t>(EchoedHomeNumber(reply, n));
    log.Text("Home Number: ");
    log.Number(homeNumber);
    if (HomeNumberReadBodyEmpty(reply, n)) {
        log.Text(" Tx:FFF Rx:FFF\r\n");
        return EchoedCodes{homeNumber, {}};
    }
    const std::optional<Codes> codes = HomeNumberReadBody(reply, n);
    if (!codes) {
        ReportUnrecognisedLength(reply, n, log);
        return std::nullopt;
    }
    log.Text(" Tx: ");
    LogDeviceText(log, codes->tx);
    log.Text(" Rx: ");
    LogDeviceText(log, codes->rx);
    log.Text(kLineEnd);
    return EchoedCodes{homeNumber, {UpToZero(codes->tx), UpToZero(codes->rx)}};
}

}  // namespace table
