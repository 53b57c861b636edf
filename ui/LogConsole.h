#pragma once

#include <QPlainTextEdit>
#include <string_view>

// The log console: shows the log's bytes, a "\r\n" ending each line, and keeps a chosen line at the top.
// Text is only ever added at the end, and what arrives between two turns of the event loop goes into the
// document in one insertion, so an append costs the same at any length of log.
class LogConsole : public QPlainTextEdit {
public:
    explicit LogConsole(QWidget* parent);

    void Append(std::string_view bytes);
    void Clear();
    // The whole text shown, with everything appended so far.
    QString Shown();
    // The view moves once the window next handles its events, so a burst of appends moves it once.
    void ScrollTo(int firstVisibleLine);
    int FirstVisibleLine();

private:
    void ApplyScroll();
    void Flush();
    void ScheduleFlush();

    QString m_pending;  // appended, not yet in the document
    static constexpr int kFlushMs = 20;
    bool m_flushQueued = false;

    int m_wantedFirstLine = -1;         // -1: no move waiting
    bool m_heldCarriageReturn = false;  // a '\r' at the end of the last append, waiting for its '\n'
};
