#include <string_view>

#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"

namespace {

constexpr std::string_view kMayNotOpen = "; you may not open it: ";

}  // namespace

std::string DescribePorts(const std::vector<PortInfo>& ports) {
    if (ports.empty()) {
        std::string text = "No serial port found: plug in the adapter and look again";
        if (const auto portsDir = PortsDirectory()) {
            text += "; to give it a number of your own, link its device into " + *portsDir + " as comN";
        }
        return text;
    }
    std::string text;
    for (const PortInfo& port : ports) {
        if (!text.empty()) text += '\n';
        text += "Serial Port " + std::to_string(port.number) + ": " + port.device;
        if (port.target != port.device) text += " -> " + port.target;
        if (!port.present) {
            text += "; not plugged in";
            continue;
        }
        std::vector<std::string> details;
        std::string name = port.vendor;
        if (!port.product.empty()) name += (name.empty() ? "" : " ") + port.product;
        if (!name.empty()) details.push_back(name);
        if (!port.usbId.empty()) details.push_back("USB " + port.usbId);
        if (!port.serial.empty()) details.push_back("serial " + port.serial);
        if (!port.byId.empty()) details.push_back("by-id " + port.byId);
        if (port.latencyTimerMs) details.push_back("latency timer " + std::to_string(*port.latencyTimerMs) + " ms");
        for (std::size_t i = 0; i < details.size(); ++i) {
            text += (i == 0 ? " (" : ", ") + details[i];
        }
        if (!details.empty()) text += ')';
        if (!port.accessible) {
            text += kMayNotOpen;
            text += kDialoutFix;
        }
        if (!port.heldBy.empty()) text += "; held by " + port.heldBy;
    }
    return text;
}
