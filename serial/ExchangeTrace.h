#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "base/Outcome.h"

// Every byte that crosses the serial link, each way, for whoever supports the device: one line per
// exchange, the request with the time it went out, then the reply with the time it was read, or "no
// reply". Times are milliseconds of the monotonic clock. Each line reaches the file when it is complete.
//
//   51234.120 > 35 01 02 | 51249.387 < 35 01 00
//   51260.002 > 37 02 | no reply
//   51270.440 discarded 53 34
//
// A discarded line holds bytes that were waiting when a request was about to go out: the late rest of
// an earlier reply, or noise; they were dropped unread.
class ExchangeTrace {
public:
    using Clock = std::function<double()>;  // milliseconds

    // Appends to the file at `path`, or says why it cannot.
    static Reading<std::unique_ptr<ExchangeTrace>> Open(const std::string& path);

    explicit ExchangeTrace(std::FILE* file, Clock clock = {});
    ~ExchangeTrace();
    ExchangeTrace(const ExchangeTrace&) = delete;
    ExchangeTrace& operator=(const ExchangeTrace&) = delete;

    // A request went out: a new line (an earlier one still waiting ends with "no reply").
    void Sent(std::span<const std::uint8_t> bytes);
    // Bytes were read: they end the waiting line, or stand on a line of their own.
    void Received(std::span<const std::uint8_t> bytes);
    // The port closed: a line still waiting ends with "no reply".
    void Closed();
    // Bytes found waiting before a request were dropped: a line of their own.
    void Discarded(std::span<const std::uint8_t> bytes);

    // Why a line could not be written to the file (the first time it happened); empty while all could.
    const std::string& Failure() const { return m_failure; }

private:
    void Stamp();
    void Bytes(std::span<const std::uint8_t> bytes);
    void EndLine();

    std::FILE* m_file;
    Clock m_clock;
    bool m_waiting = false;
    std::string m_failure;
};
