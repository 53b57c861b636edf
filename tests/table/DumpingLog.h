#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tests/protocol/RecordingLog.h"

// The log console as the home number reports see it: besides the texts, a reply goes into it as a hex
// dump, two lowercase digits a byte, nothing between them.
class DumpingLog : public RecordingLog {
public:
    void Hex(std::span<const std::uint8_t> bytes, std::int32_t count) override {
        ASSERT_GT(count, 0);
        ASSERT_LE(static_cast<std::size_t>(count), bytes.size());
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string dump;
        for (const std::uint8_t byte : bytes.first(static_cast<std::size_t>(count))) {
            dump += kDigits[byte >> 4];
            dump += kDigits[byte & 0x0F];
        }
        Text(dump);
    }
};
