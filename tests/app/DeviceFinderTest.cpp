// find: ports asked at once, at each speed, for a read that changes nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/DeviceFinder.h"
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

// Two answering devices, a silent one, one another program holds and a port with nothing behind it: the
// answering ones are found at the first speed, the silent one is asked at both, and the held one is
// never touched.
TEST(DeviceFinderTest, FindsTheAnsweringPortsAndLeavesABusyOneAlone) {
    testsupport::PortsDirectory ports;
    const std::string& dir = ports.Path();
    auto first = Serve(dir, 1);
    auto silent = Serve(dir, 2, "*:silence");
    auto held = Serve(dir, 3);
    auto last = Serve(dir, 5);
    SerialLink other;
    ASSERT_EQ(other.Connect("3", 19200), 1);

    const std::vector<FoundPort> found =
        FindDevices({Port(dir, 1), Port(dir, 2), Port(dir, 3), Port(dir, 4), Port(dir, 5)}, {19200, 9600});
    EXPECT_EQ(DescribeFound(found), "port 1  " + dir + "/com1  19200  serial UNIT-1\n" +  //
                                        "port 2  " + dir + "/com2  no answer\n" +         //
                                        "port 3  " + dir + "/com3  busy\n" +              //
                                        "port 4  " + dir + "/com4  no such device\n" +    //
                                        "port 5  " + dir + "/com5  19200  serial UNIT-5\n");
    EXPECT_TRUE(found[0].answered && found[4].answered);
    EXPECT_FALSE(found[1].answered || found[2].answered || found[3].answered);
    EXPECT_TRUE(found[2].busy);
    // The device records a reply as it sends it, maybe a moment after the finder has it.
    EXPECT_TRUE(silent->WaitForRecords(2, testsupport::kHangBound));
    EXPECT_TRUE(first->WaitForRecords(4, testsupport::kHangBound));
    EXPECT_TRUE(held->Records().empty());
    EXPECT_EQ(silent->Records().size(), 2U);  // the DISP read at each speed
    EXPECT_EQ(first->Records().size(), 4U);   // DISP and serial number, each a request and a reply
}

}  // namespace
