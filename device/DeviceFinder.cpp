#include "device/DeviceFinder.h"

#include <system_error>
#include <thread>

#include "device/DeviceSession.h"
#include "serial/PortGrabbers.h"

namespace {

// A port that does not open (another program holds it, this user may not) is not asked again.
void Ask(FoundPort& found, std::int32_t baud) {
    const std::string portText = std::to_string(found.port.number);
    {
        SerialLink probe;
        found.failure = probe.Connect(portText, baud);
        if (!found.failure.Done()) return;
    }
    SilentLog log;  // the finder says what it found, not how
    DeviceSession session(
        log, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0))); },
        [&] {
            return DeviceSession::PortChoice{portText, baud};
        });
    const Reading<std::int32_t> disp = session.Get(protocol::kDisp);
    if (!disp.value) return;
    found.answered = true;
    found.baud = baud;
    found.serialNumber = session.ReadText(protocol::kSerialNumber).value.value_or("");
}

}  // namespace

std::vector<FoundPort> FindDevices(const std::vector<PortInfo>& ports,
                                   const std::vector<std::int32_t>& bauds) {
    std::vector<FoundPort> found(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) found[i].port = ports[i];
    for (const std::int32_t baud : bauds) {
        std::vector<std::thread> askers;
        for (FoundPort& candidate : found) {
            if (candidate.answered || !candidate.failure.Done()) continue;
            try {
                askers.emplace_back([&candidate, baud] { Ask(candidate, baud); });
            } catch (const std::system_error&) {
                Ask(candidate, baud);  // no thread to give: this one asks, later than the others
            }
        }
        for (std::thread& asker : askers) asker.join();
    }
    return found;
}

PortPresence ProbePort(const std::string& portText, std::int32_t baud) {
    using State = PortPresence::State;
    {
        SerialLink probe;
        if (Outcome opened = probe.Connect(portText, baud); !opened.Done()) {
            if (SerialLink::NoDevice(opened)) return {State::kNoPort, {}};
            return {State::kOpenFailed, std::move(opened)};
        }
    }
    SilentLog log;
    DeviceSession session(
        log, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0))); },
        [&] {
            return DeviceSession::PortChoice{portText, baud};
        });
    const Reading<std::int32_t> disp = session.Get(protocol::kDisp);
    if (disp.value) return {State::kAnswered, {}};
    // The port may have gone, or been taken, between the two opens.
    if (SerialLink::NoDevice(disp.outcome)) return {State::kNoPort, {}};
    if (disp.outcome.PortFailed()) return {State::kOpenFailed, disp.outcome};
    return {State::kSilent, {}};
}

std::string DescribeFound(const std::vector<FoundPort>& found) {
    std::string text;
    for (const FoundPort& f : found) {
        text += "port " + std::to_string(f.port.number) + "  " + f.port.device + "  ";
        if (f.answered) {
            text += std::to_string(f.baud) + "  serial " + f.serialNumber;
        } else if (f.Busy()) {
            text += "busy";
            // Who holds it, where the system lets us see; else a known grabber that is running and may
            // be the one.
            if (!f.port.heldBy.empty()) {
                text += "; held by " + f.port.heldBy;
            } else if (const std::vector<PortGrabber> running = RunningGrabbers(); !running.empty()) {
                text += "; " + DescribeGrabber(running.front(), false);
            }
        } else if (!f.failure.Done()) {
            // The failure names the device path already.
            const std::string& why = f.failure.reason;
            text += why.substr(why.find(": ") == std::string::npos ? 0 : why.find(": ") + 2);
        } else {
            text += "no answer";
        }
        text += "\n";
    }
    return text;
}
