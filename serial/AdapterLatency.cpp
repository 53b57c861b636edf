#include "serial/AdapterLatency.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The chips keep the timer in one byte.
constexpr int kLongestTimer = 255;

fs::path SysRoot() {
    const char* root = std::getenv("VANTOR_SYS_ROOT");
    return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/sys");
}

// `ttyDir` is a tty's own sysfs directory; the driver puts the attribute on the port device above it.
std::optional<int> ReadTimer(const fs::path& ttyDir) {
    std::ifstream in(ttyDir / "device" / "latency_timer");
    std::string text;
    if (!std::getline(in, text)) return std::nullopt;
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    int ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || end != text.data() + text.size() || ms < 0 || ms > kLongestTimer) {
        return std::nullopt;
    }
    return ms;
}

}  // namespace

std::optional<int> LatencyTimerOfTty(const std::string& name) {
    return ReadTimer(SysRoot() / "class/tty" / name);
}

std::optional<int> LatencyTimerOfDevice(unsigned major, unsigned minor) {
    return ReadTimer(SysRoot() / "dev/char" / (std::to_string(major) + ":" + std::to_string(minor)));
}
