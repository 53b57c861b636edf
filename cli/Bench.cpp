#include "cli/Bench.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "device/DeviceFinder.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"

namespace cli {

namespace {

// What became of each unit, for the summary.
struct UnitResult {
    std::uint32_t port = 0;
    std::string finished;  // the UTC time the unit ended, as 2026-12-07T10:15:00Z
    std::string tableFile;
    std::string tableDigest;
    std::string serialNumber;
    std::string done;
    int errors = 0;
    std::string verify;
    double seconds = 0;
    int status = kDone;
    std::string outcome;  // the word for what became of it, for the summary and the record
    std::string serialBefore;
    std::string backup;
};

std::string StatusWord(int status);

// A device that answered and differed is told apart from one that refused or stayed silent, and a read
// that did not come whole from both.
std::string OutcomeWord(int status, const std::string& command, const std::string& verify) {
    if (status == kDeviceFailed) {
        if (verify.ends_with(" differences")) return "differs";
        if (verify == "not read whole" || command == "read-all") return "not read whole";
    }
    return StatusWord(status);
}

// What a unit's run came to, once it has ended; the serial number asked for when the run did not learn it.
UnitResult Finished(Session& session, const std::string& command, std::uint32_t port, int status,
                    std::chrono::steady_clock::time_point start) {
    UnitResult result;
    result.port = port;
    result.status = status;
    result.serialNumber = session.SerialNumber(status);
    result.verify = session.VerifyResult();
    result.outcome = OutcomeWord(status, command, result.verify);
    result.tableFile = session.TableFile();
    result.tableDigest = session.TableDigest();
    result.serialBefore = session.SerialBefore();
    result.backup = session.BackupPath();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.finished = UtcNow("%Y-%m-%dT%H:%M:%SZ");
    return result;
}

// A CSV field as a spreadsheet and a line's systems read it safely: the device's 8-bit text as UTF-8,
// a control character as \xNN so that a unit never spreads over two lines, a leading character that would
// start a formula behind a ' so that it shows as text, and quoted, its quotes doubled, when it holds a
// comma or a quote.
std::string CsvField(const std::string& text) {
    std::string field;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            field += Format("\\x%02X", byte);
        } else if (byte >= 0x80) {
            field += static_cast<char>(0xC0 | (byte >> 6));
            field += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            field += c;
        }
    }
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        field.insert(0, "'");
    }
    if (field.find_first_of(",\"") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// --record: one line per unit appended to a CSV file, the header first when the file is new; the lines
// of one run go in as one piece, so that runs recording at once never mix their lines.
int Record(const std::string& path, const std::string& command, const std::vector<UnitResult>& results) {
    constexpr std::string_view kHeader =
        "utc,port,device,serial_number,command,table_file,table_sha256,outcome,verify,seconds,"
        "serial_number_before,backup\n";
    std::string lines;
    for (const UnitResult& r : results) {
        const std::vector<std::string> fields{r.finished,
                                              std::to_string(r.port),
                                              PortDevicePath(std::to_string(r.port)).value_or(""),
                                              r.serialNumber,
                                              command,
                                              r.tableFile,
                                              r.tableDigest,
                                              r.outcome,
                                              r.verify,
                                              Format("%.1f", r.seconds),
                                              r.serialBefore,
                                              r.backup};
        for (std::size_t i = 0; i < fields.size(); ++i) lines += (i ? "," : "") + CsvField(fields[i]);
        lines += "\n";
    }
    if (const Outcome appended = AppendToFile(path, kHeader, lines); !appended.Done()) {
        std::fprintf(stderr, "vantorctl: cannot write the record %s: %s\n", path.c_str(), appended.reason.c_str());
        return kOutputFailed;
    }
    return kDone;
}

std::string StatusWord(int status) {
    switch (status) {
        case kDone:
            return "done";
        case kDeviceFailed:
            return "refused or no answer";
        case kBadUsage:
            return "bad input";
        case kPortFailed:
            return "port failed";
        case kStopped:
            return "stopped";
        default:
            return "output failed";
    }
}

}  // namespace

// The command on every port at once, one thread, session and link each; then the summary on standard
// output. The exit status is the worst of the units'.
int RunUnits(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
             const std::function<int(Session&)>& unit, const std::string& record) {
    std::vector<UnitResult> results(ports.size());
    OutputNames outputNames;
    const auto run = [&](std::size_t i) {
        const auto start = std::chrono::steady_clock::now();
        UnitConsole console(ports[i]);
        Session session(console, std::to_string(ports[i]), baud);
        session.ShareOutputNames(&outputNames);
        UnitResult& result = results[i];
        const int status = unit(session);
        std::string values = console.Values();
        while (values.ends_with('\n')) values.pop_back();
        result = Finished(session, what, ports[i], status, start);
        result.done = what + ": " + result.outcome + (values.empty() ? "" : ", " + values);
        result.errors = session.Errors();
    };
    std::vector<std::thread> units;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        try {
            units.emplace_back(run, i);
        } catch (const std::system_error&) {
            run(i);  // no thread to give: this one runs it, after the others have started
        }
    }
    for (std::thread& thread : units) thread.join();

    std::string summary = Format("%-6s %-20s %-32s %6s  %-16s %7s\n", "port", "serial number", "done",
                                 "errors", "verify", "seconds");
    int worst = kDone;
    for (const UnitResult& r : results) {
        summary += Format("%-6u %-20s %-32s %6d  %-16s %7.1f\n", static_cast<unsigned>(r.port),
                          r.serialNumber.c_str(), r.done.c_str(), r.errors,
                          r.verify.empty() ? "-" : r.verify.c_str(), r.seconds);
        worst = std::max(worst, r.status);
    }
    Print(summary);
    return record.empty() ? worst : std::max(worst, Record(record, what, results));
}

// find: every port the port list names, asked at each speed; the ports that answered, were busy or
// failed, on standard output.
int Find(const std::string& bauds, std::size_t arguments) {
    if (arguments != 0) return UsageError("find takes no arguments besides --baud B[,B...]");
    std::vector<std::int32_t> speeds;
    for (std::size_t at = 0; at <= bauds.size();) {
        const std::size_t comma = std::min(bauds.find(',', at), bauds.size());
        const auto speed = ParseDialogInt(std::string_view(bauds).substr(at, comma - at));
        if (!speed || *speed <= 0)
            return UsageError("--baud takes speeds such as 19200,9600, not '" + bauds + "'");
        speeds.push_back(*speed);
        at = comma + 1;
    }
    std::vector<PortInfo> ports;
    for (PortInfo& port : ListPorts()) {
        if (port.present) ports.push_back(std::move(port));
    }
    if (ports.empty()) {
        Print(DescribePorts(ports) + "\n");
        return kDeviceFailed;
    }
    const std::vector<FoundPort> found = FindDevices(ports, speeds);
    Print(DescribeFound(found));
    return std::any_of(found.begin(), found.end(), [](const FoundPort& f) { return f.answered; })
               ? kDone
               : kDeviceFailed;
}

// --port as a list: numbers and ranges joined by commas ("1,3,5-8"), each a port number; none twice.
PortList ParsePortList(const std::string& text) {
    PortList list;
    const auto refused = [&](std::string why) {
        list.ports.clear();
        list.why = std::move(why);
        return list;
    };
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view item = std::string_view(text).substr(at, comma - at);
        const std::size_t dash = item.find('-', 1);
        const auto first = ParsePortNumber(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : ParsePortNumber(item.substr(dash + 1));
        if (!first || !last) return refused("'" + std::string(item) + "' is not a port number or a range of them");
        if (*last < *first) return refused("the range " + std::string(item) + " runs backwards");
        if (*last - *first >= kMostPorts || list.ports.size() + (*last - *first + 1) > kMostPorts) {
            return refused("more than " + std::to_string(kMostPorts) + " ports");
        }
        for (std::uint64_t n = *first; n <= *last; ++n) {
            const auto port = static_cast<std::uint32_t>(n);
            if (std::find(list.ports.begin(), list.ports.end(), port) != list.ports.end()) {
                return refused("port " + std::to_string(port) + " is given twice");
            }
            list.ports.push_back(port);
        }
        at = comma + 1;
    }
    return list;
}

int RecordOne(const std::string& record, const std::string& what, Session& session, std::uint32_t port,
              int status, std::chrono::steady_clock::time_point start) {
    return Record(record, what, {Finished(session, what, port, status, start)});
}

}  // namespace cli
