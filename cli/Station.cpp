#include "cli/Station.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

#include "cli/Report.h"
#include "device/DeviceFinder.h"

namespace cli {

namespace {

// A line of the station's own about one port, on standard error.
void Say(std::uint32_t port, const std::string& text) {
    const std::string line = "[port " + std::to_string(port) + "] " + text + "\n";
    std::lock_guard lock(StandardErrorLock());
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

// Sleeps for `time`, or less when a stop signal comes.
void Pause(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!StopSignalled() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
            std::chrono::milliseconds(20),
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())));
    }
}

class Station {
public:
    Station(std::int32_t baud, const std::string& what, const std::function<int(Session&)>& unit,
            const RunOptions& options, SocketWatch watch)
        : m_baud(baud), m_what(what), m_unit(unit), m_options(options), m_watch(watch) {}

    void Socket(std::uint32_t port);

    int Ended(std::chrono::steady_clock::time_point began) {
        std::lock_guard lock(m_mutex);
        m_tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        Said(TallyText(m_tally));
        if (m_options.json) Print(TallyJson(m_tally));
        return m_worst;
    }

private:
    // One unit, start to end: the command, then its line, JSON and record.
    void Program(std::uint32_t port);
    // The station's lines for people: standard output, or standard error when it carries JSON.
    void Said(const std::string& text) {
        if (!m_options.json) return Print(text);
        std::lock_guard lock(StandardErrorLock());
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }

    std::int32_t m_baud;
    const std::string& m_what;
    const std::function<int(Session&)>& m_unit;
    const RunOptions& m_options;
    SocketWatch m_watch;
    OutputNames m_outputNames;
    std::mutex m_mutex;  // guards what follows, and keeps a unit's lines and record together
    Tally m_tally;
    int m_worst = kDone;
};

void Station::Socket(std::uint32_t port) {
    const std::string portText = std::to_string(port);
    bool present = false;  // a unit was programmed and has not been seen to go
    int silent = 0;
    std::string reported;  // the open failure said last, not said again while it lasts
    while (!StopSignalled()) {
        const PortPresence seen = ProbePort(portText, m_baud);
        using State = PortPresence::State;
        if (seen.state == State::kOpenFailed) {
            if (seen.failure.reason != reported) {
                Say(port, "cannot open the port: " + seen.failure.reason + "; waiting until it can be opened");
                reported = seen.failure.reason;
            }
        } else {
            reported.clear();
        }
        if (!present && seen.state == State::kAnswered) {
            Say(port, "unit found");
            Program(port);
            present = true;
            silent = 0;
        } else if (present && (seen.state == State::kNoPort ||
                               (seen.state == State::kSilent && ++silent >= m_watch.silentRounds))) {
            Say(port, seen.state == State::kNoPort ? "unit unplugged; waiting for the next"
                                                   : "unit silent; waiting for the next");
            present = false;
        } else if (seen.state == State::kAnswered) {
            silent = 0;
        }
        Pause(m_watch.poll);
    }
}

void Station::Program(std::uint32_t port) {
    const auto start = std::chrono::steady_clock::now();
    UnitResult result;
    {
        UnitConsole console(port);
        Session session(console, std::to_string(port), m_baud);
        console.CountErrorsWith([&session] { return session.Errors(); });
        session.ShareOutputNames(&m_outputNames);
        const int status = m_unit(session);
        result = Finished(session, m_what, port, status, start);
        result.values = console.Values();
        result.errorLines = console.ErrorLines();
    }
    std::string line = Format("port %-4u %s  %-20s %6.1f s", static_cast<unsigned>(port),
                              result.status == kDone ? "PASS" : "FAIL",
                              result.serialNumber.empty() ? "-" : result.serialNumber.c_str(), result.seconds);
    if (result.status != kDone) line += "  " + m_what + ": " + result.outcome;
    std::lock_guard lock(m_mutex);
    Said(line + "\n");
    if (m_options.json) Print(UnitJson(result));
    int status = result.status;
    if (!m_options.record.empty()) status = std::max(status, Record(m_options.record, {result}));
    m_tally.Add(result);
    m_worst = std::max(m_worst, status);
}

}  // namespace

int RunStation(const std::vector<std::uint32_t>& ports, std::int32_t baud, const std::string& what,
               const std::function<int(Session&)>& unit, const RunOptions& options, SocketWatch watch) {
    LetTransfersFinishOnStop();
    const auto began = std::chrono::steady_clock::now();
    Station station(baud, what, unit, options, watch);
    {
        std::lock_guard lock(StandardErrorLock());
        std::fprintf(stderr, "vantorctl: station on ports %s: plug a unit in to program it; Ctrl+C ends\n",
                     PortListText(ports).c_str());
        std::fflush(stderr);
    }
    std::vector<std::thread> sockets;
    for (const std::uint32_t port : ports) {
        try {
            sockets.emplace_back([&station, port] { station.Socket(port); });
        } catch (const std::system_error&) {
            Say(port, "no thread for the port: it is not watched");
        }
    }
    for (std::thread& socket : sockets) socket.join();
    return station.Ended(began);
}

std::string PortListText(const std::vector<std::uint32_t>& ports) {
    std::string text;
    for (std::size_t i = 0; i < ports.size();) {
        std::size_t j = i;
        while (j + 1 < ports.size() && ports[j + 1] == ports[j] + 1) ++j;
        text += (text.empty() ? "" : ",") + std::to_string(ports[i]);
        if (j > i) text += (j == i + 1 ? "," : "-") + std::to_string(ports[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace cli
