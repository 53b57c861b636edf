#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Outcome.h"
#include "serial/PortDiscovery.h"

// Which ports have a device behind them: each port asked, at each speed until one answers, for its DISP
// setting (a read that changes nothing) and then its serial number. The ports are asked at once, one
// thread each, so a search takes about one time-out per speed whatever the number of ports.
struct FoundPort {
    PortInfo port;
    bool answered = false;
    std::int32_t baud = 0;     // the speed it answered at
    std::string serialNumber;  // as the device gave it; empty when that read failed
    // Why the port could not be asked (kPortInUse: another program holds it, and it was not touched);
    // done when it could.
    Outcome failure;
    bool Busy() const { return failure.kind == Outcome::Kind::kPortInUse; }
};

std::vector<FoundPort> FindDevices(const std::vector<PortInfo>& ports,
                                   const std::vector<std::int32_t>& bauds);

// One line per port: "port N  PATH  SPEED  serial SERIAL", "port N  PATH  busy", "port N  PATH  no answer"
// or "port N  PATH  FAILURE"; joined by '\n' with a final one.
std::string DescribeFound(const std::vector<FoundPort>& found);

// Whether a unit is on the port now, asked as find asks (its DISP setting) and logging nothing: no port
// there (no device at its path: an adapter unplugged), one that would not open for another reason (in
// use, not permitted; `failure` says why), a port with no answer on it, or a unit that answered.
struct PortPresence {
    enum class State { kNoPort, kOpenFailed, kSilent, kAnswered };
    State state = State::kNoPort;
    Outcome failure;
};
PortPresence ProbePort(const std::string& portText, std::int32_t baud);
