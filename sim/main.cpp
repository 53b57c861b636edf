// vantor-device-sim: a simulated radio-interface device on a pseudo-terminal, for tests and for trying
// the program without hardware.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/TableLoader.h"

namespace {

using namespace vantor::sim;

constexpr char kName[] = "vantor-device-sim";

constexpr char kUsage[] = R"(Usage: vantor-device-sim [OPTION]...
Serves a simulated radio-interface device on a pseudo-terminal published as DIR/comN, so that the
program (or any client) can open it as serial port N, with DIR/comN.pid beside it holding its process
id. Prints the published path as its first line, then answers requests until SIGINT, SIGTERM or
SIGHUP, and removes the link and its pid file when it stops. A comN left behind by a simulator that
was killed (its pid file names a process that is gone) is replaced at start.

  --ports-dir DIR    publish the port in DIR (created if missing); default $VANTOR_PORTS_DIR, else
                     ${XDG_CONFIG_HOME:-~/.config}/vantor-radio-config/ports, where the program looks
  --port N           publish as comN (default 1)
  --pace BAUD        send each reply at that line speed, 10 bit times per byte (default: all at once)
  --turnaround MS    wait MS ms after a request before replying (default 2)
  --latency MS       sit behind a USB serial adapter whose latency timer runs out every MS ms (0 to
                     1000; 16 on the common chips): what the device sends reaches the port at the
                     timer's ticks, or at once when 62 bytes are held (default 0: no adapter)
  --gap MS           the pause that ends a request of no fixed length, such as a home number write
                     or garbage (default 4)
  --log FILE         write one line per request and reply piece to FILE: seconds since the start,
                     "request" or "reply", and the bytes in hex; a request of more than one
                     byte ends with the longest pause seen between two of its bytes
  --fault RULE       misbehave as RULE says; may be repeated (see below)
  --chaos SEED,RATE  a randomly faulty device: each request meets one fault with the chance RATE (0
                     to 1), picked at random among silence, status1 (writes), code, sub, echo (home
                     number and PLL writes), short and long (not on text reads), split, delay and the
                     short pieces of a USB adapter, with its numbers; the same SEED gives the same faults for the same
                     requests, and --log has a line "SECONDS chaos FAULT" before each request it hits.
                     SIGUSR1 pauses it (the device answers truly), the next SIGUSR1 lets it go on
  --load TABLEFILE   start with the settings and home numbers of a table file saved by the program
  --help             show this text

Options take their value as the next argument or after '=' (--port=2).

The device refuses with status 1: Wide Band, 'DISP' button, Radio Mfg and 'SQUELCH' button values other
than 1 and 2; DTMF Delay outside 1 to 20; MIN volume above 15; home number writes for numbers outside
1 to 500, with codes that are not digits, or whose codes cannot be split (not 0, 2+2 or 3+3 digits); PLL
writes for home numbers outside 1 to 100. It does not answer a request it cannot parse (unknown code or
sub-code, wrong length), nor a read of a home number it does not have.

)";

[[noreturn]] void UsageError(const std::string& message) {
    std::cerr << kName << ": " << message << "\nTry '" << kName << " --help'.\n";
    std::exit(2);
}

[[noreturn]] void Fail(const std::string& message) {
    std::cerr << kName << ": " << message << "\n";
    std::exit(1);
}

long Number(std::string_view option, const std::string& text, long lowest, long highest) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < lowest || value > highest) {
        UsageError(std::string(option) + " takes a number from " + std::to_string(lowest) + " to " +
                   std::to_string(highest) + ", not '" + text + "'");
    }
    return value;
}

std::filesystem::path DefaultPortsDir() {
    if (const char* dir = std::getenv("VANTOR_PORTS_DIR"); dir && *dir) return dir;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::filesystem::path(config) / "vantor-radio-config" / "ports";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::filesystem::path(home) / ".config" / "vantor-radio-config" / "ports";
    }
    UsageError("no ports directory: give --ports-dir or set VANTOR_PORTS_DIR");
}

DeviceState LoadTable(const std::string& path) {
    DeviceState state;
    if (auto error = LoadTableFile(path, state)) Fail(*error);
    return state;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    bool portsDirGiven = false;
    std::string tablePath;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = option.find('='); option.starts_with("--") && equals != std::string::npos) {
            inlineValue = option.substr(equals + 1);
            option.resize(equals);
        }
        if (option == "--help" || option == "-h") {
            std::cout << kUsage << kFaultSyntaxHelp;
            return 0;
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) UsageError(option + " needs a value");
            return args[++i];
        };
        if (option == "--ports-dir") {
            options.portsDir = value();
            portsDirGiven = true;
        } else if (option == "--port") {
            options.port = static_cast<int>(Number(option, value(), 1, 9999));
        } else if (option == "--pace") {
            options.paceBaud = static_cast<std::uint32_t>(Number(option, value(), 1, 10000000));
        } else if (option == "--turnaround") {
            options.turnaround = std::chrono::milliseconds(Number(option, value(), 0, 600000));
        } else if (option == "--latency") {
            options.latency = std::chrono::milliseconds(Number(option, value(), 0, 1000));
        } else if (option == "--gap") {
            options.gap = std::chrono::milliseconds(Number(option, value(), 1, 1000));
        } else if (option == "--log") {
            options.logPath = value();
        } else if (option == "--chaos") {
            const std::string text = value();
            options.chaos = ParseChaos(text);
            if (!options.chaos) UsageError("--chaos takes SEED,RATE such as 7,0.05, not '" + text + "'");
        } else if (option == "--fault") {
            const std::string ruleText = value();
            FaultParse parsed = ParseFault(ruleText);
            if (auto* why = std::get_if<std::string>(&parsed)) UsageError("--fault " + ruleText + ": " + *why);
            options.faults.push_back(std::get<FaultRule>(parsed));
        } else if (option == "--load") {
            tablePath = value();
        } else {
            UsageError("unknown option '" + args[i] + "'");
        }
    }
    if (!portsDirGiven) options.portsDir = DefaultPortsDir();
    const DeviceState state = tablePath.empty() ? DeviceState{} : LoadTable(tablePath);

    // The serving thread inherits this mask, so these signals reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    // SIGUSR1 pauses --chaos, and the next one lets it go on: a run can read the device's truth.
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PtyServer server(options, state);
    if (auto error = server.Start()) Fail(*error);
    std::cout << server.LinkPath().string() << std::endl;

    bool chaosPaused = false;
    int signal = 0;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
        chaosPaused = !chaosPaused;
        server.PauseChaos(chaosPaused);
    }
    server.Stop();
    return 0;
}
