#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/Faults.h"
#include "sim/PtyServer.h"
#include "tests/support/FarEnd.h"

namespace testsupport {

inline constexpr std::chrono::milliseconds kRoomyGap{20};

// The simulated device published as COM1 in a private ports directory, for as long as the object lives.
class SimulatedDevice {
public:
    // A pace of 0 sends each reply at once; else at that line speed. A latency of 0 puts the device on
    // the port itself; else behind a USB adapter with that latency timer.
    explicit SimulatedDevice(vantor::sim::DeviceState state = {}, const std::vector<std::string>& faults = {},
                             std::uint32_t paceBaud = 0, std::chrono::milliseconds latency = {})
        : m_server(Options(faults, paceBaud, latency), std::move(state)) {
        if (auto failure = m_server.Start()) ADD_FAILURE() << "simulated device: " << *failure;
    }

    // Every request the device received, in order.
    std::vector<Bytes> Requests() const {
        std::vector<Bytes> requests;
        for (const vantor::sim::Record& record : m_server.Records()) {
            if (record.direction == vantor::sim::Direction::kRequest) requests.push_back(record.bytes);
        }
        return requests;
    }
    vantor::sim::DeviceState State() const { return m_server.State(); }
    const std::string& PortsPath() const { return m_ports.Path(); }

private:
    vantor::sim::ServerOptions Options(const std::vector<std::string>& faults, std::uint32_t paceBaud,
                                       std::chrono::milliseconds latency) const {
        vantor::sim::ServerOptions options;
        options.paceBaud = paceBaud;
        options.latency = latency;
        options.portsDir = m_ports.Path();
        options.port = 1;
        // A loaded machine can pause a client for over 5 ms between two bytes of one request, past the
        // device's own 4 ms: with a two- or three-digit home number write the device would split it.
        options.gap = kRoomyGap;
        for (const std::string& text : faults) {
            auto parsed = vantor::sim::ParseFault(text);
            if (auto* rule = std::get_if<vantor::sim::FaultRule>(&parsed)) {
                options.faults.push_back(*rule);
            } else {
                ADD_FAILURE() << "bad fault " << text << ": " << std::get<std::string>(parsed);
            }
        }
        return options;
    }

    PortsDirectory m_ports;
    vantor::sim::PtyServer m_server;
};

// A simulated device published as comN in a ports directory shared with others, with fault rules or
// none, as long as the pointer lives.
inline std::unique_ptr<vantor::sim::PtyServer> ServeOnPort(const std::string& dir, int port,
                                                           const std::vector<std::string>& faults,
                                                           vantor::sim::DeviceState state = {}) {
    vantor::sim::ServerOptions options;
    options.portsDir = dir;
    options.port = port;
    for (const std::string& fault : faults)
        options.faults.push_back(std::get<vantor::sim::FaultRule>(vantor::sim::ParseFault(fault)));
    auto server = std::make_unique<vantor::sim::PtyServer>(options, std::move(state));
    if (auto failure = server->Start()) ADD_FAILURE() << "simulated device: " << *failure;
    return server;
}

inline std::unique_ptr<vantor::sim::PtyServer> ServeOnPort(const std::string& dir, int port,
                                                           const std::string& fault = "",
                                                           vantor::sim::DeviceState state = {}) {
    return ServeOnPort(dir, port, fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{fault},
                       std::move(state));
}

}  // namespace testsupport
