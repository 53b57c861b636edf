#include "ui/LogConsole.h"

#include "app/ConsoleLog.h"

#include <QTimer>

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

LogConsole::LogConsole(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUndoRedoEnabled(false);
    // Lets the view scroll past the last line, so the newest lines can stand at the top of the box.
    setCenterOnScroll(true);
}

void LogConsole::Append(std::string_view bytes) {
    const std::string lines = ShownLineEnds(bytes, m_heldCarriageReturn);
    QString shown;
    shown.reserve(static_cast<qsizetype>(lines.size()));
    for (const char c : lines) shown.append(QChar(static_cast<unsigned char>(c)));
    if (shown.isEmpty()) return;
    m_pending.append(shown);
    ScheduleFlush();
}

// A transfer appends a line or two for every exchange, a few hundred a second; laying each out as it
// comes would cost more than the transfer. What came meanwhile is shown together, at the pace a screen
// can show it.
void LogConsole::ScheduleFlush() {
    if (m_flushQueued) return;
    m_flushQueued = true;
    QTimer::singleShot(kFlushMs, this, [this] {
        Flush();
        ApplyScroll();
    });
}

void LogConsole::Flush() {
    m_flushQueued = false;
    if (m_pending.isEmpty()) return;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(m_pending);
    m_pending.clear();
}

void LogConsole::Clear() {
    m_heldCarriageReturn = false;
    m_pending.clear();
    clear();
}

QString LogConsole::Shown() {
    Flush();
    return toPlainText();
}

// Moving the view lays out every line it passes over, which would cost more than the append itself; the
// last position asked for before the window next paints is all that is ever seen, so only that one is
// applied.
void LogConsole::ScrollTo(int firstVisibleLine) {
    m_wantedFirstLine = firstVisibleLine;
    ScheduleFlush();
}

void LogConsole::ApplyScroll() {
    if (m_wantedFirstLine < 0) return;
    Flush();
    verticalScrollBar()->setValue(m_wantedFirstLine);
    m_wantedFirstLine = -1;
}

int LogConsole::FirstVisibleLine() {
    ApplyScroll();
    return firstVisibleBlock().blockNumber();
}
