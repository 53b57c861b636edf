#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DeviceCommand.h"
#include "protocol/Frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace protocol;

Bytes Of(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(Frame, OneByteRequests) {
    EXPECT_EQ(Of(ReadRequest(0x36)), (Bytes{0x36, 0x02}));
    EXPECT_EQ(Of(WriteRequest(0x35, 2)), (Bytes{0x35, 0x01, 0x02}));
    // An edit can hold a negative number or one past a byte; only the low 8 bits go out.
    EXPECT_EQ(Of(WriteRequest(0x3A, -16)), (Bytes{0x3A, 0x01, 0xF0}));
    EXPECT_EQ(Of(WriteRequest(0x3A, 0x10F)), (Bytes{0x3A, 0x01, 0x0F}));
}

TEST(Frame, TextFieldIsPaddedToItsSizeWithoutRoomForATerminator) {
    Bytes abc{0x37, 0x01, 'A', 'B', 'C'};
    abc.resize(34, 0);
    EXPECT_EQ(TextWriteRequest(0x37, "ABC", 32), abc);
    const std::string full = "0123456789abcdefghijklmnopqrstuv";
    Bytes fullRequest{0x37, 0x01};
    fullRequest.insert(fullRequest.end(), full.begin(), full.end());
    EXPECT_EQ(TextWriteRequest(0x37, full, 32), fullRequest);
    // Bytes of the window's 8-bit character set pass unchanged.
    EXPECT_EQ(TextWriteRequest(0x3C, "\xE9t\xE9", 12),
              (Bytes{0x3C, 0x01, 0xE9, 't', 0xE9, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Frame, TheTableHoldsEveryCodeWithoutGaps) {
    for (int code = 0x33; code <= 0x3C; ++code) {
        ASSERT_NE(FindCommand(static_cast<std::uint8_t>(code)), nullptr) << code;
        EXPECT_EQ(FindCommand(static_cast<std::uint8_t>(code))->code, code);
    }
    EXPECT_EQ(FindCommand(0x32), nullptr);
    EXPECT_EQ(FindCommand(0x3D), nullptr);
}

}  // namespace
