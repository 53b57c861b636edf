#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The Serial Port field holds a number N.
// On Windows it is COM port N, opened as \\.\COMN.
// Elsewhere an entry comN (a link or any path) in the ports directory lets a user map any adapter to any
// number; without one, COM1-32, COM33-64 and COM65-96 name /dev/ttyS0-31, /dev/ttyUSB0-31 and
// /dev/ttyACM0-31.

// $VANTOR_PORTS_DIR when set and non-empty, else ${XDG_CONFIG_HOME:-$HOME/.config}/vantor-radio-config/ports;
// nullopt when neither a config home nor a home directory is known, and always on Windows, which numbers
// its ports itself.
std::optional<std::string> PortsDirectory();

// The number a port text names: plain decimal digits, at least 1, at most 2^32 - 1; nullopt otherwise.
std::optional<std::uint32_t> ParsePortNumber(std::string_view text);

// The device to open for the port text, or nullopt when the text is not a plain decimal number of at
// least 1 ("COM1", " 1", "+1" name no port) or names no port.
std::optional<std::string> PortDevicePath(std::string_view portText);

#ifndef _WIN32
// As above with the ports directory given; an empty one is not searched.
std::optional<std::string> PortDevicePath(std::string_view portText, std::string_view portsDir);
#endif
