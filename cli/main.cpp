// vantorctl: the window's device session from a command line, for scripts and production benches. Every
// byte on the wire and every log line is the window's; the log goes to standard error, values to
// standard output.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "cli/Bench.h"
#include "cli/Files.h"
#include "cli/Output.h"
#include "cli/Station.h"
#include "cli/Unit.h"
#include "cli/Usage.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"

namespace cli {
namespace {

std::optional<std::int32_t> HomeNumber(const std::string& text) {
    const auto number = ParseDialogInt(text);
    if (!number || *number < 1 || *number > table::HomeNumberTable::kRows) return std::nullopt;
    return number;
}

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

#ifndef _WIN32
// A standard stream the caller closed keeps its number taken (by a descriptor that cannot be written), so
// that no file the program opens, the port or the trace, gets that number and receives what was meant for
// the stream. Writing to the stream still fails, as it would have.
void HoldClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}
#endif

// The command line's options and the command's words.
struct Arguments {
    std::string port = Environment("VANTOR_PORT", "1");
    std::string baud = Environment("VANTOR_BAUD", "19200");
    std::string trace;
    std::string output;
    bool help = false;
    bool baudGiven = false;  // find tries the speeds given, else its own
    bool verify = false;     // write-all verifies what it wrote
    std::string backup;      // write-all first reads the device into a file in this folder
    std::string record;      // a CSV file that gets a line for each unit
    bool portGiven = false;  // diff compares a file with a device only on a port named
    // write-all gives each unit a serial number of its own: from a template with a counter, or a list
    std::string serialTemplate;
    std::string serialFirst;
    std::string serialList;
    bool json = false;  // each unit's outcome, and the summary, as a JSON line on standard output
    std::vector<std::string> words;
};

// The arguments, or the exit status of a usage error (already said).
std::variant<Arguments, int> ParseArguments(int argc, char** argv) {
    Arguments parsed;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // After "--" every word is the command's, a negative number included.
        if (optionsEnded || arg == "--") {
            if (optionsEnded) parsed.words.push_back(arg);
            optionsEnded = true;
            continue;
        }
        std::string value;
        const bool takesValue = arg == "--port" || arg == "--baud" || arg == "--trace" || arg == "-o" ||
                                arg == "--backup" || arg == "--record" || arg == "--serial-number" ||
                                arg == "--first" || arg == "--serial-numbers";
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (takesValue) {
            if (i + 1 >= argc) return UsageError(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--verify") {
            parsed.verify = true;
        } else if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--backup") {
            parsed.backup = value;
        } else if (arg == "--record") {
            parsed.record = value;
        } else if (arg == "--serial-number") {
            parsed.serialTemplate = value;
        } else if (arg == "--first") {
            parsed.serialFirst = value;
        } else if (arg == "--serial-numbers") {
            parsed.serialList = value;
        } else if (arg == "--port") {
            parsed.port = value;
            parsed.portGiven = true;
        } else if (arg == "--baud") {
            parsed.baud = value;
            parsed.baudGiven = true;
        } else if (arg == "--trace") {
            parsed.trace = value;
        } else if (arg == "-o" || arg == "--output") {
            parsed.output = value;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            parsed.words.push_back(arg);
        }
    }
    return parsed;
}

// What the command does to one unit, its words checked; none after a usage error, said.
using Unit = std::function<int(Session&)>;
std::optional<Unit> UnitFor(const Arguments& arguments, const std::shared_ptr<SerialNumbers>& numbers) {
    const auto& [port, baud, trace, output, help, baudGiven, verify, backup, record, portGiven, serialTemplate,
                 serialFirst, serialList, json, words] = arguments;
    const std::string& command = words[0];
    const auto count = words.size() - 1;
    const auto expect = [&](std::size_t least, std::size_t most) { return count >= least && count <= most; };
    const auto Refused = [](const std::string& message) -> std::optional<Unit> {
        UsageError(message);
        return std::nullopt;
    };
    Unit unit;
    if (command == "get" || command == "set") {
        if (!expect(command == "get" ? 1 : 2, command == "get" ? 1 : 2)) {
            return Refused(command == "get" ? "get takes one SETTING" : "set takes a SETTING and a VALUE");
        }
        const Setting* setting = FindSetting(words[1]);
        if (!setting)
            return Refused("unknown setting '" + words[1] + "'; the settings are " + SettingNames());
        if (command == "get") {
            unit = [setting](Session& s) { return s.Get(*setting); };
        } else {
            unit = [setting, value = words[2]](Session& s) { return s.Set(*setting, value); };
        }
    } else if (command == "read" || command == "write") {
        if (!expect(1, 1) && command == "read") return Refused("read takes one HOME_NUMBER");
        if (!expect(3, 5) && command == "write")
            return Refused("write takes HOME_NUMBER TX RX [PLLTX [PLLRX]]");
        const auto homeNumber = HomeNumber(words[1]);
        if (!homeNumber) {
            return Refused("home numbers are 1 to " + std::to_string(table::HomeNumberTable::kRows) +
                              ", not '" + words[1] + "'");
        }
        if (command == "read") {
            unit = [n = *homeNumber](Session& s) { return s.Read(n); };
        } else {
            unit = [n = *homeNumber, fields = std::vector<std::string>(words.begin() + 2, words.end())](
                       Session& s) { return s.Write(n, fields); };
        }
    } else if (command == "read-all") {
        if (!expect(0, 0)) return Refused("read-all takes no arguments besides -o FILE");
        unit = [output](Session& s) { return s.ReadAll(output); };
    } else if (command == "write-all") {
        if (!expect(1, 1)) return Refused("write-all takes one TABLEFILE");
        unit = [file = words[1], verify, backup, numbers](Session& s) {
            return s.WriteAll(file, verify, backup, numbers.get());
        };
    } else if (command == "verify" || command == "diff") {
        if (!expect(1, 1)) return Refused(command + " takes one TABLEFILE");
        if (command == "diff" && !portGiven) return Refused("diff takes two TABLEFILEs, or one and --port");
        unit = [file = words[1]](Session& s) { return s.Verify(file); };
    } else {
        return Refused("unknown command '" + command + "'");
    }
    return unit;

}

// The serial numbers of --serial-number or --serial-numbers, their state beside the record; a usage
// error, said, when they cannot be had.
std::variant<std::shared_ptr<SerialNumbers>, int> OpenSerialNumbers(const Arguments& arguments) {
    const auto& [port, baud, trace, output, help, baudGiven, verify, backup, record, portGiven, serialTemplate,
                 serialFirst, serialList, json, words] = arguments;
    if (words[0] != "write-all") return UsageError("--serial-number and --serial-numbers go with write-all only");
    if (!serialTemplate.empty() && !serialList.empty()) {
        return UsageError("--serial-number and --serial-numbers do not go together");
    }
    if (serialTemplate.empty() && serialList.empty()) return UsageError("--first goes with --serial-number only");
    if (!serialFirst.empty() && serialTemplate.empty()) return UsageError("--first goes with --serial-number only");
    if (record.empty()) {
        return UsageError("serial numbers per unit need --record: the series' state is kept beside it");
    }
    const std::size_t limit = protocol::kSerialNumber.set.fieldSize;
    const std::string state = record + ".serials";
    std::uint64_t first = 1;
    if (!serialFirst.empty()) {
        const auto [end, error] = std::from_chars(serialFirst.data(), serialFirst.data() + serialFirst.size(), first);
        if (error != std::errc() || end != serialFirst.data() + serialFirst.size()) {
            return UsageError("--first takes a counter such as 1200, not '" + serialFirst + "'");
        }
    }
    std::string listText;
    if (!serialList.empty()) {
        const Reading<std::string> list = ReadWholeFile(serialList, 1 << 20);
        if (!list.value) return UsageError("cannot read " + serialList + ": " + list.outcome.reason);
        listText = *list.value;
    }
    Reading<SerialNumbers> numbers = serialList.empty()
                                         ? SerialNumbers::FromTemplate(serialTemplate, first, state, limit)
                                         : SerialNumbers::FromList(listText, state, limit);
    if (!numbers.value && !serialList.empty()) return UsageError(serialList + ": " + numbers.outcome.reason);
    if (!numbers.value) return UsageError(numbers.outcome.reason);
    return std::make_shared<SerialNumbers>(std::move(*numbers.value));
}

// Where the run will put what it reads, checked before anything is sent: a folder that is missing,
// full or not ours would otherwise be found only once the device had been read, or changed.
int CheckOutputs(const Arguments& arguments) {
    const auto& [port, baud, trace, output, help, baudGiven, verify, backup, record, portGiven, serialTemplate,
                 serialFirst, serialList, json, words] = arguments;
    const std::string& command = words[0];
    constexpr std::size_t kLargestOutput = 64 * 1024;  // a whole table file is about a quarter of it
    // The first check that fails is said, and nothing is sent.
    std::optional<std::pair<std::string, Outcome>> refused;
    const auto check = [&refused](const std::string& what, Outcome checked) {
        if (!refused && !checked.Done()) refused.emplace(what, std::move(checked));
    };
    if (!backup.empty()) check("the backup folder " + backup, CheckCanWriteIn(backup, kLargestOutput));
    if (command == "read-all" && !output.empty()) {
#ifdef _WIN32
        const std::size_t slash = output.find_last_of("/\\");
#else
        const std::size_t slash = output.rfind('/');
#endif
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : output.substr(0, slash);
        if (folder.find('{') == std::string::npos) check(output, CheckCanWriteIn(folder, kLargestOutput));
    }
    if (!record.empty()) check("the record " + record, CheckCanAppend(record));
    if (!refused) return kDone;
    std::fprintf(stderr, "vantorctl: cannot write %s: %s; nothing was sent\n", refused->first.c_str(),
                 refused->second.reason.c_str());
    return kOutputFailed;
}

// A station's table file, read and checked once before it waits for units: one that cannot be read,
// or written whole, would otherwise fail every unit plugged in.
int CheckTableFirst(const std::string& input, bool forWrite) {
    StandardConsole console;
    Session session(console, "1", 19200);
    return session.CheckTableFile(input, forWrite);
}

int Run(int argc, char** argv) {
    CatchStopSignals();
    auto parsedArguments = ParseArguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsedArguments)) return *status;
    Arguments& arguments = std::get<Arguments>(parsedArguments);
    // station COMMAND ...: the command is the one each unit gets.
    const bool station = !arguments.words.empty() && arguments.words[0] == "station";
    if (station && !arguments.help && arguments.words.size() == 1)
        return UsageError("station takes a command for each unit: write-all or verify");
    if (station) arguments.words.erase(arguments.words.begin());
    const auto& [port, baud, trace, output, help, baudGiven, verify, backup, record, portGiven, serialTemplate,
                 serialFirst, serialList, json, words] = arguments;
    const std::string command = words.empty() ? "" : words[0];
    if (help || command.empty()) {
        Print(UsageOf(station ? "station" : command));
        return help ? kDone : kBadUsage;
    }
    if (station && command != "write-all" && command != "verify")
        return UsageError("station runs write-all or verify on each unit, not " + command);
    if (json && !trace.empty()) return UsageError("--json and --trace do not go together");
    if (verify && command != "write-all") return UsageError("--verify goes with write-all only");
    if (!backup.empty() && command != "write-all") return UsageError("--backup goes with write-all only");
    const bool filesOnly = command == "convert" || (command == "diff" && words.size() == 3);
    for (const auto& [given, option] : {std::pair{!record.empty(), "--record"}, std::pair{json, "--json"}}) {
        if (given && (command == "find" || command == "ports" || filesOnly))
            return UsageError(std::string(option) + " goes with the commands that talk to units, not " + command);
    }
    if (command == "convert") {
        if (words.size() != 3) return UsageError("convert takes IN and OUT");
        return Convert(words[1], words[2]);
    }
    if (command == "diff" && words.size() == 3) {
        if (portGiven) return UsageError("diff compares two TABLEFILEs, or one with the device on --port");
        return Diff(words[1], words[2]);
    }
    if (command == "find") return Find(baudGiven ? baud : "19200,9600", words.size() - 1);
    const PortList parsedPorts = ParsePortList(port);
    if (!parsedPorts.why.empty()) {
        return UsageError("--port takes port numbers such as 1 or 1,3,5-8, not '" + port + "': " + parsedPorts.why);
    }
    const std::vector<std::uint32_t>* ports = &parsedPorts.ports;
    if (!ParseDialogInt(baud) || *ParseDialogInt(baud) <= 0)
        return UsageError("--baud takes a speed such as 19200, not '" + baud + "'");

    const auto count = words.size() - 1;
    const auto expect = [&](std::size_t least, std::size_t most) { return count >= least && count <= most; };
    if (command == "ports") {
        if (!expect(0, 0)) return UsageError("ports takes no arguments");
        Print(DescribePorts(ListPorts()) + "\n");
        return kDone;
    }
    std::shared_ptr<SerialNumbers> numbers;
    if (!serialTemplate.empty() || !serialList.empty() || !serialFirst.empty()) {
        auto opened = OpenSerialNumbers(arguments);
        if (const int* status = std::get_if<int>(&opened)) return *status;
        numbers = std::move(std::get<std::shared_ptr<SerialNumbers>>(opened));
    }
    const std::optional<Unit> unit = UnitFor(arguments, numbers);
    if (!unit) return kBadUsage;
    if (const int status = CheckOutputs(arguments); status != kDone) return status;

    const std::int32_t speed = *ParseDialogInt(baud);
    const RunOptions options{record, json};
    if (station) {
        if (!trace.empty()) return UsageError("--trace takes one port, not a station");
        if (const int status = CheckTableFirst(words[1], command == "write-all"); status != kDone) return status;
        return RunStation(*ports, speed, command, *unit, options);
    }
    if (ports->size() > 1 || json) {
        if (ports->size() > 1 && (command == "read" || command == "write"))
            return UsageError(command + " takes one port");
        if (!trace.empty()) return UsageError("--trace takes one port");
        if (ports->size() > 1 && command == "read-all" && output.find("{port}") == std::string::npos &&
            output.find("{serial}") == std::string::npos) {
            return UsageError("read-all on several ports needs -o with {port} or {serial} in the name");
        }
        return RunUnits(*ports, speed, command, *unit, options);
    }
    StandardConsole console;
    // The port as a number: --port 1-1 names port 1 as well as 1 does.
    Session session(console, std::to_string(ports->front()), speed);
    if (!trace.empty()) {
        if (const int status = session.Trace(trace); status != kDone) return status;
    }
    // Every exchange is in the trace file, or the run says it is not.
    const auto start = std::chrono::steady_clock::now();
    const int status = session.CheckTrace((*unit)(session));
    if (record.empty()) return status;
    return std::max(status, RecordOne(record, command, session, ports->front(), status, start));
}

}  // namespace
}  // namespace cli

int main(int argc, char** argv) {
#ifdef _WIN32
    // The log's lines and a table file carry their own CR LF: the C library must add no CR of its own,
    // so that both streams hold the same bytes as on any other system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#else
    cli::HoldClosedStandardStreams();
#endif
    int status = cli::Run(argc, argv);
    if (!cli::OutputFailure().empty()) {
        std::fprintf(stderr, "vantorctl: cannot write to standard output: %s\n",
                     cli::OutputFailure().c_str());
        status = cli::kOutputFailed;
    }
    // The log on standard error is output too; whether this last word reaches anybody, the status says it.
    if (std::fflush(stderr) != 0 || std::ferror(stderr)) status = cli::kOutputFailed;
    return status;
}
