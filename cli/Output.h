#pragma once

// Where vantorctl's output goes: values to standard output, the log and vantorctl's own messages to
// standard error; a console of its own for each unit when several run at once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceSession.h"
#include "protocol/LogSink.h"

namespace cli {

enum ExitStatus {
    kDone = 0,
    kDeviceFailed = 1,
    kBadUsage = 2,
    kPortFailed = 3,
    kOutputFailed = 4,
    kStopped = 5
};

// SIGINT, SIGTERM and SIGHUP (Ctrl+C, Ctrl+Break or closing the console on Windows) ask the run to stop as
// the window's Stop does: every transfer ends after the exchange in flight, and the run still records and
// sums up its units. A second one ends the program at once.
void CatchStopSignals();
bool StopSignalled();
// Whether a transfer in progress ends at the signal. A station lets the units it is programming finish
// (a unit half written is worse than one a moment late), and stops only waiting for the next ones.
bool TransfersStop();
void LetTransfersFinishOnStop();

// This computer's name, as a line's systems tell benches apart; empty when the system gives none.
std::string HostName();

// Everything for standard output goes through here, flushed at once, so that a failure is caught with its
// reason (the C library's buffer would only fail later, when errno says something else).
void Print(std::string_view text);
// Why standard output could not take what was printed; empty while it could.
const std::string& OutputFailure();

bool ErrorIsTerminal();

// A usage error said on standard error; the exit status for it.
int UsageError(const std::string& message);

// The time now in UTC, in a strftime format.
std::string UtcNow(const char* format);

template <class... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(text.size() - 1);
    return text;
}

// The log console on standard error, its lines as a terminal shows them ("\r\n" becomes a line end).
// A text is taken up to its first zero byte, and the empty text (the window's clearing of its log)
// shows nothing; a pause is slept, as the window pauses after the lines that ask for it.
class StandardErrorLog : public LogSink {
public:
    void Text(std::string_view text, bool pause) override;
    void Number(std::int32_t value, bool pause) override;
    void String(const std::string& text, bool pause) override;
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override;

private:
    static void Append(std::string_view text, bool pause);
};

// A transfer's progress goes to a terminal only, overwriting itself on one line, and ends with a line end.
class TerminalProgress : public DeviceSession::Progress {
public:
    explicit TerminalProgress(bool shown);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    void RowsDone(std::int32_t rows) override;
    void SettingsNext() override;
    bool StopRequested() override;

private:
    void Show(const std::string& text);
    bool m_shown;
};

// Where one unit's output goes: its values (standard output), vantorctl's own messages and the log
// (standard error), and whether a transfer shows its progress.
class Console {
public:
    virtual ~Console() = default;
    virtual void Value(std::string_view text) = 0;
    // A message of vantorctl's own about something that went wrong, one or more lines each ending "\n".
    virtual void Message(const std::string& text) = 0;
    // One that tells what was done (a file saved).
    virtual void Notice(const std::string& text) { Message(text); }
    virtual LogSink& Log() = 0;
    virtual bool ShowsProgress() = 0;
};

// One device's output as it is.
class StandardConsole : public Console {
public:
    void Value(std::string_view text) override;
    void Message(const std::string& text) override;
    LogSink& Log() override { return m_log; }
    bool ShowsProgress() override;

private:
    StandardErrorLog m_log;
};

// Held while a unit writes its lines to standard error: a line of one unit never runs into a line of
// another.
std::mutex& StandardErrorLock();

// One unit of a run on several ports: its log lines and messages go to standard error whole, each after
// "[port N] "; its values are kept for the summary, and the lines that tell of failures for the record.
class UnitConsole : public Console, private LogSink {
public:
    explicit UnitConsole(std::uint32_t port);
    ~UnitConsole() override;
    UnitConsole(const UnitConsole&) = delete;
    UnitConsole& operator=(const UnitConsole&) = delete;

    void Value(std::string_view text) override;
    void Message(const std::string& text) override;
    void Notice(const std::string& text) override;
    LogSink& Log() override { return *this; }
    bool ShowsProgress() override { return false; }

    const std::string& Values() const { return m_values; }
    // The failures counted so far by the unit's device session. The session logs a failure, then counts
    // it: a log line after which the count rose is the line that told of it.
    void CountErrorsWith(std::function<int()> errors) { m_errors = std::move(errors); }
    // Every message, and every log line a failure followed, in order, without line ends.
    std::vector<std::string> ErrorLines();

private:
    void Text(std::string_view text, bool pause) override;
    void Number(std::int32_t value, bool pause) override;
    void String(const std::string& text, bool pause) override;
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override;

    void Append(std::string_view text, bool pause);
    void Emit(const std::string& lines);
    // Called as each log line ends, and at the end: the line before is a failure's when the count rose.
    void NoteErrors(const std::string* line);

    std::string m_prefix;
    std::string m_line;  // the log's unfinished line
    std::string m_values;
    std::function<int()> m_errors;
    int m_errorsSeen = 0;
    std::string m_lastLine;  // the log's latest whole line
    std::vector<std::string> m_errorLines;
};

}  // namespace cli
