#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sim/DeviceModel.h"

namespace vantor::sim {

// Fills the device from a table file as the program saves it: the settings lines, then "Channels: " and
// one line per home number with codes, with optional PLTX and PLRX values. Unlike the program's lenient
// reader, the device takes only what it could have been sent: a value it would refuse on the wire, or a
// line it cannot read, is an error naming the line, and then nothing is changed. A list value of 0 (no
// entry chosen when the file was saved) leaves the device's own setting; texts are cut to their fields.
// Returns the error, or nullopt when the whole file was applied.
// Values quoted in an error show bytes that are not printable ASCII as \xNN (a backslash as \\) and are cut
// after 40 bytes, so that a binary file cannot write control bytes or a screenful to the terminal.
std::optional<std::string> LoadTableText(std::string_view text, DeviceState& state);

// LoadTableText on the file's contents. A directory, a file that cannot be read, or one far larger than any
// saved table (such as a device file that never ends) is an error saying so.
std::optional<std::string> LoadTableFile(const std::filesystem::path& path, DeviceState& state);

}  // namespace vantor::sim
