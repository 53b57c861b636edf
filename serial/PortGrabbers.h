#pragma once

// Programs known to take USB serial adapters for themselves: ModemManager probes every new one for a
// modem, brltty claims some (the CH340 among them) for a braille display. While one holds a port, the
// program's open fails or its requests go unanswered.
#include <optional>
#include <string>
#include <vector>

struct PortGrabber {
    std::string name;  // as the system names the process
    long pid = 0;
};

// The known grabbers running now; none on a system without them (and on Windows).
std::vector<PortGrabber> RunningGrabbers();

// The first of the grabbers that holds the device open, where the system lets this user see its open
// files (another user's, such as a root service's, only root may see).
std::optional<PortGrabber> GrabberHolding(const std::vector<PortGrabber>& grabbers, const std::string& device);

// What a grabber does to adapters and how to stop it, for a port's line: seen holding the port,
// "ModemManager (pid 812), which takes USB serial adapters for modems: stop it with ..."; else
// "ModemManager (pid 812) is running and takes USB serial adapters for modems: stop it with ...".
std::string DescribeGrabber(const PortGrabber& grabber, bool seenHolding);
