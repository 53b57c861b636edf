// The Win32 link against a real COM port: the simulated device, mapped by `make test-windows` as the COM
// port numbered in $VANTOR_TEST_COM. Each test opens it afresh, so they must not run at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"
#include "serial/SerialLink.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string DevicePort() {
    const char* value = std::getenv("VANTOR_TEST_COM");
    return value != nullptr ? value : "";
}

#define REQUIRE_DEVICE()                                                                   \
    const std::string port = DevicePort();                                                 \
    if (port.empty()) GTEST_SKIP() << "no device: make test-windows sets VANTOR_TEST_COM"

// The reply to a request, as the link delivers it once its last byte is in.
Bytes Exchange(SerialLink& link, const Bytes& request, std::int32_t replyLength, std::int32_t maxCount = 40) {
    EXPECT_EQ(link.Transmit(request), static_cast<std::int32_t>(request.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (link.InputCount() < replyLength && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Bytes reply(40);
    reply.resize(static_cast<std::size_t>(link.Receive(reply, maxCount).value_or(0)));
    return reply;
}

TEST(PortPathWin32Test, OnlyAPlainNumberNamesAComPort) {
    const struct {
        const char* text;
        const char* path;  // nullptr: no port
    } cases[] = {
        {"1", "\\\\.\\COM1"},  {"12", "\\\\.\\COM12"}, {"012", "\\\\.\\COM12"}, {"COM1", nullptr},
        {"0", nullptr},        {"", nullptr},          {"-1", nullptr},         {"1\\..\\PhysicalDrive0", nullptr},
    };
    for (const auto& c : cases) {
        const auto path = PortDevicePath(c.text);
        EXPECT_EQ(path.value_or("none"), c.path ? c.path : "none") << c.text;
    }
    EXPECT_FALSE(PortsDirectory().has_value());
}

TEST(PortDiscoveryWin32Test, ListsTheComPortsOfTheRegistryInNumberOrder) {
    const char* key = "Software\\VantorRadioConfigTest\\SERIALCOMM";
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    const auto text = [&](const char* name, const char* data) {
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(std::strlen(data) + 1));
    };
    text("\\Device\\Serial1", "COM12");
    text("\\Device\\VCP0", "com3");
    text("\\Device\\Parallel0", "LPT1");
    text("\\Device\\Odd", "COM");
    const DWORD number = 4;
    RegSetValueExA(handle, "\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(handle);

    const auto ports = ListPortsInRegistry(HKEY_CURRENT_USER, key);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\VantorRadioConfigTest");
    EXPECT_EQ(DescribePorts(ports),
              "Serial Port 3: \\\\.\\COM3 -> \\Device\\VCP0\n"
              "Serial Port 12: \\\\.\\COM12 -> \\Device\\Serial1");
    EXPECT_TRUE(ListPortsInRegistry(HKEY_CURRENT_USER, "Software\\VantorRadioConfigTest\\None").empty());
}

TEST(SerialLinkWin32Test, AClosedLinkDoesNothing) {
    SerialLink link;
    Bytes buffer(40);
    EXPECT_EQ(link.Transmit(Bytes{0x34, 0x02}), 0);
    EXPECT_FALSE(link.TransmitByte(0x34));
    EXPECT_EQ(link.InputCount(), 0);
    EXPECT_EQ(link.Receive(buffer, 40), 0);
    link.Disconnect();
    link.Disconnect();
}

TEST(SerialLinkWin32Test, FailuresToOpenSayWhy) {
    REQUIRE_DEVICE();
    const struct {
        std::string text;
        std::int32_t baud;
        std::string reason;
        std::string device;
    } cases[] = {
        {"COM" + port, 19200, "Serial Port \"COM" + port + "\" names no port: type a number such as 1", ""},
        {"250", 19200, "\\\\.\\COM250: no such device", "\\\\.\\COM250"},
        {port, 0, "\\\\.\\COM" + port + ": the speed 0 was refused", "\\\\.\\COM" + port},
    };
    // A port in use is not among them: Windows refuses a second open of a COM port, wine does not.
    for (const auto& c : cases) {
        SerialLink link;
        const Outcome failure = link.Connect(c.text, c.baud);
        EXPECT_EQ(failure.kind, Outcome::Kind::kPortFailed) << c.text;
        EXPECT_EQ(failure.reason, c.reason) << c.text;
        EXPECT_EQ(failure.path, c.device) << c.text;
        EXPECT_FALSE(link.IsOpen());
    }
    EXPECT_FALSE(SystemErrorText(ERROR_FILE_NOT_FOUND).empty());
}

TEST(SerialLinkWin32Test, ExchangesBytesUnchangedAndReadsNoMoreThanAsked) {
    REQUIRE_DEVICE();
    SerialLink link;
    ASSERT_TRUE(link.Connect(port, 19200).Done());
    // Open already: the first port and speed stay.
    EXPECT_TRUE(link.Connect("250", 9600).Done());
    EXPECT_EQ(Exchange(link, {0x34, 0x02}, 3), (Bytes{0x34, 0x02, 0x01}));

    // The serial number's reply is 34 bytes, zeros included; a read of 10 leaves 24 queued.
    Bytes first = Exchange(link, {0x37, 0x02}, 34, 10);
    EXPECT_EQ(first, (Bytes{0x37, 0x02, 'S', 'I', 'M', '0', '0', '0', '0', '1'}));
    EXPECT_EQ(link.InputCount(), 24);
    Bytes rest(40);
    ASSERT_EQ(link.Receive(rest, 40), 24);
    EXPECT_EQ(Bytes(rest.begin(), rest.begin() + 24), Bytes(24, 0x00));
    EXPECT_EQ(link.Receive(rest, 40), 0);

    // Bytes that XON/XOFF or zero stripping would take: PLL values 0x1113 and 0x0013 for home number 17.
    EXPECT_EQ(Exchange(link, {0x38, 0x01, 0x00, 0x11, 0x11, 0x13, 0x00, 0x13}, 5),
              (Bytes{0x38, 0x01, 0x00, 0x11, 0x00}));
    EXPECT_EQ(Exchange(link, {0x38, 0x02, 0x00, 0x11}, 8),
              (Bytes{0x38, 0x02, 0x00, 0x11, 0x11, 0x13, 0x00, 0x13}));

    // Unread input does not outlive the port.
    EXPECT_EQ(link.Transmit(Bytes{0x34, 0x02}), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    link.Disconnect();
    ASSERT_TRUE(link.Connect(port, 19200).Done());
    EXPECT_EQ(link.InputCount(), 0);
}

TEST(SerialLinkWin32Test, LeavesTheLineAsItFoundIt) {
    REQUIRE_DEVICE();
    const std::string path = "\\\\.\\COM" + port;
    const auto lineSettings = [&] {
        DCB line{};
        line.DCBlength = sizeof line;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(GetCommState(handle, &line));
        CloseHandle(handle);
        return line;
    };
    const DCB before = lineSettings();
    {
        SerialLink link;
        ASSERT_TRUE(link.Connect(port, before.BaudRate == 9600 ? 4800 : 9600).Done());
    }
    const DCB after = lineSettings();
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_EQ(after.ByteSize, before.ByteSize);
    EXPECT_EQ(after.Parity, before.Parity);
    EXPECT_EQ(after.StopBits, before.StopBits);
}

}  // namespace
