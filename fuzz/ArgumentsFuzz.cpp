// vantorctl's parsers of what a person types: the port list of --port, and the serial number series of
// --serial-number and --serial-numbers. The first byte picks the parser; the rest is the text.
//   port list: taken, it names 1 to 256 ports, none twice, each a port number, and written back in its
//   short form it parses to the same ports; refused, it says why.
//   template (the second byte the counter's start): taken, two numbers in a row come out as the
//   template makes them, counting up, within the field; a third after the first is given back is it.
//   list: taken, the numbers come out in the list's order, each within the field and once.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "cli/Bench.h"
#include "cli/Station.h"
#include "device/SerialNumbers.h"

namespace {

constexpr std::size_t kLimit = 32;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "arguments: %s\n", what.c_str());
    std::abort();
}

// A state file of this process's own, empty for each input.
const std::string& StatePath() {
    static const std::string path = [] {
        char name[] = "/tmp/vantor-fuzz-serials-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) Fail("no state file");
        close(fd);
        return std::string(name);
    }();
    if (std::FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
    return path;
}

void PortList(const std::string& text) {
    const cli::PortList list = cli::ParsePortList(text);
    if (list.ports.empty() != !list.why.empty()) Fail("a list with neither ports nor a reason");
    if (list.ports.empty()) return;
    if (list.ports.size() > cli::kMostPorts) Fail("more ports than allowed");
    if (std::set<std::uint32_t>(list.ports.begin(), list.ports.end()).size() != list.ports.size())
        Fail("a port twice");
    for (const std::uint32_t port : list.ports) {
        if (port == 0) Fail("port 0");
    }
    const cli::PortList again = cli::ParsePortList(cli::PortListText(list.ports));
    if (again.ports != list.ports) Fail("'" + text + "' written back as " + cli::PortListText(list.ports) + " reads otherwise");
}

void Template(const std::string& text, std::uint64_t first) {
    Reading<SerialNumbers> made = SerialNumbers::FromTemplate(text, first, StatePath(), kLimit);
    if (!made.value) return;
    const std::size_t open = text.find("{n"), close = text.find('}', open);
    const std::string prefix = text.substr(0, open), suffix = text.substr(close + 1);
    const auto counter = [&](const std::string& number) -> std::uint64_t {
        if (!number.starts_with(prefix) || !number.ends_with(suffix) || number.size() < prefix.size() + suffix.size())
            Fail("'" + number + "' is not of the template '" + text + "'");
        const std::string digits = number.substr(prefix.size(), number.size() - prefix.size() - suffix.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            Fail("'" + number + "' has no counter where the template has it");
        return std::stoull(digits);
    };
    const Reading<std::string> one = made.value->Take();
    if (!one.value) Fail("the first number of a template it took: " + one.outcome.reason);
    if (one.value->size() > kLimit) Fail("a number longer than the field");
    if (counter(*one.value) != first) Fail("the first number is not the counter's start");
    const Reading<std::string> two = made.value->Take();
    if (!two.value) {
        // Only a counter that grew out of the field may end the series.
        if (two.outcome.reason.find("is longer than the serial number's") == std::string::npos)
            Fail("the second number of '" + text + "' was refused: " + two.outcome.reason);
        return;
    }
    if (counter(*two.value) != first + 1) Fail("the second number does not count on");
    if (!made.value->GiveBack(*one.value).Done()) Fail("a number taken here cannot be given back");
    const Reading<std::string> three = made.value->Take();
    if (three.value != one.value) Fail("the number given back is not the next one taken");
}

void List(const std::string& text) {
    Reading<SerialNumbers> made = SerialNumbers::FromList(text, StatePath(), kLimit);
    if (!made.value) return;
    std::set<std::string> seen;
    for (int i = 0; i < 4; ++i) {
        const Reading<std::string> taken = made.value->Take();
        if (!taken.value) return;
        if (taken.value->empty() || taken.value->size() > kLimit) Fail("a listed number out of the field");
        if (!seen.insert(*taken.value).second) Fail("'" + *taken.value + "' handed out twice");
        if (text.find(*taken.value) == std::string::npos) Fail("a number that is not on the list");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    switch (data[0] % 3) {
        case 0:
            PortList(text);
            break;
        case 1:
            Template(text, data[1] == 0xFF ? UINT64_MAX - 1 : data[1]);
            break;
        default:
            List(text);
            break;
    }
    return 0;
}
