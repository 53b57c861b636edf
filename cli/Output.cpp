#include "cli/Output.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "table/HomeNumberTable.h"

namespace cli {

namespace {

std::string g_outputFailure;
std::atomic<bool> g_stopSignalled{false};
std::atomic<bool> g_transfersFinish{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
    // The second event is left to the system, which ends the program.
    return g_stopSignalled.exchange(true) ? FALSE : TRUE;
}
#else
void OnStopSignal(int) { g_stopSignalled = true; }
#endif

}  // namespace

void CatchStopSignals() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Once caught, the next one of the same signal does what it always does: it ends the program.
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

bool StopSignalled() { return g_stopSignalled; }

bool TransfersStop() { return g_stopSignalled && !g_transfersFinish; }

void LetTransfersFinishOnStop() { g_transfersFinish = true; }

std::string HostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && g_outputFailure.empty()) {
        g_outputFailure = std::strerror(errno);
    }
}

const std::string& OutputFailure() { return g_outputFailure; }

bool ErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vantorctl: %s\nTry 'vantorctl --help'.\n", message.c_str());
    return kBadUsage;
}

std::string UtcNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char stamp[64];
    return std::strftime(stamp, sizeof stamp, format, &utc) > 0 ? stamp : "";
}

std::mutex& StandardErrorLock() {
    static std::mutex lock;
    return lock;
}

void StandardErrorLog::Append(std::string_view text, bool pause) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
        std::fputc(text[at], stderr);
    }
    std::fflush(stderr);
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void StandardErrorLog::Text(std::string_view text, bool pause) { Append(text.substr(0, text.find('\0')), pause); }
void StandardErrorLog::Number(std::int32_t value, bool pause) { Append(std::to_string(value), pause); }
void StandardErrorLog::String(const std::string& text, bool pause) { Append(text, pause); }
void StandardErrorLog::Hex(std::span<const std::uint8_t> bytes, std::int32_t count) {
    Append(HexDigits(bytes, count), false);
}

TerminalProgress::TerminalProgress(bool shown) : m_shown(shown) { Show(""); }

TerminalProgress::~TerminalProgress() {
    if (m_shown) std::fputc('\n', stderr);
}

void TerminalProgress::RowsDone(std::int32_t rows) {
    Show(std::to_string(rows) + " of " + std::to_string(table::HomeNumberTable::kRows));
}

void TerminalProgress::SettingsNext() { Show("Settings"); }

bool TerminalProgress::StopRequested() { return TransfersStop(); }

void TerminalProgress::Show(const std::string& text) {
    if (!m_shown) return;
    std::fprintf(stderr, "\r%-20s", text.c_str());
    std::fflush(stderr);
}

void StandardConsole::Value(std::string_view text) { Print(text); }

void StandardConsole::Message(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

bool StandardConsole::ShowsProgress() { return ErrorIsTerminal(); }

UnitConsole::UnitConsole(std::uint32_t port) : m_prefix("[port " + std::to_string(port) + "] ") {}

UnitConsole::~UnitConsole() {
    if (!m_line.empty()) Emit(m_line + "\n");
}

void UnitConsole::Value(std::string_view text) { m_values.append(text); }
void UnitConsole::Message(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        m_errorLines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    Emit(text);
}
void UnitConsole::Notice(const std::string& text) { Emit(text); }

std::vector<std::string> UnitConsole::ErrorLines() {
    NoteErrors(nullptr);
    return m_errorLines;
}

void UnitConsole::NoteErrors(const std::string* line) {
    const int errors = m_errors ? m_errors() : 0;
    if (errors > m_errorsSeen && !m_lastLine.empty()) m_errorLines.push_back(m_lastLine);
    m_errorsSeen = errors;
    if (line) m_lastLine = *line;
}
void UnitConsole::Text(std::string_view text, bool pause) { Append(text.substr(0, text.find('\0')), pause); }
void UnitConsole::Number(std::int32_t value, bool pause) { Append(std::to_string(value), pause); }
void UnitConsole::String(const std::string& text, bool pause) { Append(text, pause); }
void UnitConsole::Hex(std::span<const std::uint8_t> bytes, std::int32_t count) {
    Append(HexDigits(bytes, count), false);
}

void UnitConsole::Append(std::string_view text, bool pause) {
    m_line.append(text);
    for (auto end = m_line.find("\r\n"); end != std::string::npos; end = m_line.find("\r\n")) {
        const std::string line = m_line.substr(0, end);
        NoteErrors(&line);
        Emit(line + "\n");
        m_line.erase(0, end + 2);
    }
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void UnitConsole::Emit(const std::string& lines) {
    std::string prefixed;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = std::min(lines.find('\n', at), lines.size());
        const std::string_view line = std::string_view(lines).substr(at, end - at);
        prefixed += m_prefix;
        prefixed += line;
        prefixed += '\n';
        at = end + 1;
    }
    std::lock_guard lock(StandardErrorLock());
    std::fputs(prefixed.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace cli
