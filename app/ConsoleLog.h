#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "app/DialogControls.h"
#include "protocol/LogSink.h"

// How a console shows the log's bytes: a line ends at "\r\n" only, given back as '\n'; a lone '\r' or
// '\n' (from a device text) shows as a space. A '\r' that ends one piece waits in `heldReturn` for the
// next piece to tell which it is.
std::string ShownLineEnds(std::string_view bytes, bool& heldReturn);

// The log console: the text every step writes, with its line count, shown by the window's console. The
// program reads its log here; the console's control only shows it.
//
// Any thread may write. What the window's thread writes is shown at once; what another thread writes
// is handed to the window's thread without waiting for it to be shown, in order, and what piles up
// meanwhile is shown in one piece. A pause waits on the writer's own thread. The text and the line
// count are read on the window's thread.
class ConsoleLog : public LogSink {
public:
    explicit ConsoleLog(DialogControls& controls) : m_controls(controls) {}

    // A text is taken as a C string: it ends at its first zero byte, and an empty one clears the log.
    void Text(std::string_view text, bool pause) override;
    void Number(std::int32_t value, bool pause) override { Append(std::to_string(value), pause); }
    void String(const std::string& text, bool pause) override { Append(text, pause); }
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
        Append(HexDigits(bytes, count), false);
    }

    const std::string& Contents() const { return m_text; }
    // "\r\n" in the text, plus one.
    int LineCount() const { return m_lines; }

private:
    void Append(std::string_view piece, bool pause);
    void Clear();
    // On the window's thread.
    void Show(std::string_view piece, bool clearFirst);
    void HandOver(std::string_view piece, bool clears);
    void ShowHanded();

    DialogControls& m_controls;
    std::string m_text;
    int m_lines = 1;

    // Written by other threads, taken by the window's.
    std::mutex m_handedMutex;
    std::string m_handed;
    bool m_handedClears = false;  // the log was cleared before m_handed
    bool m_handOverQueued = false;
};
