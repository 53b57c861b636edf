#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "serial/PortDiscovery.h"
#include "tests/support/ScopedVariable.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
}

void Link(const fs::path& to, const fs::path& from) {
    fs::create_directories(from.parent_path());
    fs::create_symlink(to, from);
}

// "@" in the expected paths stands for the tree's temporary root.
std::string Rooted(std::string text, const std::string& root) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
        text.replace(at, 1, root);
    }
    return text;
}

auto Fields(const PortInfo& p) {
    return std::tie(p.number, p.device, p.target, p.fromPortsDirectory, p.present, p.accessible, p.usbId,
                    p.vendor, p.product, p.serial, p.byId, p.latencyTimerMs, p.heldBy);
}

TEST(PortDiscovery, ListsThePortsDirectoryThenTheDevicesThatAreThere) {
    char dirTemplate[] = "/tmp/vantor-discovery-XXXXXX";
    // Canonical, since the targets found are.
    const std::string root = fs::canonical(mkdtemp(dirTemplate)).string();
    const fs::path dev = root + "/dev", sys = root + "/sys", entries = root + "/ports";
    const std::string ftdi = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyUSB0", "ttyUSB7", "ttyACM0"})
        Write(dev / node, "");
    Write(sys / "class/tty/ttyS0/type", "4");  // a 16550A
    Write(sys / "class/tty/ttyS1/type", "0");  // a line reserved with no UART behind it; ttyS2 has no entry
    Link("../../ttyUSB0", dev / "serial/by-id" / ftdi);
    const fs::path ftdiUsb = sys / "devices/pci0/usb1/1-1", picoUsb = sys / "devices/pci0/usb1/1-2";
    for (const auto& [name, value] : {std::pair{"idVendor", "0403"},
                                      {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A1B2C3"}}) {
        Write(ftdiUsb / name, value);
    }
    Write(ftdiUsb / "1-1:1.0/ttyUSB0/latency_timer", "16");  // the driver's attribute, on the port
    Link(ftdiUsb / "1-1:1.0/ttyUSB0", sys / "class/tty/ttyUSB0/device");
    for (const auto& [name, value] :
         {std::pair{"idVendor", "2e8a"}, {"idProduct", "000a"}, {"product", "Pico"}}) {
        Write(picoUsb / name, value);
    }
    fs::create_directories(picoUsb / "1-2:1.0");
    Link("../../../devices/pci0/usb1/1-2/1-2:1.0", sys / "class/tty/ttyACM0/device");
    Link(dev / "serial/by-id" / ftdi, entries / "com5");
    Link(dev / "serial/by-id/usb-gone", entries / "com7");  // an adapter not plugged in
    Link(dev / "ttyACM0", entries / "com40");               // claims 40 from ttyUSB7
    Link(dev / "ttyUSB0", entries / "com06");               // never opened: port 6 is com6
    Write(entries / "notes", "");
    fs::permissions(dev / "ttyS0", fs::perms::owner_read);

    ScopedVariable devRoot("VANTOR_DEV_ROOT", dev.c_str());
    ScopedVariable sysRoot("VANTOR_SYS_ROOT", sys.c_str());
    ScopedVariable portsDir("VANTOR_PORTS_DIR", entries.c_str());
    // access() lets root open anything, so the test looks at the owner's bits instead.
    const auto ownerMayWrite = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0;
    };
    // clang-format off
    const PortInfo expected[] = {
        {5, "@/ports/com5", "@/dev/ttyUSB0", true, true, true, "0403:6001", "FTDI", "FT232R USB UART", "A1B2C3", ftdi, 16, ""},
        {7, "@/ports/com7", "@/dev/serial/by-id/usb-gone", true, false, false, "", "", "", "", "", std::nullopt, ""},
        {40, "@/ports/com40", "@/dev/ttyACM0", true, true, true, "2e8a:000a", "", "Pico", "", "", std::nullopt, ""},
        {1, "@/dev/ttyS0", "@/dev/ttyS0", false, true, false, "", "", "", "", "", std::nullopt, ""},
        {33, "@/dev/ttyUSB0", "@/dev/ttyUSB0", false, true, true, "0403:6001", "FTDI", "FT232R USB UART", "A1B2C3", ftdi, 16, ""},
        {65, "@/dev/ttyACM0", "@/dev/ttyACM0", false, true, true, "2e8a:000a", "", "Pico", "", "", std::nullopt, ""},
    };
    // clang-format on
    const auto ports = ListPortsWith(ownerMayWrite);
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortInfo want = expected[i];
        want.device = Rooted(want.device, root);
        want.target = Rooted(want.target, root);
        EXPECT_EQ(Fields(ports[i]), Fields(want)) << "row " << i;
    }
    const std::string text = Rooted(
        "Serial Port 5: @/ports/com5 -> @/dev/ttyUSB0 (FTDI FT232R USB UART, USB 0403:6001, serial A1B2C3, "
        "by-id usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, latency timer 16 ms)\n"
        "Serial Port 7: @/ports/com7 -> @/dev/serial/by-id/usb-gone; not plugged in\n"
        "Serial Port 40: @/ports/com40 -> @/dev/ttyACM0 (Pico, USB 2e8a:000a)\n"
        "Serial Port 1: @/dev/ttyS0; you may not open it: add your user to the dialout group "
        "(sudo adduser $USER dialout) and log in again\n"
        "Serial Port 33: @/dev/ttyUSB0 (FTDI FT232R USB UART, USB 0403:6001, serial A1B2C3, "
        "by-id usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, latency timer 16 ms)\n"
        "Serial Port 65: @/dev/ttyACM0 (Pico, USB 2e8a:000a)",
        root);
    EXPECT_EQ(DescribePorts(ports), text);
    if (geteuid() != 0) {
        EXPECT_EQ(DescribePorts(ListPorts()), text);  // the real access() agrees
    }
    EXPECT_EQ(DescribePorts({}),
              Rooted("No serial port found: plug in the adapter and look again; to give it "
                     "a number of your own, link its device into @/ports as comN",
                     root));
    fs::remove_all(root);
}

// A program known to take USB serial adapters, holding a port open, is named on the port's line with how
// to stop it; one that runs but holds nothing of ours is not. The programs are copies of sleep under the
// grabbers' names, so the system names their processes as it names the real ones.
TEST(PortDiscovery, NamesAKnownGrabberThatHoldsThePortAndHowToStopIt) {
    char dirTemplate[] = "/tmp/vantor-grabbers-XXXXXX";
    const fs::path root = fs::canonical(mkdtemp(dirTemplate));
    const fs::path ports = root / "ports";
    fs::create_directories(ports);
    ScopedVariable portsDir("VANTOR_PORTS_DIR", ports.c_str());
    const struct {
        const char* name;
        bool holds;
        std::string said;  // after the pid
    } cases[] = {
        {"ModemManager", true,
         "), which takes USB serial adapters for modems: stop it with 'sudo systemctl stop ModemManager', for good "
         "with 'sudo systemctl disable --now ModemManager'"},
        {"brltty", true,
         "), which takes USB serial adapters for braille displays: stop it with 'sudo systemctl stop brltty', for "
         "good with 'sudo apt remove brltty'"},
        {"brltty", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.holds ? " holding" : " holding nothing"));
        int master = -1, slave = -1;
        char slaveName[128] = {};
        ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
        fs::remove(ports / "com1");
        fs::create_symlink(slaveName, ports / "com1");
        const fs::path program = root / c.name;
        fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
        const pid_t child = fork();
        if (child == 0) {
            const int held = open(c.holds ? slaveName : "/dev/null", O_RDWR | O_NOCTTY);
            dup2(held, STDIN_FILENO);
            close(master);  // what the fork inherited is not the copy's to hold
            close(slave);
            execl(program.c_str(), c.name, "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until the copy runs under its own name and holds what it was given.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        const auto running = [&] {
            std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
            std::string name;
            std::error_code error;
            return std::getline(comm, name) && name == c.name &&
                   fs::read_symlink("/proc/" + std::to_string(child) + "/fd/0", error) ==
                       (c.holds ? fs::path(slaveName) : fs::path("/dev/null"));
        };
        while (!running() && std::chrono::steady_clock::now() < deadline) usleep(1000);
        const std::string described = DescribePorts(ListPorts());
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(slave);
        close(master);
        const std::string held = "; held by " + std::string(c.name) + " (pid " + std::to_string(child) + c.said;
        EXPECT_EQ(described.find(held) != std::string::npos, c.holds) << described;
    }
    fs::remove_all(root);
}

}  // namespace
