#pragma once

#include <optional>
#include <string>

// A USB serial adapter does not pass the bytes it receives on as they arrive: it holds them until its
// latency timer runs out (16 ms by default on the common chips) or its buffer fills, so a reply reaches
// the program in pieces up to that long apart. Linux tells the timer of the adapters whose driver has
// one in sysfs ($VANTOR_SYS_ROOT, default /sys, so that tests can build a tree of their own).

// The latency timer in ms of the adapter behind tty `name` (ttyUSB0); nothing when it has none.
std::optional<int> LatencyTimerOfTty(const std::string& name);

// The same for the character device with this major and minor number, whatever path opened it.
std::optional<int> LatencyTimerOfDevice(unsigned major, unsigned minor);
