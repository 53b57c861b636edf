// vantorctl: the window's device session from a command line, for scripts and production benches. Every
// byte on the wire and every log line is the window's; the log goes to standard error, values to
// standard output.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "app/DeviceFinder.h"
#include "app/DeviceSession.h"
#include "app/DeviceSettings.h"
#include "app/DialogText.h"
#include "app/SafeFile.h"
#include "app/Sha256.h"
#include "cli/Usage.h"
#include "protocol/DeviceCommand.h"
#include "serial/ExchangeTrace.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"
#include "tablefile/TableFile.h"

namespace {

enum ExitStatus { kDone = 0, kDeviceFailed = 1, kBadUsage = 2, kPortFailed = 3, kOutputFailed = 4 };

// Why standard output could not take what was printed; empty while it could.
std::string g_outputFailure;

// Everything for standard output goes through here, flushed at once, so that a failure is caught with its
// reason (the C library's buffer would only fail later, when errno says something else).
void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && g_outputFailure.empty()) {
        g_outputFailure = std::strerror(errno);
    }
}

bool ErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// The log console on standard error, its lines as a terminal shows them ("\r\n" becomes a line end).
// A text is taken up to its first zero byte, and the empty text (the window's clearing of its log)
// shows nothing; a pause is slept, as the window pauses after the lines that ask for it.
class StandardErrorLog : public LogSink {
public:
    void Text(std::string_view text, bool pause) override { Append(text.substr(0, text.find('\0')), pause); }
    void Number(std::int32_t value, bool pause) override { Append(std::to_string(value), pause); }
    void String(const std::string& text, bool pause) override { Append(text, pause); }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
        Append(HexDigits(bytes, count), false);
    }

private:
    static void Append(std::string_view text, bool pause) {
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
            std::fputc(text[at], stderr);
        }
        std::fflush(stderr);
        if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
};

// A transfer's progress goes to a terminal only, overwriting itself on one line, and ends with a line end.
class TerminalProgress : public DeviceSession::Progress {
public:
    explicit TerminalProgress(bool shown) : m_shown(shown) { Show(""); }
    ~TerminalProgress() override {
        if (m_shown) std::fputc('\n', stderr);
    }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    void RowsDone(std::int32_t rows) override {
        Show(std::to_string(rows) + " of " + std::to_string(table::HomeNumberTable::kRows));
    }
    void SettingsNext() override { Show("Settings"); }
    bool StopRequested() override { return false; }

private:
    void Show(const std::string& text) {
        if (!m_shown) return;
        std::fprintf(stderr, "\r%-20s", text.c_str());
        std::fflush(stderr);
    }
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
    void Value(std::string_view text) override { Print(text); }
    void Message(const std::string& text) override {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }
    LogSink& Log() override { return m_log; }
    bool ShowsProgress() override { return ErrorIsTerminal(); }

private:
    StandardErrorLog m_log;
};

struct Setting {
    std::string_view name;
    const protocol::DeviceCommand& command;
};

const std::array<Setting, 8> kSettings{{
    {"wide-band", protocol::kWideBand},
    {"disp", protocol::kDisp},
    {"squelch", protocol::kSquelch},
    {"radio-mfg", protocol::kRadioMfg},
    {"dtmf-delay", protocol::kDtmfDelay},
    {"min-volume", protocol::kMinVolume},
    {"serial-number", protocol::kSerialNumber},
    {"user-description", protocol::kUserDescription},
}};

template <class... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(text.size() - 1);
    return text;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vantorctl: %s\nTry 'vantorctl --help'.\n", message.c_str());
    return kBadUsage;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const Setting* FindSetting(std::string_view name) {
    for (const Setting& setting : kSettings) {
        if (setting.name == name) return &setting;
    }
    return nullptr;
}

std::string SettingNames() {
    std::string names;
    for (const Setting& setting : kSettings) names += (names.empty() ? "" : ", ") + std::string(setting.name);
    return names;
}

int StatusOf(const Outcome& outcome) {
    switch (outcome.kind) {
        case Outcome::Kind::kDone:
            return kDone;
        case Outcome::Kind::kRefused:
        case Outcome::Kind::kNoAnswer:
            return kDeviceFailed;
        case Outcome::Kind::kInputRejected:
            return kBadUsage;
        case Outcome::Kind::kPortFailed:
            return kPortFailed;
    }
    return kDeviceFailed;
}

// A text as part of a file name: every character a name may not safely hold becomes '_'; the fallback
// when nothing is left, or before a leading dot.
std::string FileNamePart(const std::string& text, const std::string& fallback) {
    std::string name;
    for (const char c : text)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
    return name.empty() || name.front() == '.' ? fallback + name : name;
}

class Session {
public:
    Session(Console& console, const std::string& port, std::int32_t baud)
        : m_console(console),
          m_log(console.Log()),
          m_port(port),
          m_session(
              m_log, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0))); },
              [port, baud] {
                  return DeviceSession::PortChoice{port, baud};
              }) {}
    ~Session() { m_session.Link().SetTrace(nullptr); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Trace(const std::string& path) {
        auto opened = ExchangeTrace::Open(path);
        if (auto* failure = std::get_if<std::string>(&opened)) return TraceFailed(path, *failure);
        m_trace = std::move(std::get<std::unique_ptr<ExchangeTrace>>(opened));
        m_tracePath = path;
        m_session.Link().SetTrace(m_trace.get());
        return kDone;
    }

    // The command's status, or kOutputFailed when the trace could not take every exchange.
    int CheckTrace(int status) {
        if (!m_trace || m_trace->Failure().empty()) return status;
        return TraceFailed(m_tracePath, m_trace->Failure());
    }

    // The value is printed only when the device gave one; the log has said why otherwise.
    int Get(const Setting& setting) {
        const protocol::DeviceCommand& command = setting.command;
        std::optional<std::string> value;
        Outcome outcome;
        if (command.kind == protocol::CommandKind::kText) {
            auto read = m_session.ReadText(command);
            outcome = read.outcome;
            value = read.value;
        } else {
            auto got = m_session.Get(command);
            outcome = got.outcome;
            if (got.value) value = ValueText(command, *got.value);
        }
        if (!outcome.Done()) return StatusOf(outcome);
        m_console.Value(*value + "\n");
        return kDone;
    }

    int Set(const Setting& setting, const std::string& value) {
        const protocol::DeviceCommand& command = setting.command;
        const std::string name(setting.name);
        switch (command.kind) {
            case protocol::CommandKind::kSwitch: {
                const std::int32_t chosen = Lower(value) == "enable" || value == "1"    ? 1
                                            : Lower(value) == "disable" || value == "2" ? 2
                                                                                        : 0;
                if (chosen == 0)
                    return UsageError("wide-band takes enable, disable, 1 or 2, not '" + value + "'");
                return StatusOf(m_session.Set(command, chosen));
            }
            case protocol::CommandKind::kChoice: {
                const auto entries = ChoiceEntries(command);
                std::int32_t chosen = value == "1" ? 1 : value == "2" ? 2 : 0;
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    if (Lower(std::string(entries[i])) == Lower(value))
                        chosen = static_cast<std::int32_t>(i) + 1;
                }
                if (chosen == 0) {
                    return UsageError(name + " takes " + std::string(entries[0]) + ", " +
                                      std::string(entries[1]) + ", 1 or 2, not '" + value + "'");
                }
                return StatusOf(m_session.Set(command, chosen));
            }
            case protocol::CommandKind::kText:
                if (value.size() > command.set.fieldSize) {
                    return UsageError(name + " takes at most " + std::to_string(command.set.fieldSize) +
                                      " characters, not " + std::to_string(value.size()));
                }
                return StatusOf(m_session.WriteText(command, value));
            default: {
                const auto number = ParseDialogInt(value);
                if (!number) return UsageError(name + " takes a whole number, not '" + value + "'");
                return StatusOf(m_session.Set(command, *number));
            }
        }
    }

    int Read(std::int32_t homeNumber) {
        const auto read = m_session.ReadHomeNumber(homeNumber);
        if (!read.outcome.Done()) return StatusOf(read.outcome);
        const HomeNumberReading& got = *read.value;
        std::string line = "tx=" + got.codes->tx + " rx=" + got.codes->rx;
        if (got.pll) line += " pll-tx=" + got.pll->tx + " pll-rx=" + got.pll->rx;
        m_console.Value(line + "\n");
        return kDone;
    }

    // The window's Write checks, its message boxes said on standard error.
    int Write(std::int32_t homeNumber, const std::vector<std::string>& fields) {
        const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
        const table::Entry entry{homeNumber, field(0), field(1), field(2), field(3)};
        const table::WriteDecision decision = table::CheckWrite(entry, table::HomeNumberTable::kRows, m_log);
        if (decision.action == table::WriteDecision::Action::kMessage) {
            std::string said = std::string(table::kInvalidEntryCaption) + ": ";
            for (std::size_t at = 0; at < decision.message.size(); ++at) {
                if (decision.message.compare(at, 2, "\r\n") != 0)
                    said += decision.message[at];
                else
                    said += '\n', ++at;
            }
            if (!said.ends_with('\n')) said += '\n';
            m_console.Message(said);
            return kBadUsage;
        }
        if (decision.action != table::WriteDecision::Action::kSend) return kBadUsage;
        return StatusOf(m_session.WriteHomeNumber(homeNumber, decision.codes, entry.pllTx, entry.pllRx));
    }

    // A file is replaced only by a whole run: a run that failed (a port that would not open, a device
    // unplugged halfway) leaves the file as it was, which may be the good table of an earlier run. The
    // file's name may hold {port} and {serial}, for the port and the serial number read.
    int ReadAll(const std::string& outputName) {
        table::HomeNumberTable table;
        SettingValues settings;
        int status = kDone;
        {
            TerminalProgress progress(m_console.ShowsProgress());
            status = StatusOf(m_session.ReadAll(table, settings, progress));
        }
        if (status == kDone) m_serialNumber = settings.Text(protocol::kSerialNumber);
        const std::string output = Substituted(Substituted(outputName, "{port}", m_port), "{serial}",
                                               FileNamePart(m_serialNumber, "port" + m_port));
        const std::string file = tablefile::WriteTableFile(TakeSnapshot(table, settings));
        if (!output.empty() && status == kDone) {
            m_tableFile = output;
            m_tableDigest = Sha256Hex(file);
        }
        if (output.empty()) {
            m_console.Value(file);
        } else if (status != kDone) {
            m_console.Message(
                Format("vantorctl: %s left as it was: the device was not read whole\n", output.c_str()));
        } else if (auto failure = ReplaceFile(output, file)) {
            m_console.Message(Format("vantorctl: cannot write %s: %s\n", output.c_str(), failure->c_str()));
            return kOutputFailed;
        }
        return status;
    }

    // The file is read once and checked whole before anything is sent: what is not a table, or a table
    // whose loading would stop partway, would overwrite the device's rows and texts with nothing.
    int WriteAll(const std::string& input, bool verify, const std::string& backupDir) {
        table::HomeNumberTable table;
        SettingValues settings;
        if (const int status = LoadTable(input, table, settings); status != kDone) return status;
        if (!backupDir.empty()) {
            if (const int status = Backup(backupDir); status != kDone) return status;
        }
        int status = kDone;
        {
            TerminalProgress progress(m_console.ShowsProgress());
            status = StatusOf(m_session.WriteAll(table, settings, progress));
        }
        if (status == kDone && !settings.Text(protocol::kSerialNumber).empty()) {
            m_serialNumber = settings.Text(protocol::kSerialNumber);
        }
        if (status != kDone || !verify) return status;
        return Verified(table, settings);
    }

    int Verify(const std::string& input) {
        table::HomeNumberTable table;
        SettingValues settings;
        if (const int status = LoadTable(input, table, settings); status != kDone) return status;
        return Verified(table, settings);
    }

    // The serial number the device gave or was given in this run; asked for when there is none yet and
    // the port opened.
    std::string SerialNumber(int status) {
        if (m_serialNumber.empty() && status != kPortFailed) {
            m_serialNumber = m_session.ReadText(protocol::kSerialNumber).value.value_or("");
        }
        return m_serialNumber;
    }
    // What the latest verify found; empty when there was none.
    const std::string& VerifyResult() const { return m_verifyResult; }
    // The table file the command read or wrote, and its SHA-256; empty when none.
    const std::string& TableFile() const { return m_tableFile; }
    const std::string& TableDigest() const { return m_tableDigest; }

private:
    int Verified(const table::HomeNumberTable& table, SettingValues& settings) {
        TerminalProgress progress(m_console.ShowsProgress());
        const Reading<int> verdict = m_session.Verify(table, settings, progress);
        m_verifyResult = !verdict.value        ? "not read whole"
                         : *verdict.value == 0 ? "holds the table"
                                               : std::to_string(*verdict.value) + " differences";
        return StatusOf(verdict.outcome);
    }

    static std::string Substituted(std::string text, std::string_view placeholder, const std::string& value) {
        for (auto at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + value.size())) {
            text.replace(at, placeholder.size(), value);
        }
        return text;
    }

    // The whole device into DIR/<serial number or port>-<UTC time>.txt, a table file Open loads. Nothing
    // may be written to the device unless this has been done.
    int Backup(const std::string& dir) {
        table::HomeNumberTable table;
        SettingValues settings;
        int status = kDone;
        {
            TerminalProgress progress(m_console.ShowsProgress());
            status = StatusOf(m_session.ReadAll(table, settings, progress));
        }
        if (status != kDone) {
            m_console.Message(
                "vantorctl: the device was not read whole for its backup; nothing was written\n");
            return status;
        }
        const std::string path = dir + "/" + BackupName(settings.Text(protocol::kSerialNumber)) + ".txt";
        if (auto failure = ReplaceFile(path, tablefile::WriteTableFile(TakeSnapshot(table, settings)))) {
            m_console.Message(Format("vantorctl: cannot write the backup %s: %s; nothing was written\n",
                                     path.c_str(), failure->c_str()));
            return kOutputFailed;
        }
        m_console.Message(Format("vantorctl: the device was saved to %s\n", path.c_str()));
        return kDone;
    }

    // The serial number with every character a file name may not safely hold made '_', else the port;
    // then the UTC time.
    std::string BackupName(const std::string& serialNumber) const {
        const std::string name = FileNamePart(serialNumber, "port" + m_port);
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
#ifdef _WIN32
        gmtime_s(&utc, &now);
#else
        gmtime_r(&now, &utc);
#endif
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
        return name + "-" + stamp;
    }

    // A table file into a table and settings, its path logged as Open logs it; a usage error for a file
    // that cannot be read, is not a table or would not load whole.
    int LoadTable(const std::string& input, table::HomeNumberTable& table, SettingValues& settings) {
        auto read = ReadWholeFile(input, tablefile::kLargestTableFile);
        if (read.index() == 1) {
            return UsageError("cannot read the table file " + input + ": " + std::get<1>(read));
        }
        const std::string& bytes = std::get<0>(read);
        m_tableFile = input;
        m_tableDigest = Sha256Hex(bytes);
        const tablefile::LoadResult check = tablefile::CheckTableFile(bytes);
        if (!check.Whole()) {
            m_console.Message(Format(
                "vantorctl: %s cannot be loaded whole: loading stops at line %zu: %s; nothing was sent\n",
                input.c_str(), check.stopLine, check.stopReason.c_str()));
            return kBadUsage;
        }
        if (!check.channels) {
            m_console.Message(
                Format("vantorctl: %s is not a table file: it has no Channels: line; nothing was sent\n",
                       input.c_str()));
            return kBadUsage;
        }
        m_log.String(input, false);
        m_log.Text("\r\n", false);
        LoadTableFile(bytes, table, settings, m_log);
        return kDone;
    }

    // A value as the window shows it: a list's entry, Enable or Disable, or the number.
    static std::string ValueText(const protocol::DeviceCommand& command, std::int32_t value) {
        switch (command.kind) {
            case protocol::CommandKind::kSwitch:
                return value == 1 ? "enable" : "disable";
            case protocol::CommandKind::kChoice:
                return std::string(ChoiceEntries(command).at(static_cast<std::size_t>(value - 1)));
            default:
                return std::to_string(value);
        }
    }

    int TraceFailed(const std::string& path, const std::string& failure) {
        m_console.Message(
            Format("vantorctl: cannot write the trace file %s: %s\n", path.c_str(), failure.c_str()));
        return kOutputFailed;
    }

    Console& m_console;
    LogSink& m_log;
    std::string m_port;
    std::string m_serialNumber;
    std::string m_verifyResult;
    std::string m_tableFile;    // the table file read or written, for the record
    std::string m_tableDigest;  // its SHA-256
    DeviceSession m_session;
    std::unique_ptr<ExchangeTrace> m_trace;
    std::string m_tracePath;
};

std::optional<std::int32_t> HomeNumber(const std::string& text) {
    const auto number = ParseDialogInt(text);
    if (!number || *number < 1 || *number > table::HomeNumberTable::kRows) return std::nullopt;
    return number;
}

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// find: every port the port list names, asked at each speed; the ports that answered, were busy or
// failed, on standard output.
int Find(const std::string& bauds, std::size_t arguments) {
    if (arguments != 0) return UsageError("find takes no arguments besides --baud B[,B...]");
    std::vector<std::int32_t> speeds;
    for (std::size_t at = 0; at <= bauds.size();) {
        const std::size_t comma = std::min(bauds.find(',', at), bauds.size());
        const auto speed = ParseDialogInt(std::string_view(bauds).substr(at, comma - at));
        if (!speed || *speed <= 0)
            return UsageError("--baud takes speeds such as 19200,9600, not '" + bauds + "'");
        speeds.push_back(*speed);
        at = comma + 1;
    }
    std::vector<PortInfo> ports;
    for (PortInfo& port : ListPorts()) {
        if (port.present) ports.push_back(std::move(port));
    }
    if (ports.empty()) {
        Print(DescribePorts(ports) + "\n");
        return kDeviceFailed;
    }
    const std::vector<FoundPort> found = FindDevices(ports, speeds);
    Print(DescribeFound(found));
    return std::any_of(found.begin(), found.end(), [](const FoundPort& f) { return f.answered; })
               ? kDone
               : kDeviceFailed;
}

// --port as a list: numbers and ranges joined by commas ("1,3,5-8"), each a port number; none twice.
std::optional<std::vector<std::uint32_t>> ParsePortList(const std::string& text) {
    constexpr std::size_t kMostPorts = 256;
    std::vector<std::uint32_t> ports;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view item = std::string_view(text).substr(at, comma - at);
        const std::size_t dash = item.find('-', 1);
        const auto first = ParsePortNumber(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : ParsePortNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first || *last - *first >= kMostPorts) return std::nullopt;
        for (std::uint64_t n = *first; n <= *last; ++n) {
            const auto number = static_cast<std::uint32_t>(n);
            if (std::find(ports.begin(), ports.end(), number) != ports.end()) return std::nullopt;
            ports.push_back(number);
        }
        if (ports.size() > kMostPorts) return std::nullopt;
        at = comma + 1;
    }
    return ports;
}

std::mutex g_standardError;  // a line of one unit never runs into a line of another

// One unit of a run on several ports: its log lines and messages go to standard error whole, each after
// "[port N] "; its values are kept for the summary; lines that report a failure are counted.
class UnitConsole : public Console, private LogSink {
public:
    explicit UnitConsole(std::uint32_t port) : m_prefix("[port " + std::to_string(port) + "] ") {}
    ~UnitConsole() override {
        if (!m_line.empty()) Emit(m_line + "\n");
    }
    UnitConsole(const UnitConsole&) = delete;
    UnitConsole& operator=(const UnitConsole&) = delete;

    void Value(std::string_view text) override { m_values.append(text); }
    void Message(const std::string& text) override { Emit(text); }
    LogSink& Log() override { return *this; }
    bool ShowsProgress() override { return false; }

    const std::string& Values() const { return m_values; }
    int Errors() const { return m_errors; }

private:
    void Text(std::string_view text, bool pause) override { Append(text.substr(0, text.find('\0')), pause); }
    void Number(std::int32_t value, bool pause) override { Append(std::to_string(value), pause); }
    void String(const std::string& text, bool pause) override { Append(text, pause); }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
        Append(HexDigits(bytes, count), false);
    }

    void Append(std::string_view text, bool pause) {
        m_line.append(text);
        for (auto end = m_line.find("\r\n"); end != std::string::npos; end = m_line.find("\r\n")) {
            Emit(m_line.substr(0, end) + "\n");
            m_line.erase(0, end + 2);
        }
        if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    void Emit(const std::string& lines) {
        static constexpr std::array<std::string_view, 9> kFailures{
            "Timed out", "Unrecognized",   "Unexpected",           "FAILED",     "Unsuccessful",
            " not ",     "Ending process", "Open com port failed", "Error while"};
        std::string prefixed;
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = std::min(lines.find('\n', at), lines.size());
            const std::string_view line = std::string_view(lines).substr(at, end - at);
            for (std::string_view failure : kFailures) {
                if (line.find(failure) != std::string_view::npos) {
                    ++m_errors;
                    break;
                }
            }
            prefixed += m_prefix;
            prefixed += line;
            prefixed += '\n';
            at = end + 1;
        }
        std::lock_guard lock(g_standardError);
        std::fputs(prefixed.c_str(), stderr);
        std::fflush(stderr);
    }

    std::string m_prefix;
    std::string m_line;  // the log's unfinished line
    std::string m_values;
    int m_errors = 0;
};

// What became of each unit, for the summary.
struct UnitResult {
    std::uint32_t port = 0;
    std::string finished;  // the UTC time the unit ended, as 2026-12-07T10:15:00Z
    std::string tableFile;
    std::string tableDigest;
    std::string serialNumber;
    std::string done;
    int errors = 0;
    std::string verify;
    double seconds = 0;
    int status = kDone;
};

// What a unit's run came to, once it has ended; the serial number asked for when the run did not learn it.
UnitResult Finished(Session& session, std::uint32_t port, int status,
                    std::chrono::steady_clock::time_point start) {
    UnitResult result;
    result.port = port;
    result.status = status;
    result.serialNumber = session.SerialNumber(status);
    result.verify = session.VerifyResult();
    result.tableFile = session.TableFile();
    result.tableDigest = session.TableDigest();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    result.finished = stamp;
    return result;
}

// A CSV field: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string StatusWord(int status);

// --record: one line per unit appended to a CSV file, the header first when the file is new; the lines
// of one run go in as one piece, so that runs recording at once never mix their lines.
int Record(const std::string& path, const std::string& command, const std::vector<UnitResult>& results) {
    constexpr std::string_view kHeader =
        "utc,port,device,serial_number,command,table_file,table_sha256,outcome,verify,seconds\n";
    std::string lines;
    for (const UnitResult& r : results) {
        const std::vector<std::string> fields{r.finished,
                                              std::to_string(r.port),
                                              PortDevicePath(std::to_string(r.port)).value_or(""),
                                              r.serialNumber,
                                              command,
                                              r.tableFile,
                                              r.tableDigest,
                                              StatusWord(r.status),
                                              r.verify,
                                              Format("%.1f", r.seconds)};
        for (std::size_t i = 0; i < fields.size(); ++i) lines += (i ? "," : "") + CsvField(fields[i]);
        lines += "\n";
    }
    if (auto failure = AppendToFile(path, kHeader, lines)) {
        std::fprintf(stderr, "vantorctl: cannot write the record %s: %s\n", path.c_str(), failure->c_str());
        return kOutputFailed;
    }
    return kDone;
}

std::string StatusWord(int status) {
    switch (status) {
        case kDone:
            return "done";
        case kDeviceFailed:
            return "refused or no answer";
        case kBadUsage:
            return "bad input";
        case kPortFailed:
            return "port failed";
        default:
            return "output failed";
    }
}

// The command on every port at once, one thread, session and link each; then the summary on standard
// output. The exit status is the worst of the units'.
int RunUnits(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
             const std::function<int(Session&)>& unit, const std::string& record) {
    std::vector<UnitResult> results(ports.size());
    const auto run = [&](std::size_t i) {
        const auto start = std::chrono::steady_clock::now();
        UnitConsole console(ports[i]);
        Session session(console, std::to_string(ports[i]), baud);
        UnitResult& result = results[i];
        const int status = unit(session);
        std::string values = console.Values();
        while (values.ends_with('\n')) values.pop_back();
        result = Finished(session, ports[i], status, start);
        result.done = what + ": " + StatusWord(result.status) + (values.empty() ? "" : ", " + values);
        result.errors = console.Errors();
    };
    std::vector<std::thread> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        try {
            units.emplace_back(run, i);
        } catch (const std::system_error&) {
            run(i);  // no thread to give: this one runs it, after the others have started
        }
    }
    for (std::thread& thread : units) thread.join();

    std::string summary = Format("%-6s %-20s %-32s %6s  %-16s %7s\n", "port", "serial number", "done",
                                 "errors", "verify", "seconds");
    int worst = kDone;
    for (const UnitResult& r : results) {
        summary += Format("%-6u %-20s %-32s %6d  %-16s %7.1f\n", static_cast<unsigned>(r.port),
                          r.serialNumber.c_str(), r.done.c_str(), r.errors,
                          r.verify.empty() ? "-" : r.verify.c_str(), r.seconds);
        worst = std::max(worst, r.status);
    }
    Print(summary);
    return record.empty() ? worst : std::max(worst, Record(record, what, results));
}

#ifndef _WIN32
// A standard stream the caller closed keeps its number taken (by a descriptor that cannot be written), so
// that no file the program opens, the port or the trace, gets that number and receives what was meant for
// the stream. Writing to the stream still fails, as it would have.
void HoldClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}
#endif

// The command line's options and the command's words.
struct Arguments {
    std::string port = Environment("VANTOR_PORT", "1");
    std::string baud = Environment("VANTOR_BAUD", "19200");
    std::string trace;
    std::string output;
    bool help = false;
    bool baudGiven = false;  // find tries the speeds given, else its own
    bool verify = false;     // write-all verifies what it wrote
    std::string backup;      // write-all first reads the device into a file in this folder
    std::string record;      // a CSV file that gets a line for each unit
    std::vector<std::string> words;
};

// The arguments, or the exit status of a usage error (already said).
std::variant<Arguments, int> ParseArguments(int argc, char** argv) {
    Arguments parsed;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // After "--" every word is the command's, a negative number included.
        if (optionsEnded || arg == "--") {
            if (optionsEnded) parsed.words.push_back(arg);
            optionsEnded = true;
            continue;
        }
        std::string value;
        const bool takesValue = arg == "--port" || arg == "--baud" || arg == "--trace" || arg == "-o" ||
                                arg == "--backup" || arg == "--record";
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (takesValue) {
            if (i + 1 >= argc) return UsageError(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--verify") {
            parsed.verify = true;
        } else if (arg == "--backup") {
            parsed.backup = value;
        } else if (arg == "--record") {
            parsed.record = value;
        } else if (arg == "--port") {
            parsed.port = value;
        } else if (arg == "--baud") {
            parsed.baud = value;
            parsed.baudGiven = true;
        } else if (arg == "--trace") {
            parsed.trace = value;
        } else if (arg == "-o" || arg == "--output") {
            parsed.output = value;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            parsed.words.push_back(arg);
        }
    }
    return parsed;
}

int Run(int argc, char** argv) {
    auto arguments = ParseArguments(argc, argv);
    if (const int* status = std::get_if<int>(&arguments)) return *status;
    const auto& [port, baud, trace, output, help, baudGiven, verify, backup, record, words] =
        std::get<Arguments>(arguments);
    const std::string command = words.empty() ? "" : words[0];
    if (help || command.empty()) {
        Print(UsageOf(command));
        return help ? kDone : kBadUsage;
    }
    if (verify && command != "write-all") return UsageError("--verify goes with write-all only");
    if (!backup.empty() && command != "write-all") return UsageError("--backup goes with write-all only");
    if (command == "find") return Find(baudGiven ? baud : "19200,9600", words.size() - 1);
    const std::optional<std::vector<std::uint32_t>> ports = ParsePortList(port);
    if (!ports) return UsageError("--port takes port numbers such as 1 or 1,3,5-8, not '" + port + "'");
    if (!ParseDialogInt(baud) || *ParseDialogInt(baud) <= 0)
        return UsageError("--baud takes a speed such as 19200, not '" + baud + "'");

    const auto count = words.size() - 1;
    const auto expect = [&](std::size_t least, std::size_t most) { return count >= least && count <= most; };
    if (command == "ports") {
        if (!expect(0, 0)) return UsageError("ports takes no arguments");
        Print(DescribePorts(ListPorts()) + "\n");
        return kDone;
    }
    // The command, checked, as what it does to one unit.
    using Unit = std::function<int(Session&)>;
    Unit unit;
    if (command == "get" || command == "set") {
        if (!expect(command == "get" ? 1 : 2, command == "get" ? 1 : 2)) {
            return UsageError(command == "get" ? "get takes one SETTING" : "set takes a SETTING and a VALUE");
        }
        const Setting* setting = FindSetting(words[1]);
        if (!setting)
            return UsageError("unknown setting '" + words[1] + "'; the settings are " + SettingNames());
        if (command == "get") {
            unit = [setting](Session& s) { return s.Get(*setting); };
        } else {
            unit = [setting, value = words[2]](Session& s) { return s.Set(*setting, value); };
        }
    } else if (command == "read" || command == "write") {
        if (!expect(1, 1) && command == "read") return UsageError("read takes one HOME_NUMBER");
        if (!expect(3, 5) && command == "write")
            return UsageError("write takes HOME_NUMBER TX RX [PLLTX [PLLRX]]");
        const auto homeNumber = HomeNumber(words[1]);
        if (!homeNumber) {
            return UsageError("home numbers are 1 to " + std::to_string(table::HomeNumberTable::kRows) +
                              ", not '" + words[1] + "'");
        }
        if (command == "read") {
            unit = [n = *homeNumber](Session& s) { return s.Read(n); };
        } else {
            unit = [n = *homeNumber, fields = std::vector<std::string>(words.begin() + 2, words.end())](
                       Session& s) { return s.Write(n, fields); };
        }
    } else if (command == "read-all") {
        if (!expect(0, 0)) return UsageError("read-all takes no arguments besides -o FILE");
        unit = [output](Session& s) { return s.ReadAll(output); };
    } else if (command == "write-all") {
        if (!expect(1, 1)) return UsageError("write-all takes one TABLEFILE");
        unit = [file = words[1], verify, backup](Session& s) { return s.WriteAll(file, verify, backup); };
    } else if (command == "verify") {
        if (!expect(1, 1)) return UsageError("verify takes one TABLEFILE");
        unit = [file = words[1]](Session& s) { return s.Verify(file); };
    } else {
        return UsageError("unknown command '" + command + "'");
    }

    const std::int32_t speed = *ParseDialogInt(baud);
    if (ports->size() > 1) {
        if (command == "read" || command == "write") return UsageError(command + " takes one port");
        if (!trace.empty()) return UsageError("--trace takes one port");
        if (command == "read-all" && output.find("{port}") == std::string::npos &&
            output.find("{serial}") == std::string::npos) {
            return UsageError("read-all on several ports needs -o with {port} or {serial} in the name");
        }
        return RunUnits(*ports, speed, command, unit, record);
    }
    StandardConsole console;
    Session session(console, port, speed);
    if (!trace.empty()) {
        if (const int status = session.Trace(trace); status != kDone) return status;
    }
    // Every exchange is in the trace file, or the run says it is not.
    const auto start = std::chrono::steady_clock::now();
    const int status = session.CheckTrace(unit(session));
    if (record.empty()) return status;
    return std::max(status, Record(record, command, {Finished(session, ports->front(), status, start)}));
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The log's lines and a table file carry their own CR LF: the C library must add no CR of its own,
    // so that both streams hold the same bytes as on any other system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#else
    HoldClosedStandardStreams();
#endif
    int status = Run(argc, argv);
    if (!g_outputFailure.empty()) {
        std::fprintf(stderr, "vantorctl: cannot write to standard output: %s\n", g_outputFailure.c_str());
        status = kOutputFailed;
    }
    // The log on standard error is output too; whether this last word reaches anybody, the status says it.
    if (std::fflush(stderr) != 0 || std::ferror(stderr)) status = kOutputFailed;
    return status;
}
