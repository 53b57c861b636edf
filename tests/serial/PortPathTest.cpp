#include "serial/PortPath.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Sets or unsets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    void Set(const char* name, const char* value)
    {
        const char* old = std::getenv(name);
        m_saved.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(PortPath, NumbersMapOntoTheDeviceRanges)
{
    const struct {
        const char* text;
        std::optional<std::string> path;
    } cases[] = {
        {"1", "/dev/ttyS0"},
        {"32", "/dev/ttyS31"},
        {"33", "/dev/ttyUSB0"},
        {"64", "/dev/ttyUSB31"},
        {"65", "/dev/ttyACM0"},
        {"96", "/dev/ttyACM31"},
        {"007", "/dev/ttyS6"},
        {"0", std::nullopt},
        {"97", std::nullopt},
        {"COM1", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"+1", std::nullopt},
        {"-1", std::nullopt},
        {"1a", std::nullopt},
        {"0x1", std::nullopt},
        // Would wrap round to 1 in 32 or 64 bits.
        {"4294967297", std::nullopt},
        {"18446744073709551617", std::nullopt},
        {"99999999999999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortDevicePath(c.text, ""), c.path) << '"' << c.text << '"';
    }
}

TEST(PortPath, AnEntryInThePortsDirectoryComesFirst)
{
    char dirTemplate[] = "/tmp/vantor-ports-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    ASSERT_EQ(symlink("/dev/null", (dir + "/com1").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/adapter", (dir + "/com2").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/com200").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + "/com0").c_str(), 0700), 0);

    EXPECT_EQ(PortDevicePath("1", dir), dir + "/com1");
    EXPECT_EQ(PortDevicePath("2", dir), dir + "/com2") << "a dangling link still claims its number";
    EXPECT_EQ(PortDevicePath("200", dir), dir + "/com200");
    EXPECT_EQ(PortDevicePath("0200", dir), dir + "/com200");
    EXPECT_EQ(PortDevicePath("0", dir), std::nullopt);
    EXPECT_EQ(PortDevicePath("3", dir), "/dev/ttyS2");
    EXPECT_EQ(PortDevicePath("COM1", dir), std::nullopt);

    ScopedEnvironment env;
    env.Set("VANTOR_PORTS_DIR", dir.c_str());
    EXPECT_EQ(PortDevicePath("1"), dir + "/com1");

    std::filesystem::remove_all(dir);
}

TEST(PortPath, PortsDirectoryFollowsTheEnvironment)
{
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
        {nullptr, nullptr, nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        ScopedEnvironment env;
        env.Set("VANTOR_PORTS_DIR", c.portsDir);
        env.Set("XDG_CONFIG_HOME", c.xdg);
        env.Set("HOME", c.home);
        EXPECT_EQ(PortsDirectory(), c.expected)
            << (c.portsDir ? c.portsDir : "unset") << ' ' << (c.xdg ? c.xdg : "unset");
    }
}

} // namespace
