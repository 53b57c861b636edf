#pragma once

// The production bench: several units at once, finding the ports with a device, and the record.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Unit.h"

namespace cli {

// find: every port the port list names, asked at each speed ("19200,9600"); the ports that answered,
// were busy or failed, on standard output.
int Find(const std::string& bauds, std::size_t arguments);

// --port as a list: numbers and ranges joined by commas ("1,3,5-8"), each a port number (any that a
// ports directory entry comN could carry); none twice, at most kMostPorts in all. The ports, or why the
// text is no such list.
inline constexpr std::size_t kMostPorts = 256;
struct PortList {
    std::vector<std::uint32_t> ports;
    std::string why;  // empty when the text is a list
};
PortList ParsePortList(const std::string& text);

// Where a run's outcomes go besides the summary: a record file (none when empty), and JSON lines on
// standard output, the summary then on standard error.
struct RunOptions {
    std::string record;
    bool json = false;
};

// The command on every port at once, one thread, session and link each; then the summary on standard
// output (its table, then the units counted) and, with a record file, a line per unit there. The exit
// status is the worst of the units'.
int RunUnits(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
             const std::function<int(Session&)>& unit, const RunOptions& options);

// A single unit's run as a line of the record file; the exit status of writing it.
int RecordOne(const std::string& record, const std::string& what, Session& session, std::uint32_t port,
              int status, std::chrono::steady_clock::time_point start);

}  // namespace cli
