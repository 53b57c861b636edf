// Windows keeps the list of its serial ports in the registry, one value per port.
#include "serial/PortDiscovery.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <string_view>

#include "serial/PortPath.h"

namespace {

// More digits than any COM number; keeps the number within an int.
constexpr std::size_t kMaxPortDigits = 6;

// N of a text "COMN" (any case), or 0.
int ComNumber(std::string_view text) {
    if (text.size() <= 3 || text.size() > 3 + kMaxPortDigits) return 0;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(text[0]) != 'C' || upper(text[1]) != 'O' || upper(text[2]) != 'M') return 0;
    const std::string_view digits = text.substr(3);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    int number = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return number;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    return ListPortsInRegistry(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

std::vector<PortInfo> ListPortsInRegistry(void* rootKey, const std::string& subKey) {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(static_cast<HKEY>(rootKey), subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return ports;  // no key: no serial port was ever seen
    }
    for (DWORD index = 0;; ++index) {
        char name[512];
        BYTE data[64];
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;  // too long, or not a port name
        std::string_view port(reinterpret_cast<const char*>(data), dataLength);
        while (!port.empty() && port.back() == '\0') port.remove_suffix(1);
        const int number = ComNumber(port);
        if (number <= 0) continue;
        PortInfo info;
        info.number = number;
        info.device = PortDevicePath(std::to_string(number)).value_or(std::string(port));
        info.target = std::string(name, nameLength);
        info.present = true;
        info.accessible = true;
        ports.push_back(std::move(info));
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.number < b.number; });
    return ports;
}
