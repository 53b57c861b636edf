#include "serial/PortPath.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>

std::optional<std::uint32_t> ParsePortNumber(std::string_view text) {
    // from_chars alone would accept a leading minus sign.
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end != text.data() + text.size() || number == 0) {
        return std::nullopt;
    }
    return number;
}

#ifdef _WIN32

std::optional<std::string> PortsDirectory() { return std::nullopt; }

std::optional<std::string> PortDevicePath(std::string_view portText) {
    // Only digits reach the device namespace: any other text could lead the path elsewhere in it.
    const auto number = ParsePortNumber(portText);
    if (!number) {
        return std::nullopt;
    }
    return "\\\\.\\COM" + std::to_string(*number);
}

#else

namespace {

struct DeviceRange {
    std::uint32_t first;
    std::uint32_t last;
    std::string_view prefix;
};

constexpr DeviceRange kDeviceRanges[] = {
    {1, 32, "/dev/ttyS"},
    {33, 64, "/dev/ttyUSB"},
    {65, 96, "/dev/ttyACM"},
};

std::string_view Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::optional<std::string> PortsDirectory() {
    if (const auto dir = Environment("VANTOR_PORTS_DIR"); !dir.empty()) {
        return std::string(dir);
    }
    std::string configHome;
    if (const auto xdg = Environment("XDG_CONFIG_HOME"); !xdg.empty()) {
        configHome = xdg;
    } else if (const auto home = Environment("HOME"); !home.empty()) {
        configHome = std::string(home) + "/.config";
    } else {
        return std::nullopt;
    }
    return configHome + "/vantor-radio-config/ports";
}

std::optional<std::string> PortDevicePath(std::string_view portText) {
    return PortDevicePath(portText, PortsDirectory().value_or(std::string()));
}

std::optional<std::string> PortDevicePath(std::string_view portText, std::string_view portsDir) {
    const auto number = ParsePortNumber(portText);
    if (!number) {
        return std::nullopt;
    }
    if (!portsDir.empty()) {
        // lstat, so that a link to an adapter that is not plugged in still claims the number and
        // fails to open rather than silently opening some other port.
        std::string entry = std::string(portsDir) + "/com" + std::to_string(*number);
        struct stat info {};
        if (lstat(entry.c_str(), &info) == 0) {
            return entry;
        }
    }
    for (const auto& range : kDeviceRanges) {
        if (*number >= range.first && *number <= range.last) {
            return std::string(range.prefix) + std::to_string(*number - range.first);
        }
    }
    return std::nullopt;
}

#endif
