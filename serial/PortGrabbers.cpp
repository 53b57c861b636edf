#include "serial/PortGrabbers.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct KnownGrabber {
    std::string_view name;
    std::string_view takes;
    std::string_view stop;
};

constexpr std::array<KnownGrabber, 2> kKnown{{
    {"ModemManager", "takes USB serial adapters for modems",
     "stop it with 'sudo systemctl stop ModemManager', for good with 'sudo systemctl disable --now ModemManager'"},
    {"brltty", "takes USB serial adapters for braille displays",
     "stop it with 'sudo systemctl stop brltty', for good with 'sudo apt remove brltty'"},
}};

const KnownGrabber* Known(std::string_view name) {
    for (const KnownGrabber& known : kKnown) {
        if (known.name == name) return &known;
    }
    return nullptr;
}

}  // namespace

#ifdef _WIN32
std::vector<PortGrabber> RunningGrabbers() { return {}; }
std::optional<PortGrabber> GrabberHolding(const std::vector<PortGrabber>&, const std::string&) { return std::nullopt; }
#else
std::vector<PortGrabber> RunningGrabbers() {
    std::vector<PortGrabber> running;
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream comm(it->path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || !Known(name)) continue;
        running.push_back({name, std::stol(pid)});
    }
    return running;
}

std::optional<PortGrabber> GrabberHolding(const std::vector<PortGrabber>& grabbers, const std::string& device) {
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) return std::nullopt;
    for (const PortGrabber& grabber : grabbers) {
        const fs::path fds = fs::path("/proc") / std::to_string(grabber.pid) / "fd";
        std::error_code unseen;  // another user's process: its descriptors are not ours to see
        for (fs::directory_iterator it(fds, unseen), end; !unseen && it != end; it.increment(unseen)) {
            std::error_code unread;
            if (fs::read_symlink(it->path(), unread) == target) return grabber;
        }
    }
    return std::nullopt;
}
#endif

std::string DescribeGrabber(const PortGrabber& grabber, bool seenHolding) {
    const KnownGrabber* known = Known(grabber.name);
    std::string text = grabber.name + " (pid " + std::to_string(grabber.pid) + ")";
    if (!known) return text;
    text += seenHolding ? ", which " : " is running and ";
    return text + std::string(known->takes) + ": " + std::string(known->stop);
}
