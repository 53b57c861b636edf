#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "serial/PortPath.h"
#include "tests/support/ScopedVariable.h"

namespace {

using std::nullopt;
using Mapping = std::pair<const char*, std::optional<std::string>>;

TEST(PortPath, NumbersMapOntoTheDeviceRanges) {
    // clang-format off
    const Mapping cases[] = {
        {"1", "/dev/ttyS0"}, {"32", "/dev/ttyS31"}, {"33", "/dev/ttyUSB0"}, {"64", "/dev/ttyUSB31"},
        {"65", "/dev/ttyACM0"}, {"96", "/dev/ttyACM31"}, {"007", "/dev/ttyS6"},
        {"0", nullopt}, {"97", nullopt}, {"COM1", nullopt}, {"", nullopt}, {" 1", nullopt}, {"1 ", nullopt},
        {"+1", nullopt}, {"-1", nullopt}, {"1a", nullopt}, {"0x1", nullopt},
        // These wrap round to 1 in 32 and in 64 bits.
        {"4294967297", nullopt}, {"18446744073709551617", nullopt},
    };
    // clang-format on
    for (const auto& [text, path] : cases) {
        EXPECT_EQ(PortDevicePath(text, ""), path) << '"' << text << '"';
    }
}

TEST(PortPath, AnEntryInThePortsDirectoryComesFirst) {
    char dirTemplate[] = "/tmp/vantor-ports-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    std::filesystem::create_symlink("/dev/null", dir + "/com1");
    std::filesystem::create_symlink("/nonexistent/adapter", dir + "/com2");  // an adapter not plugged in
    std::filesystem::create_directory(dir + "/com200");
    std::filesystem::create_directory(dir + "/com0");
    const Mapping cases[] = {
        {"1", dir + "/com1"}, {"2", dir + "/com2"}, {"200", dir + "/com200"}, {"0200", dir + "/com200"},
        {"3", "/dev/ttyS2"},  {"0", nullopt},       {"COM1", nullopt},
    };
    for (const auto& [text, path] : cases) {
        EXPECT_EQ(PortDevicePath(text, dir), path) << '"' << text << '"';
    }
    ScopedVariable portsDir("VANTOR_PORTS_DIR", dir.c_str());
    EXPECT_EQ(PortDevicePath("1"), dir + "/com1");
    std::filesystem::remove_all(dir);
}

TEST(PortPath, PortsDirectoryFollowsTheEnvironment) {
    const struct {
        const char* portsDir;
        const char* xdg;
        const char* home;
        std::optional<std::string> expected;
    } cases[] = {
        {"/p", "/x", "/h", "/p"},
        {"", "/x", "/h", "/x/vantor-radio-config/ports"},
        {nullptr, "/x", "/h", "/x/vantor-radio-config/ports"},
        {nullptr, "", "/h", "/h/.config/vantor-radio-config/ports"},
        {nullptr, nullptr, "/h", "/h/.config/vantor-radio-config/ports"},
        {nullptr, nullptr, nullptr, nullopt},
    };
    for (const auto& c : cases) {
        ScopedVariable portsDir("VANTOR_PORTS_DIR", c.portsDir);
        ScopedVariable xdg("XDG_CONFIG_HOME", c.xdg);
        ScopedVariable home("HOME", c.home);
        EXPECT_EQ(PortsDirectory(), c.expected)
            << (c.portsDir ? c.portsDir : "-") << ' ' << (c.xdg ? c.xdg : "-");
    }
}

}  // namespace
