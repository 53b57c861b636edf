#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which Serial Port numbers lead to a device on this computer, so that a person can find theirs.
//
// On Windows the ports are those the registry lists under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
// Elsewhere the devices are looked for under $VANTOR_DEV_ROOT (default /dev) and described from
// $VANTOR_SYS_ROOT (default /sys); both exist so that tests can build a tree of their own. The program
// itself always opens what PortDevicePath names, so outside tests they are best left unset.

struct PortInfo {
    int number = 0;      // N of "Serial Port N"
    std::string device;  // the path opened for N: the comN entry of the ports directory, or <dev>/ttyXn
    std::string target;  // where device leads once links are followed; device itself when it is no link
    bool fromPortsDirectory = false;
    bool present = false;     // target exists
    bool accessible = false;  // this user may open device for reading and writing
    // For a USB adapter, what sysfs knows of the USB device; empty when unknown or not USB.
    std::string usbId;    // "idVendor:idProduct" in hex as sysfs writes it, e.g. "0403:6001"
    std::string vendor;   // the manufacturer string, e.g. "FTDI"
    std::string product;  // the product string, e.g. "FT232R USB UART"
    std::string serial;   // the serial number string
    std::string byId;     // the name in <dev>/serial/by-id that leads to the same device, if any
    // How long the adapter holds received bytes before handing them over, in ms, where its driver says.
    std::optional<int> latencyTimerMs;
    // A program known to take USB serial adapters that holds this one open (where the system lets this
    // user see it), described with how to stop it; empty when none does.
    std::string heldBy;
};

// Every port number that leads to a device: the comN entries of the ports directory first, in number
// order (an entry whose device is missing too, since it still claims its number), then the numbers of
// the ttyS, ttyUSB and ttyACM ranges that no entry claims. A ttyUSB or ttyACM is listed when its node
// exists; a ttyS only when sysfs also gives it a UART type other than 0 (unknown), because the kernel
// makes ttyS nodes whether or not a UART is behind them.
std::vector<PortInfo> ListPorts();

#ifdef _WIN32
// The COM ports that a registry key laid out as SERIALCOMM lists (value: the driver's device name, data:
// "COMn"), in number order; rootKey is an open HKEY. Values of any other form are passed over.
std::vector<PortInfo> ListPortsInRegistry(void* rootKey, const std::string& subKey);
#else
// As ListPorts, with the check that decides `accessible` (a name of its own keeps &ListPorts unambiguous).
// ListPorts() uses access(R_OK | W_OK), which always succeeds for root, so a test running as root gives a
// check of its own.
std::vector<PortInfo> ListPortsWith(const std::function<bool(const std::string& path)>& mayOpen);
#endif

// What a user who may not open a port can do about it.
inline constexpr std::string_view kDialoutFix =
    "add your user to the dialout group (sudo adduser $USER dialout) and log in again";

// One line per port, joined by '\n' without a final one; a single line with a hint when there is none.
std::string DescribePorts(const std::vector<PortInfo>& ports);
