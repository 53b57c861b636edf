#pragma once

#include <cstdint>
#include <optional>

// Line speeds through termios2. These live in a translation unit of their own because
// <asm/termbits.h>, which declares termios2, redefines what <termios.h> declares.

// Sets both directions to baud, which need not have a B constant. False when the driver refused the
// call; a driver may still substitute a speed of its own, so callers read it back with LineSpeed.
bool SetArbitrarySpeed(int fd, std::uint32_t baud);

// The output speed in baud that the driver reports for the line; nullopt when it cannot be read.
std::optional<std::uint32_t> LineSpeed(int fd);
