#include "serial/PortDiscovery.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

#include "serial/AdapterLatency.h"
#include "serial/PortGrabbers.h"
#include "serial/PortPath.h"

namespace fs = std::filesystem;

namespace {

// As the kernel's own limit on links followed in one lookup; a loop ends here.
constexpr int kMaxLinkHops = 40;
// More digits than any port number a person types; keeps the number within an int.
constexpr std::size_t kMaxPortDigits = 6;
constexpr std::string_view kDefaultDevRoot = "/dev";
constexpr std::string_view kDefaultSysRoot = "/sys";

std::string EnvironmentOr(const char* name, std::string_view fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

// The first line of a sysfs attribute, without its line end; empty when there is none.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

// Where a path leads once every link is followed, even when the last one leads nowhere (an adapter
// that is unplugged leaves its by-id link dangling, and the name it pointed at is what a person needs).
fs::path FollowLinks(const fs::path& start) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(start, error))) return start;
    fs::path current = start;
    for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(fs::symlink_status(current, error)); ++hop) {
        const fs::path next = fs::read_symlink(current, error);
        if (error) break;
        current = (next.is_absolute() ? next : current.parent_path() / next).lexically_normal();
    }
    if (fs::path real = fs::canonical(current, error); !error) return real;
    return current;
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct Roots {
    fs::path dev;
    fs::path sys;
};

// A ttyS node exists for every line the 8250 driver reserves; type 0 is the kernel's PORT_UNKNOWN, a
// line with no UART found behind it.
bool HasUart(const Roots& roots, const std::string& name) {
    const std::string type = ReadAttribute(roots.sys / "class/tty" / name / "type");
    return !type.empty() && type != "0";
}

// The USB device a tty belongs to is the nearest directory above it that holds idVendor: for ttyUSB the
// usb-serial port and the interface lie between, for ttyACM the interface alone.
void AddUsbDetails(const Roots& roots, const std::string& name, PortInfo& port) {
    std::error_code error;
    const fs::path sysRoot = fs::canonical(roots.sys, error);
    if (error) return;
    fs::path dir = fs::canonical(roots.sys / "class/tty" / name / "device", error);
    if (error) return;
    // Never above the sysfs root: a test tree's parents are not sysfs.
    for (; dir != sysRoot; dir = dir.parent_path()) {
        const fs::path inside = dir.lexically_relative(sysRoot);
        if (inside.empty() || *inside.begin() == "..") return;
        if (fs::exists(dir / "idVendor", error)) {
            port.usbId = ReadAttribute(dir / "idVendor") + ":" + ReadAttribute(dir / "idProduct");
            port.vendor = ReadAttribute(dir / "manufacturer");
            port.product = ReadAttribute(dir / "product");
            port.serial = ReadAttribute(dir / "serial");
            return;
        }
    }
}

std::string ByIdName(const Roots& roots, const fs::path& target) {
    std::error_code error;
    std::vector<fs::path> names;
    for (fs::directory_iterator it(roots.dev / "serial/by-id", error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path());
    }
    std::sort(names.begin(), names.end());  // the same answer whatever order the directory gives
    for (const fs::path& name : names) {
        if (fs::equivalent(FollowLinks(name), target, error)) return name.filename().string();
    }
    return {};
}

PortInfo Describe(const Roots& roots, int number, const std::string& device, bool fromPortsDirectory,
                  const std::function<bool(const std::string&)>& mayOpen) {
    PortInfo port;
    port.number = number;
    port.device = device;
    port.fromPortsDirectory = fromPortsDirectory;
    const fs::path target = FollowLinks(device);
    port.target = target.string();
    std::error_code error;
    port.present = fs::exists(target, error);
    if (!port.present) return port;
    port.accessible = mayOpen(device);
    // Only a node directly in the device directory has a sysfs entry of the same name; a pseudo-terminal
    // or any other file a comN entry names has none.
    if (fs::equivalent(target.parent_path(), roots.dev, error)) {
        AddUsbDetails(roots, target.filename().string(), port);
        port.latencyTimerMs = LatencyTimerOfTty(target.filename().string());
    }
    port.byId = ByIdName(roots, target);
    if (const auto holder = GrabberHolding(RunningGrabbers(), target.string())) port.heldBy = DescribeGrabber(*holder, true);
    return port;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    return ListPortsWith([](const std::string& path) { return access(path.c_str(), R_OK | W_OK) == 0; });
}

std::vector<PortInfo> ListPortsWith(const std::function<bool(const std::string& path)>& mayOpen) {
    const Roots roots{EnvironmentOr("VANTOR_DEV_ROOT", kDefaultDevRoot),
                      EnvironmentOr("VANTOR_SYS_ROOT", kDefaultSysRoot)};
    std::vector<PortInfo> ports;

    std::map<int, std::string> entries;
    if (const auto portsDir = PortsDirectory()) {
        std::error_code error;
        for (fs::directory_iterator it(*portsDir, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            const std::string_view digits =
                std::string_view(name).substr(std::min<std::size_t>(3, name.size()));
            // Only the spelling the program opens: com05 or com0 never is.
            if (!name.starts_with("com") || !IsDigits(digits) || digits[0] == '0' ||
                digits.size() > kMaxPortDigits) {
                continue;
            }
            if (const auto device = PortDevicePath(digits, *portsDir)) {
                entries[std::stoi(std::string(digits))] = *device;
            }
        }
    }
    for (const auto& [number, device] : entries) {
        ports.push_back(Describe(roots, number, device, true, mayOpen));
    }

    // The ranges come from PortDevicePath itself, so that this list and what the program opens agree.
    for (int number = 1;; ++number) {
        const auto standard = PortDevicePath(std::to_string(number), "");
        if (!standard) break;
        if (entries.count(number) != 0) continue;
        const std::string name = fs::path(*standard).filename().string();
        const std::string device = (roots.dev / name).string();
        std::error_code error;
        if (!fs::exists(device, error)) continue;
        if (name.starts_with("ttyS") && !HasUart(roots, name)) continue;
        ports.push_back(Describe(roots, number, device, false, mayOpen));
    }
    return ports;
}
