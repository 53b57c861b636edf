#include "cli/Bench.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "cli/Report.h"
#include "device/DeviceFinder.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"

namespace cli {

// The command on every port at once, one thread, session and link each; then the summary, and the
// record. The exit status is the worst of the units'.
int RunUnits(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
             const std::function<int(Session&)>& unit, const RunOptions& options) {
    const auto began = std::chrono::steady_clock::now();
    std::vector<UnitResult> results(ports.size());
    OutputNames outputNames;
    const auto run = [&](std::size_t i) {
        const auto start = std::chrono::steady_clock::now();
        UnitConsole console(ports[i]);
        Session session(console, std::to_string(ports[i]), baud);
        console.CountErrorsWith([&session] { return session.Errors(); });
        session.ShareOutputNames(&outputNames);
        const int status = unit(session);
        UnitResult& result = results[i];
        result = Finished(session, what, ports[i], status, start);
        result.values = console.Values();
        result.errorLines = console.ErrorLines();
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
    Tally tally;
    for (const UnitResult& r : results) {
        std::string values = r.values;
        while (values.ends_with('\n')) values.pop_back();
        const std::string done = what + ": " + r.outcome + (values.empty() ? "" : ", " + values);
        summary += Format("%-6u %-20s %-32s %6d  %-16s %7.1f\n", static_cast<unsigned>(r.port),
                          r.serialNumber.c_str(), done.c_str(), r.errors,
                          r.verify.empty() ? "-" : r.verify.c_str(), r.seconds);
        worst = std::max(worst, r.status);
        tally.Add(r);
        if (options.json) Print(UnitJson(r));
    }
    tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    summary += TallyText(tally);
    if (options.json) {
        Print(TallyJson(tally));
        std::lock_guard lock(StandardErrorLock());
        std::fputs(summary.c_str(), stderr);
        std::fflush(stderr);
    } else {
        Print(summary);
    }
    return options.record.empty() ? worst : std::max(worst, Record(options.record, results));
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
    return Record(record, {Finished(session, what, port, status, start)});
}

}  // namespace cli
