#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <thread>

#include "sim/UniqueFd.h"
#include "tests/sim/TestSupport.h"
#include "tests/support/ChildProcess.h"

namespace vantor::sim {
namespace {

using test::Bytes;
using test::PortClient;

constexpr char kSimulator[] = VANTOR_DEVICE_SIM_PATH;

// The simulator run as a program; its ports directory variable given or removed.
class SimProcess : public testsupport::ChildProcess {
public:
    explicit SimProcess(std::vector<std::string> args, const char* portsDirVariable = nullptr)
        : ChildProcess(
              kSimulator, std::move(args),
              {portsDirVariable ? std::string("VANTOR_PORTS_DIR=") + portsDirVariable : "VANTOR_PORTS_DIR"}) {
    }
};

class SimExecutableTest : public testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(SimExecutableTest, PublishesItsPortServesItAndRemovesTheLinkOnSigterm) {
    const auto ports = m_dir.Path() / "ports";
    SimProcess sim({"--ports-dir", ports.string(), "--port", "3"});
    const std::filesystem::path link = sim.FirstLine();
    EXPECT_EQ(link, ports / "com3");
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::read_symlink(link).string().starts_with("/dev/pts/"));
    EXPECT_EQ(PortClient(link).Exchange({0x3B, 0x02}), Bytes({0x3B, 0x02, 0x01}));
    EXPECT_TRUE(std::filesystem::exists(ports / "com3.pid"));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(ports / "com3.pid"));
}

// The kernel gives a dead device's pseudo-terminal number to the next one that asks, often the same device
// restarted; every link left to it then points at the new device. When another program takes the number
// first (tests running beside this one do), the restart still takes com1 over, its owner being gone; the
// case is then tried again until the number comes back.
TEST_F(SimExecutableTest, StartsAgainAfterBeingKilledAndDropsStaleLinksToItsNewPort) {
    bool reused = false;
    for (int attempt = 0; attempt < 10 && !reused; ++attempt) {
        const auto ports = m_dir.Path() / ("ports" + std::to_string(attempt));
        const std::vector<std::string> args{"--ports-dir", ports.string()};
        std::filesystem::path oldPort;
        {
            SimProcess killed(args);
            ASSERT_EQ(std::filesystem::path(killed.FirstLine()), ports / "com1");
            oldPort = std::filesystem::read_symlink(ports / "com1");
            std::filesystem::create_symlink(oldPort, ports / "com2");
            killed.Signal(SIGKILL);
            ASSERT_EQ(killed.Wait(), 128 + SIGKILL);
        }
        SimProcess restarted(args);
        ASSERT_EQ(restarted.FirstLine(), (ports / "com1").string());
        const auto newPort = std::filesystem::read_symlink(ports / "com1");
        reused = newPort == oldPort;
        EXPECT_EQ(std::filesystem::is_symlink(ports / "com2"), !reused) << oldPort << " " << newPort;
        EXPECT_EQ(PortClient(ports / "com1").Exchange({0x3B, 0x02}), Bytes({0x3B, 0x02, 0x01}));
    }
    EXPECT_TRUE(reused) << "the kernel never gave the dead device's number again";
}

// After a kill -9 the link names the pseudo-terminal that the dead simulator had, which another program
// may have now (here: one this test opened). The restart is not refused for it, and takes the port over.
TEST_F(SimExecutableTest, AfterAKillTheRestartTakesOverALinkToAnotherProgramsTerminal) {
    const auto ports = m_dir.Path() / "ports";
    const std::vector<std::string> args{"--ports-dir", ports.string()};
    {
        SimProcess killed(args);
        ASSERT_EQ(std::filesystem::path(killed.FirstLine()), ports / "com1");
        std::ifstream ownerFile(ports / "com1.pid");
        pid_t owner = 0;
        ownerFile >> owner;
        std::ifstream command("/proc/" + std::to_string(owner) + "/cmdline");
        std::string name;
        std::getline(command, name, '\0');
        EXPECT_TRUE(name.ends_with("vantor-device-sim")) << name;
        killed.Signal(SIGKILL);
        ASSERT_EQ(killed.Wait(), 128 + SIGKILL);
    }
    const UniqueFd otherProgram(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(otherProgram.IsOpen());
    ASSERT_EQ(::unlockpt(otherProgram.Get()), 0);
    const std::string otherTerminal = ::ptsname(otherProgram.Get());
    std::filesystem::remove(ports / "com1");
    std::filesystem::create_symlink(otherTerminal, ports / "com1");

    SimProcess restarted(args);
    EXPECT_EQ(restarted.FirstLine(), (ports / "com1").string());
    EXPECT_NE(std::filesystem::read_symlink(ports / "com1"), otherTerminal);
    EXPECT_EQ(PortClient(ports / "com1").Exchange({0x3B, 0x02}), Bytes({0x3B, 0x02, 0x01}));
}

TEST_F(SimExecutableTest, TakesItsPortsDirectoryFromTheEnvironmentAndStopsOnSigint) {
    const auto ports = m_dir.Path() / "from-env";
    SimProcess sim({}, ports.c_str());
    EXPECT_EQ(std::filesystem::path(sim.FirstLine()), ports / "com1");
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports / "com1")));
}

TEST_F(SimExecutableTest, LoadsATableFileAndAppliesFaultsAndLogs) {
    const auto table = m_dir.Path() / "table.txt";
    std::ofstream(table) << "MINvolume: 9\r\nChannels: \r\n7 12 34 PLTX 45.5 \r\n";
    const auto log = m_dir.Path() / "sim.log";
    SimProcess sim({"--ports-dir=" + (m_dir.Path() / "p").string(), "--load", table.string(), "--log",
                    log.string(), "--fault", "35:status1", "--turnaround", "0", "--pace", "19200"});
    const std::filesystem::path link = sim.FirstLine();
    PortClient client(link);
    EXPECT_EQ(client.Exchange({0x3A, 0x02}), Bytes({0x3A, 0x02, 0x09}));
    EXPECT_EQ(client.Exchange({0x33, 0x02, 0x00, 0x07}),
              Bytes({0x33, 0x02, 0x00, 0x07, 0x31, 0x32, 0x33, 0x34}));
    EXPECT_EQ(client.Exchange({0x38, 0x02, 0x00, 0x07}),
              Bytes({0x38, 0x02, 0x00, 0x07, 0x01, 0xC7, 0xFF, 0xFF}));
    EXPECT_EQ(client.Exchange({0x35, 0x01, 0x02}), Bytes({0x35, 0x01, 0x01}));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    std::ifstream lines(log);
    std::string first;
    std::getline(lines, first);
    EXPECT_TRUE(
        std::regex_match(first, std::regex("[0-9]+\\.[0-9]{6} request 3A 02 \\(longest pause [0-9]+ us\\)")))
        << first;
}

TEST_F(SimExecutableTest, HelpDocumentsEveryOptionAndTheFaultSyntax) {
    SimProcess sim({"--help"});
    const std::string help = sim.AllOutput();
    EXPECT_EQ(sim.Wait(), 0);
    for (const char* word : {"--ports-dir", "--port",  "--pace", "--turnaround", "--log",
                             "--fault",     "--load",  "--gap",  "--latency",    "SELECTOR:ACTION",
                             "status1",     "silence", "code",   "sub",          "short",
                             "long",        "split",   "delay",  "unplug",       "VANTOR_PORTS_DIR"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

TEST_F(SimExecutableTest, RefusesBadArgumentsWithAClearMessage) {
    const auto table = m_dir.Path() / "bad.txt";
    std::ofstream(table) << "DTMFDelay: 3\nDTMFDelay: 30\n";
    const auto binary = m_dir.Path() / "binary";
    std::ofstream(binary) << std::string(
        "\x7F"
        "ELF\x02\x00\x1B[2J\n",
        11);
    const auto missing = m_dir.Path() / "missing.txt";
    const std::string ports = (m_dir.Path() / "p").string();
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"--fault", "35:explode"}, 2, "vantor-device-sim: --fault 35:explode: unknown action \"explode\""},
        {{"--port", "0"}, 2, "--port takes a number from 1 to 9999, not '0'"},
        {{"--pace"}, 2, "--pace needs a value"},
        {{"--colour"}, 2, "unknown option '--colour'"},
        {{"--load", table.string()}, 1, table.string() + ": line 2: bad DTMF Delay \"30\""},
        {{"--load", missing.string()},
         1,
         "vantor-device-sim: cannot read the table file " + missing.string() +
             ": No such file or directory\n"},
        {{"--load", m_dir.Path().string()},
         1,
         "vantor-device-sim: cannot read the table file " + m_dir.Path().string() + ": Is a directory\n"},
        {{"--load", "/dev/zero"},
         1,
         "vantor-device-sim: cannot read the table file /dev/zero: more than 1 MiB, far larger than a saved "
         "table\n"},
        {{"--load", binary.string()},
         1,
         "vantor-device-sim: " + binary.string() +
             R"(: line 1: unknown line "\x7FELF\x02\x00\x1B[2J")"
             "\n"},
        {{"--fault", "53:silence"},
         2,
         "vantor-device-sim: --fault 53:silence: unknown command code \"53\" (the device's commands are 33 "
         "to 3C; * for any)\n"},
    };
    for (const auto& [args, status, message] : cases) {
        std::vector<std::string> full{"--ports-dir", ports};
        full.insert(full.end(), args.begin(), args.end());
        SimProcess sim(full);
        const std::string output = sim.AllOutput();
        EXPECT_EQ(sim.Wait(), status) << output;
        EXPECT_NE(output.find(message), std::string::npos) << output;
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ports) / "com1"));
}

}  // namespace
}  // namespace vantor::sim
