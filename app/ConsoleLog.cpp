#include "app/ConsoleLog.h"

std::string ShownLineEnds(std::string_view bytes, bool& heldReturn) {
    std::string shown;
    shown.reserve(bytes.size() + 1);
    std::size_t i = 0;
    if (heldReturn) {
        heldReturn = false;
        if (!bytes.empty() && bytes.front() == '\n') {
            shown.push_back('\n');
            i = 1;
        } else {
            shown.push_back(' ');
        }
    }
    for (; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            if (i + 1 == bytes.size()) {
                heldReturn = true;
            } else if (bytes[i + 1] == '\n') {
                shown.push_back('\n');
                ++i;
            } else {
                shown.push_back(' ');
            }
        } else {
            shown.push_back(c == '\n' ? ' ' : c);
        }
    }
    return shown;
}

void ConsoleLog::Text(std::string_view text, bool pause) {
    const std::string_view shown = text.substr(0, text.find('\0'));
    if (shown.empty()) {
        Clear();
    } else {
        Append(shown, false);
    }
    if (pause) m_controls.Sleep(100);
}

void ConsoleLog::Append(std::string_view piece, bool pause) {
    if (m_controls.IsWindowThread()) {
        ShowHanded();  // what was handed over came first
        Show(piece, false);
    } else {
        HandOver(piece, false);
    }
    if (pause) m_controls.Sleep(100);
}

// One hand-over at a time is queued; it takes everything handed over until it runs. It is queued once
// the lock is let go: the window may run it at once.
void ConsoleLog::HandOver(std::string_view piece, bool clears) {
    {
        std::lock_guard lock(m_handedMutex);
        if (clears) {
            m_handed.clear();
            m_handedClears = true;
        }
        m_handed.append(piece);
        if (m_handOverQueued) return;
        m_handOverQueued = true;
    }
    m_controls.Post([this] { ShowHanded(); });
}

// A clear from another thread drops what it had handed over and not yet shown.
void ConsoleLog::Clear() {
    if (m_controls.IsWindowThread()) {
        ShowHanded();
        Show({}, true);
        return;
    }
    HandOver({}, true);
}

void ConsoleLog::ShowHanded() {
    std::string handed;
    bool clears = false;
    {
        std::lock_guard lock(m_handedMutex);
        handed.swap(m_handed);
        clears = m_handedClears;
        m_handedClears = false;
        m_handOverQueued = false;
    }
    if (!handed.empty() || clears) Show(handed, clears);
}

// The console follows its newest lines: line n - 5 becomes the first one shown, n counting the empty
// line after a final line end. Only the new text reaches the control, so an append costs the same however
// long the log has grown.
void ConsoleLog::Show(std::string_view piece, bool clearFirst) {
    m_controls.RunAsUnit([&] {
        if (clearFirst) {
            m_text.clear();
            m_lines = 1;
            m_controls.ClearConsole();
        }
        if (!piece.empty()) {
            if (!m_text.empty() && m_text.back() == '\r' && piece.front() == '\n') ++m_lines;
            for (std::size_t i = piece.find("\r\n"); i != std::string_view::npos; i = piece.find("\r\n", i + 2)) {
                ++m_lines;
            }
            m_text.append(piece);
            m_controls.AppendConsole(piece);
        }
        m_controls.ScrollConsoleTo(m_lines > 5 ? m_lines - 5 : 0);
    });
}
