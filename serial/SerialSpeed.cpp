#include "serial/SerialSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

bool SetArbitrarySpeed(int fd, std::uint32_t baud) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) {
        return false;
    }
    // Clearing the input field too makes the input speed follow the output speed.
    line.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = baud;
    line.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &line) == 0;
}

std::optional<std::uint32_t> LineSpeed(int fd) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    return line.c_ospeed;
}

static_assert(sizeof(termios2) <= sizeof(LineSettings::bytes));

std::optional<LineSettings> ReadLineSettings(int fd) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) {
        return std::nullopt;
    }
    LineSettings settings;
    std::memcpy(settings.bytes.data(), &line, sizeof line);
    return settings;
}

bool WriteLineSettings(int fd, const LineSettings& settings) {
    termios2 line{};
    std::memcpy(&line, settings.bytes.data(), sizeof line);
    return ioctl(fd, TCSETS2, &line) == 0;
}
