#pragma once

// The production station: each port a socket that programs every unit plugged into it, one after
// another, until a stop signal.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/Bench.h"

namespace cli {

// How a socket watches its port: how often it asks, and after how many rounds without an answer a unit
// that answered before counts as gone (one whose adapter stays plugged in).
struct SocketWatch {
    std::chrono::milliseconds poll{300};
    int silentRounds = 3;
};

// Every port at once, one thread each: waits for a unit (the port is there and the unit answers its
// DISP setting), runs the command on it, says PASS or FAIL with its serial number and seconds (JSON and
// the record as a run on several ports does), waits until it is gone, and waits for the next. A port
// that will not open for another reason than not being there is said once, until that changes. A stop
// signal ends the waiting; units being programmed finish first. Then the summary; the exit status is
// the worst unit's, 0 when every one passed or none came.
int RunStation(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
               const std::function<int(Session&)>& unit, const RunOptions& options, SocketWatch watch = {});

// "1-3,5" for ports 1, 2, 3 and 5, as they were given.
std::string PortListText(const std::vector<std::uint32_t>& ports);

}  // namespace cli
