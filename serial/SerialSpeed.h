#pragma once

#include <array>
#include <cstdint>
#include <optional>

// Line settings through termios2. These live in a translation unit of their own because
// <asm/termbits.h>, which declares termios2, redefines what <termios.h> declares.

// Sets both directions to baud, which need not have a B constant. False when the driver refused the
// call; a driver may still substitute a speed of its own, so callers read it back with LineSpeed.
bool SetArbitrarySpeed(int fd, std::uint32_t baud);

// The output speed in baud that the driver reports for the line; nullopt when it cannot be read.
std::optional<std::uint32_t> LineSpeed(int fd);

// A port's whole line setting as the driver reports it, speeds without a B constant included, kept as
// bytes so that code on <termios.h> can hold one.
struct LineSettings {
    std::array<unsigned char, 64> bytes{};
    bool operator==(const LineSettings&) const = default;
};

std::optional<LineSettings> ReadLineSettings(int fd);
// Puts a setting read by ReadLineSettings back at once. False when the driver refused it.
bool WriteLineSettings(int fd, const LineSettings& settings);
