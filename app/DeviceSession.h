#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/DeviceSettings.h"
#include "protocol/DeviceCommand.h"
#include "protocol/Frame.h"
#include "protocol/LogSink.h"
#include "serial/SerialLink.h"
#include "table/HomeNumberExchange.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"

// How a device operation went, from better to worse, with what went wrong in plain words where there is
// more to say than the kind (the port that would not open and why).
struct Outcome {
    enum class Kind { kDone, kRefused, kNoAnswer, kInputRejected, kPortFailed };
    Kind kind = Kind::kDone;
    std::string reason;

    bool Done() const { return kind == Kind::kDone; }
    // Keeps the worse of the two; the first reason of that kind stays.
    void Note(Kind worse, std::string why = {});
};

// An operation's outcome and, when it went through, the value it read.
template <class T>
struct Reading {
    Outcome outcome;
    std::optional<T> value;
};

// What one home number's Read gave: each part is there when its exchange went through.
struct HomeNumberReading {
    std::optional<table::Codes> codes;
    std::optional<table::PllTexts> pll;
};

// The program's one conversation with a device: the serial link, the request exchange with its reply
// buffer, and the log every step writes to. Each operation is one command: it opens the port on the port
// and speed named at its first request, and closes it at its end. One thread uses a session at a time.
class DeviceSession {
public:
    struct PortChoice {
        std::string port;
        std::int32_t baud = 0;
    };
    // How the session waits (a window passes a wait that keeps it painting), and where it learns the
    // port and speed, asked again before every request (a port still open stays as it is).
    using Sleep = std::function<void(int ms)>;
    using PortSource = std::function<PortChoice()>;

    static constexpr std::size_t kReplySize = 40;
    static constexpr std::int32_t kPollCount = 50;
    static constexpr std::int32_t kIntervalMs = 10;
    // The text reads wait longer than every other command: the device takes its time over them.
    static constexpr std::int32_t kTextReadPollCount = 20;
    static constexpr std::int32_t kTextReadIntervalMs = 100;

    DeviceSession(LogSink& log, Sleep sleep, PortSource port);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // --- the one-byte settings and the two texts ---
    // A Get's value: a list's or Wide Band's 1 or 2, a number's signed byte.
    Reading<std::int32_t> Get(const protocol::DeviceCommand& command);
    // A Set of a value as SettingsPanel::Value gives it; a number over its command's limit is refused.
    Outcome Set(const protocol::DeviceCommand& command, std::int32_t value);
    Reading<std::string> ReadText(const protocol::DeviceCommand& command);
    Outcome WriteText(const protocol::DeviceCommand& command, const std::string& text);

    // --- one home number (checked by the caller: 1 to 500) ---
    // The codes as they go on the wire; the PLL texts as typed, sent for home numbers 1 to 100.
    Outcome WriteHomeNumber(std::int32_t homeNumber, const table::Codes& codes, const std::string& pllTx,
                            const std::string& pllRx);
    Reading<HomeNumberReading> ReadHomeNumber(std::int32_t homeNumber);

    // --- the whole table, then the settings ---
    // What a transfer shows and obeys while it runs. RowsDone comes before each row's first request;
    // SettingsNext before each setting; a stop is honoured before the next request.
    class Progress {
    public:
        virtual ~Progress() = default;
        virtual void RowsDone(std::int32_t rows) = 0;
        virtual void SettingsNext() = 0;
        virtual bool StopRequested() = 0;
    };
    // Every row of the table to the device, then the settings and texts from the panel (a text whose
    // panel text is empty is left as the device has it).
    Outcome WriteAll(const table::HomeNumberTable& table, SettingsPanel& settings, Progress& progress);
    // Every row of the device into the table, then its settings and texts into the panel.
    Outcome ReadAll(table::HomeNumberTable& table, SettingsPanel& settings, Progress& progress);

    // --- the request exchange, for what the operations above are built from ---
    // Sends the request. False after a logged failure (the outcome noted).
    bool SendRequest(std::span<const std::uint8_t> request, Outcome& outcome);
    // Polls for a reply: -1 after a time-out (logged), else the bytes read into the reply buffer (0 to
    // 40). Poll count 0 waits without limit.
    std::int32_t AwaitReply(std::int32_t pollCount, std::int32_t intervalMs, Outcome& outcome);
    // The bytes of the latest reply, as many as the wait gave.
    std::span<const std::uint8_t> Reply(std::int32_t n) const;

    SerialLink& Link() { return m_link; }
    LogSink& Log() { return m_log; }

private:
    struct Exchanged;
    std::int32_t Exchange(std::span<const std::uint8_t> request, Outcome& outcome,
                          std::int32_t pollCount = kPollCount, std::int32_t intervalMs = kIntervalMs);
    // Ends a command: the port is closed whatever happened.
    template <class Result>
    Result Ended(Result result);
    bool EndedByStop(Progress& progress, std::int32_t rowsDone, std::string_view stopped);
    bool GoesOn(bool sent, int errors, Outcome& outcome);
    struct RowsEnd;
    bool FinishRows(const RowsEnd& end, std::int32_t rowCount, std::string_view done, Outcome& outcome);
    template <class Step>
    void RunSettings(std::span<const Step> steps, SettingsPanel& settings, Progress& progress,
                     std::string_view stopped, Outcome& outcome);

    LogSink& m_log;
    Sleep m_sleep;
    PortSource m_port;
    SerialLink m_link;
    std::array<std::uint8_t, kReplySize> m_reply{};
};

// The plain words of a port that did not open, with what to do about it where there is something.
std::string ConnectFailureText(const ConnectFailure& failure, const std::string& portText, std::int32_t baud);
