#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Outcome.h"
#include "device/DeviceSettings.h"
#include "protocol/DeviceCommand.h"
#include "protocol/Frame.h"
#include "protocol/LogSink.h"
#include "serial/SerialLink.h"
#include "table/HomeNumberExchange.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"

// What one home number's Read gave: each part is there when its exchange went through.
struct HomeNumberReading {
    std::optional<table::Codes> codes;
    std::optional<table::PllTexts> pll;
};

// What a command's reply looks like, so that the wait can tell when all of it has come: a fixed length
// (the status and value replies, the PLL values), the codes of a home number (5 bytes without codes,
// else 8 or 10), or a text of at most a field's length ending at a zero byte.
struct ReplyShape {
    enum class Kind { kFixed, kHomeNumberCodes, kText };
    Kind kind = Kind::kFixed;
    std::size_t longest = 3;

    // Whether bytes received so far are a whole reply: one that nothing can follow, one that a longer
    // reply could also begin with, or a part.
    enum class End { kPart, kMaybeWhole, kWhole };
    End Ends(std::span<const std::uint8_t> bytes) const;
};

// The time one character (a start bit, 8 data bits and a stop bit) takes on the line at a speed. Speeds
// below 50 baud, the slowest a serial driver offers, count as 50: a mistyped Baud must not stretch a
// reply's wait into minutes.
inline constexpr std::int32_t kSlowestBaud = 50;
std::chrono::microseconds CharacterTime(std::int32_t baud);

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
    // Waits until a byte is waiting on the link or the span has passed; true when one is.
    using InputWait = std::function<bool(SerialLink& link, std::chrono::microseconds span)>;

    static constexpr std::size_t kReplySize = 40;
    static constexpr std::int32_t kPollCount = 50;
    static constexpr std::int32_t kIntervalMs = 10;
    // The text reads wait longer than every other command: the device takes its time over them.
    static constexpr std::int32_t kTextReadPollCount = 20;
    static constexpr std::int32_t kTextReadIntervalMs = 100;
    // How many times one reply's wait watches the line again after waking late (see AwaitReply).
    static constexpr int kMostWatchedAgain = 3;

    // Without an input wait the link's own is used: it blocks the calling thread.
    DeviceSession(LogSink& log, Sleep sleep, PortSource port, InputWait inputWait = {});
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
    // Reads the device back as Read All does, into a table and settings of its own, and compares it with
    // what Write All would have written from `table` and `settings`, changing neither; one log line per
    // difference, then the verdict. The value is the number of differences once the device was read
    // whole; the outcome is refused when there is any. The positions of the rows that differ go to
    // `differingRows` when it is given.
    Reading<int> Verify(const table::HomeNumberTable& table, SettingsPanel& settings, Progress& progress,
                        std::vector<std::int32_t>* differingRows = nullptr);

    // The failures met since the session was made: each request that did not go out, each reply that
    // did not come or was refused, and each early end or part left undone of a transfer.
    int Errors() const { return m_errors; }
    // The rows a transfer sent again after a failure, since the session was made.
    int Retries() const { return m_retries; }

    // --- the request exchange, for what the operations above are built from ---
    // Sends the request. False after a logged failure (the outcome noted).
    bool SendRequest(std::span<const std::uint8_t> request, Outcome& outcome);
    // A reply as the wait gave it: the bytes read into the reply buffer (0 to 40), or none after a
    // time-out.
    using ReplyBytes = std::optional<std::span<const std::uint8_t>>;
    // Waits for a reply; a time-out is logged and noted. The first byte must come within the poll count's rounds of half an interval (0: no limit)
    // once the request has left the line; the reply is then read until the line has been quiet for long
    // enough to tell it is whole: two character times at the port's speed after a whole reply, longer
    // than the port may hold bytes back after one that could go on (see the definition).
    ReplyBytes AwaitReply(std::int32_t pollCount, std::int32_t intervalMs, const ReplyShape& shape,
                          Outcome& outcome);
    // The bytes of the latest reply, as many as the wait gave.
    std::span<const std::uint8_t> Reply(std::int32_t n) const;

    SerialLink& Link() { return m_link; }
    // The clock the reply waits count by; the steady clock unless a test or fuzz target keeps its own
    // time (with the sleep and input wait to match).
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    void SetClock(Now now) { m_now = std::move(now); }
    LogSink& Log() { return m_log; }

private:
    struct Exchanged;
    ReplyBytes Exchange(std::span<const std::uint8_t> request, const ReplyShape& shape, Outcome& outcome,
                        std::int32_t pollCount = kPollCount, std::int32_t intervalMs = kIntervalMs);
    ReplyBytes Await(const ReplyShape& shape, Outcome& outcome) {
        return AwaitReply(kPollCount, kIntervalMs, shape, outcome);
    }
    // A failure met: counted, and noted in the outcome.
    void Failed(Outcome& outcome, Outcome::Kind kind, std::string why = {});
    void Refused(Outcome& outcome, const ReplyBytes& reply);
    void NoteWrite(Outcome& outcome, const ReplyBytes& reply, protocol::ReplyOutcome written);
    // Ends a command: the port is closed whatever happened.
    template <class Result>
    Result Ended(Result result);
    bool EndedByStop(Progress& progress, std::int32_t rowsDone, std::string_view stopped);
    bool GoesOn(bool sent, int errors, Outcome& outcome);
    void SkipLateReply();
    // A transfer is about to send the row at `position`: a retry when it was the one sent last.
    void Attempt(std::int32_t position, std::int32_t& attempted) {
        if (position == attempted) ++m_retries;
        attempted = position;
    }
    struct RowsEnd;
    bool FinishRows(const RowsEnd& end, std::int32_t rowCount, std::string_view done, Outcome& outcome);
    template <class Step>
    void RunSettings(std::span<const Step> steps, SettingsPanel& settings, Progress& progress,
                     std::string_view stopped, Outcome& outcome);

    LogSink& m_log;
    Sleep m_sleep;
    PortSource m_port;
    InputWait m_inputWait;
    Now m_now = [] { return std::chrono::steady_clock::now(); };
    SerialLink m_link;
    int m_errors = 0;
    int m_retries = 0;
    std::size_t m_requestBytes = 0;  // the latest request's length: its time on the line
    bool m_lineUnsure = false;  // an exchange failed: a reply may still be on its way
    std::chrono::steady_clock::time_point m_lastSentAt{};  // when the latest request went out
    std::array<std::uint8_t, kReplySize> m_reply{};
};

// What Write All would write from a table and settings that the device, as read back, does not hold:
// one line each ("Home Number 7: table 123/456, device 123/457\r\n"). Texts left empty in the settings
// are not written, so they are not compared.
std::vector<std::string> Differences(const table::HomeNumberTable& table, SettingsPanel& settings,
                                     const table::HomeNumberTable& device, SettingsPanel& deviceSettings);

// The positions of the rows whose codes or PLL values Write All would write otherwise than the device holds
// them, as Differences finds them.
std::vector<std::int32_t> DifferingRows(const table::HomeNumberTable& table, const table::HomeNumberTable& device);

// What Write All from this table and these settings would not send as they stand, found before
// anything is sent: a row it would skip, a setting it would refuse (nothing chosen, a number over its
// limit), a text longer than its field, which would go out cut. One line each, without a line end, in
// the order the run would come to them; none when all of it can go.
std::vector<std::string> WriteAllRefusals(const table::HomeNumberTable& table, SettingsPanel& settings);
