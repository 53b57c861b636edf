// find: ports asked at once, at each speed, for a read that changes nothing.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include <memory>
#include <string>
#include <vector>

#include "device/DeviceFinder.h"
#include "serial/SerialLink.h"
#include "sim/Faults.h"
#include "sim/PtyServer.h"
#include "tests/support/FarEnd.h"
#include "tests/support/SimulatedDevice.h"

namespace {

std::unique_ptr<vantor::sim::PtyServer> Serve(const std::string& dir, int port,
                                              const std::string& fault = "") {
    vantor::sim::DeviceState state;
    state.serialNumber = vantor::sim::DeviceState::TextField("UNIT-" + std::to_string(port), 32);
    return testsupport::ServeOnPort(dir, port, fault, state);
}

PortInfo Port(const std::string& dir, int number) {
    PortInfo port;
    port.number = number;
    port.device = dir + "/com" + std::to_string(number);
    return port;
}

// Two answering devices, a silent one, one another program holds, a port with nothing behind it and one
// that is no serial port: the answering ones are found at the first speed, the silent one is asked at
// both, the held one is never touched, and one that did not open is not opened again at the next speed.
TEST(DeviceFinderTest, FindsTheAnsweringPortsAndLeavesABusyOneAlone) {
    testsupport::PortsDirectory ports;
    const std::string& dir = ports.Path();
    auto first = Serve(dir, 1);
    auto silent = Serve(dir, 2, "*:silence");
    auto held = Serve(dir, 3);
    auto last = Serve(dir, 5);
    std::ofstream(dir + "/com6") << "a file";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, (dir + "/com6").c_str(), IN_OPEN | IN_CLOSE), 0);
    SerialLink other;
    ASSERT_TRUE(other.Connect("3", 19200).Done());

    const std::vector<FoundPort> found = FindDevices(
        {Port(dir, 1), Port(dir, 2), Port(dir, 3), Port(dir, 4), Port(dir, 5), Port(dir, 6)}, {19200, 9600});
    EXPECT_EQ(DescribeFound(found), "port 1  " + dir + "/com1  19200  serial UNIT-1\n" +  //
                                        "port 2  " + dir + "/com2  no answer\n" +         //
                                        "port 3  " + dir + "/com3  busy\n" +              //
                                        "port 4  " + dir + "/com4  no such device\n" +    //
                                        "port 5  " + dir + "/com5  19200  serial UNIT-5\n" +
                                        "port 6  " + dir + "/com6  not a serial port\n");
    // Opens of the file alternate with their closes, so no two events in a row are alike and none fold.
    alignas(inotify_event) char events[4096];
    const ssize_t size = read(watch, events, sizeof events);
    int opens = 0;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= size;) {
        inotify_event event;
        std::memcpy(&event, events + at, sizeof event);
        if (event.mask & IN_OPEN) ++opens;
        at += static_cast<ssize_t>(sizeof event + event.len);
    }
    EXPECT_EQ(opens, 1) << "one open, not one per speed";
    close(watch);
    EXPECT_TRUE(found[0].answered && found[4].answered);
    EXPECT_FALSE(found[1].answered || found[2].answered || found[3].answered);
    EXPECT_TRUE(found[2].Busy());
    // The device records a reply as it sends it, maybe a moment after the finder has it.
    EXPECT_TRUE(silent->WaitForRecords(2, testsupport::kHangBound));
    EXPECT_TRUE(first->WaitForRecords(4, testsupport::kHangBound));
    EXPECT_TRUE(held->Records().empty());
    EXPECT_EQ(silent->Records().size(), 2U);  // the DISP read at each speed
    EXPECT_EQ(first->Records().size(), 4U);   // DISP and serial number, each a request and a reply
}

}  // namespace
