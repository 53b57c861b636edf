#pragma once

#include <QPlainTextEdit>
#include <string_view>

// The log console: shows the log's bytes, a "\r\n" ending each line, and keeps a chosen line at the top.
// Text is only ever added at the end, so an append costs the same at any length of log.
class LogConsole : public QPlainTextEdit {
public:
    explicit LogConsole(QWidget* parent);

    void Append(std::string_view bytes);
    void Clear();
    void ScrollTo(int firstVisibleLine);
    int FirstVisibleLine() const;

private:
    bool m_heldCarriageReturn = false;  // a '\r' at the end of the last append, waiting for its '\n'
};
