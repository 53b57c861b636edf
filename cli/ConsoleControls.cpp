#include "cli/ConsoleControls.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/DialogText.h"

namespace {

bool ErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

ConsoleControls::ConsoleControls() : m_terminal(ErrorIsTerminal()) {}

int ConsoleControls::GetDlgItemInt(int id) { return DialogIntOrZero(GetDlgItemText(id)); }

void ConsoleControls::SetDlgItemInt(int id, int value) { SetDlgItemText(id, std::to_string(value)); }

std::string ConsoleControls::GetDlgItemText(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id].text;
}

void ConsoleControls::SetDlgItemText(int id, std::string_view text) {
    std::lock_guard lock(m_unit);
    m_controls[id].text = std::string(text);
}

// Progress goes to a terminal only, overwriting itself on one line.
void ConsoleControls::ShowWindow(int, bool show) {
    std::lock_guard lock(m_unit);
    if (!show && m_progressShown) std::fputc('\n', stderr);
    m_progressShown = show && m_terminal;
}

void ConsoleControls::SetProgress(int, int, int, std::string_view text) {
    std::lock_guard lock(m_unit);
    if (!m_progressShown) return;
    std::fprintf(stderr, "\r%-20.*s", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

bool ConsoleControls::GetCheck(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id].checked;
}

void ConsoleControls::SetCheck(int id, bool checked) {
    std::lock_guard lock(m_unit);
    m_controls[id].checked = checked;
}

void ConsoleControls::AddString(int id, std::string_view entry) {
    std::lock_guard lock(m_unit);
    m_controls[id].entries.emplace_back(entry);
}

int ConsoleControls::GetCurSel(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id].current;
}

void ConsoleControls::SetCurSel(int id, int index) {
    std::lock_guard lock(m_unit);
    Control& control = m_controls[id];
    control.current = index >= 0 && index < static_cast<int>(control.entries.size()) ? index : -1;
}

std::vector<std::string> ConsoleControls::Entries(int id) {
    std::lock_guard lock(m_unit);
    return m_controls[id].entries;
}

// The log's lines as a terminal shows them: "\r\n" becomes a line end.
void ConsoleControls::AppendConsole(std::string_view text) {
    std::lock_guard lock(m_unit);
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
        std::fputc(text[at], stderr);
    }
    std::fflush(stderr);
}

void ConsoleControls::ShowMessage(std::string_view text, std::string_view caption) {
    std::lock_guard lock(m_unit);
    std::fprintf(stderr, "%.*s: ", static_cast<int>(caption.size()), caption.data());
    AppendConsole(text);
    if (!text.ends_with('\n')) std::fputc('\n', stderr);
}

void ConsoleControls::Sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ConsoleControls::RunAsUnit(const std::function<void()>& unit) {
    std::lock_guard lock(m_unit);
    unit();
}
