#pragma once

#include <gtest/gtest.h>

#include <string>

#include "protocol/LogSink.h"

// The log console as the protocol code sees it, with its one surprise kept: an empty text clears it.
// Setting and text commands never pause the log and never show a hex dump.
class RecordingLog : public LogSink {
public:
    void Text(std::string_view text, bool pause = false) override {
        Append(text, pause);
        if (text.empty()) m_text.clear();
    }
    void Number(std::int32_t value, bool pause = false) override { Append(std::to_string(value), pause); }
    void String(const std::string& text, bool pause = false) override { Append(text, pause); }
    void Hex(std::span<const std::uint8_t>, std::int32_t) override { ADD_FAILURE() << "unexpected hex dump"; }

    const std::string& Contents() const { return m_text; }

private:
    void Append(std::string_view text, bool pause) {
        EXPECT_FALSE(pause) << text;
        m_text += text;
    }

    std::string m_text;
};
