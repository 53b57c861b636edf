#pragma once

// Where vantorctl's output goes: values to standard output, the log and vantorctl's own messages to
// standard error; a console of its own for each unit when several run at once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

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
    // A message of vantorctl's own, one or more lines each ending "\n".
    virtual void Message(const std::string& text) = 0;
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
// "[port N] "; its values are kept for the summary.
class UnitConsole : public Console, private LogSink {
public:
    explicit UnitConsole(std::uint32_t port);
    ~UnitConsole() override;
    UnitConsole(const UnitConsole&) = delete;
    UnitConsole& operator=(const UnitConsole&) = delete;

    void Value(std::string_view text) override;
    void Message(const std::string& text) override;
    LogSink& Log() override { return *this; }
    bool ShowsProgress() override { return false; }

    const std::string& Values() const { return m_values; }

private:
    void Text(std::string_view text, bool pause) override;
    void Number(std::int32_t value, bool pause) override;
    void String(const std::string& text, bool pause) override;
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override;

    void Append(std::string_view text, bool pause);
    void Emit(const std::string& lines);

    std::string m_prefix;
    std::string m_line;  // the log's unfinished line
    std::string m_values;
};

}  // namespace cli
