#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace vantor::sim {
namespace {

constexpr std::size_t kLongestFrame = 256;  // garbage that never pauses still ends somewhere
// What one round reads from the master at most, so that a client that never stops writing cannot hold
// off the port events and the replies.
constexpr std::size_t kLongestRound = 65536;

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

// The owner file beside a link: comN.pid.
std::filesystem::path OwnerFile(const std::filesystem::path& link) {
    std::filesystem::path owner = link;
    owner += ".pid";
    return owner;
}

// The pid an owner file names; nothing when there is no such file or it holds no pid.
std::optional<pid_t> OwnerOf(const std::filesystem::path& link) {
    std::FILE* file = std::fopen(OwnerFile(link).c_str(), "re");
    if (!file) return std::nullopt;
    long pid = 0;
    const bool read = std::fscanf(file, "%ld", &pid) == 1 && pid > 0;
    std::fclose(file);
    if (!read) return std::nullopt;
    return static_cast<pid_t>(pid);
}

// A process that is gone: its number names nobody (a process of another user still counts as there).
bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

timespec ToTimespec(std::chrono::nanoseconds span) {
    if (span.count() < 0) span = std::chrono::nanoseconds(0);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>((span - seconds).count())};
}

}  // namespace

std::string FormatRecord(const Record& record) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f", static_cast<double>(record.at.count()) / 1e6);
    std::string line =
        std::string(stamp) + (record.direction == Direction::kRequest ? " request" : " reply  ");
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::uint8_t byte : record.bytes) {
        line += ' ';
        line += kHex[byte >> 4];
        line += kHex[byte & 0x0F];
    }
    if (record.direction == Direction::kRequest && record.bytes.size() > 1) {
        line += " (longest pause " + std::to_string(record.longestPause.count()) + " us)";
    }
    return line;
}

PtyServer::PtyServer(ServerOptions options, DeviceState state)
    : m_options(std::move(options)), m_model(std::move(state)), m_faults(m_options.faults),
      m_chaos(m_options.chaos.value_or(Chaos{})) {
    m_linkPath = m_options.portsDir / ("com" + std::to_string(m_options.port));
}

PtyServer::~PtyServer() { Stop(); }

std::optional<std::string> PtyServer::Start() {
    if (m_thread.joinable()) return "already serving";
    if (!m_options.logPath.empty()) {
        m_log.reset(std::fopen(m_options.logPath.c_str(), "w"));
        if (!m_log) return Why("cannot write the log " + m_options.logPath.string());
    }
    if (auto error = OpenPort()) return error;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return Why("cannot create a pipe");
    m_wakeRead.Reset(wake[0]);
    m_wakeWrite.Reset(wake[1]);
    if (auto error = Publish()) return error;
    m_start = Clock::now();
    m_thread = std::thread([this] { Serve(); });
    return std::nullopt;
}

std::optional<std::string> PtyServer::OpenPort() {
    m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m_master.IsOpen()) return Why("cannot open a pseudo-terminal");
    char name[128];
    if (::grantpt(m_master.Get()) != 0 || ::unlockpt(m_master.Get()) != 0 ||
        ::ptsname_r(m_master.Get(), name, sizeof name) != 0) {
        return Why("cannot prepare the pseudo-terminal");
    }
    m_slavePath = name;
    m_keeper.Reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m_keeper.IsOpen()) return Why("cannot open " + m_slavePath);
    // The client may never set the line up itself; echo or line editing on the slave would corrupt
    // every exchange, so the port starts raw, and a pseudo-terminal keeps its settings between opens.
    termios settings{};
    if (::tcgetattr(m_keeper.Get(), &settings) != 0) {
        return Why("cannot read the line settings of " + m_slavePath);
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_keeper.Get(), TCSANOW, &settings) != 0) {
        return Why("cannot set raw mode on " + m_slavePath);
    }
    // Last, and no open of the slave by the server after it: every open it reports is a client's.
    m_watch.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!m_watch.IsOpen() || ::inotify_add_watch(m_watch.Get(), name, IN_OPEN | IN_CLOSE) < 0) {
        return Why("cannot watch " + m_slavePath);
    }
    return std::nullopt;
}

void PtyServer::Stop() {
    if (m_thread.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeWrite.Get(), &wake, 1);
        m_thread.join();
    }
    Unpublish();
    m_watch.Reset();
    m_keeper.Reset();
    m_master.Reset();
    m_wakeRead.Reset();
    m_wakeWrite.Reset();
    m_log.reset();
}

std::optional<std::string> PtyServer::Publish() {
    std::error_code error;
    std::filesystem::create_directories(m_options.portsDir, error);
    if (error)
        return "cannot create the ports directory " + m_options.portsDir.string() + ": " + error.message();
    // The pseudo-terminal was free until a moment ago, so a link to it was left by a device that died
    // (maybe this one, restarted); kept, it would hand a client this device under another port number.
    // (std::filesystem::equivalent refuses to compare two device files, hence stat.)
    struct stat port {};
    if (::stat(m_slavePath.c_str(), &port) != 0) return Why("cannot look at " + m_slavePath);
    for (const auto& entry : std::filesystem::directory_iterator(m_options.portsDir, error)) {
        std::error_code ignored;
        struct stat target {};
        if (entry.is_symlink(ignored) && ::stat(entry.path().c_str(), &target) == 0 &&
            target.st_dev == port.st_dev && target.st_ino == port.st_ino) {
            std::filesystem::remove(entry.path(), ignored);
            std::filesystem::remove(OwnerFile(entry.path()), ignored);
        }
    }
    const auto status = std::filesystem::symlink_status(m_linkPath, error);
    if (std::filesystem::is_symlink(status)) {
        // A link left by a device that was killed may be replaced: it points nowhere, or its owner file
        // names a process that is gone (the pseudo-terminal it points at may since be another program's).
        // A link to anything else is somebody's port.
        const std::optional<pid_t> owner = OwnerOf(m_linkPath);
        if (std::filesystem::exists(m_linkPath, error) && !(owner && Gone(*owner))) {
            return m_linkPath.string() + " is already in use (a link to " +
                   std::filesystem::read_symlink(m_linkPath, error).string() + ")";
        }
        std::filesystem::remove(m_linkPath, error);
    } else if (std::filesystem::exists(status)) {
        return m_linkPath.string() + " already exists and is not a link";
    }
    // The owner first: a link is never there without it, even if this process dies in between.
    const std::filesystem::path ownerFile = OwnerFile(m_linkPath);
    std::filesystem::path written = ownerFile;
    written += ".new";
    {
        std::FILE* file = std::fopen(written.c_str(), "we");
        bool saved = file && std::fprintf(file, "%ld\n", static_cast<long>(::getpid())) > 0;
        if (file && std::fclose(file) != 0) saved = false;
        if (!saved || ::rename(written.c_str(), ownerFile.c_str()) != 0) {
            const std::string why = Why("cannot write " + ownerFile.string());
            std::filesystem::remove(written, error);
            return why;
        }
    }
    std::filesystem::create_symlink(m_slavePath, m_linkPath, error);
    m_linkTarget = m_slavePath;
    if (error) {
        const std::string why = "cannot create " + m_linkPath.string() + ": " + error.message();
        std::filesystem::remove(ownerFile, error);
        return why;
    }
    m_published = true;
    return std::nullopt;
}

void PtyServer::Unpublish() {
    if (!m_published) return;
    m_published = false;
    std::error_code error;
    if (std::filesystem::read_symlink(m_linkPath, error) == m_linkTarget) {
        std::filesystem::remove(m_linkPath, error);
    }
    if (OwnerOf(m_linkPath) == ::getpid()) std::filesystem::remove(OwnerFile(m_linkPath), error);
}

std::vector<Record> PtyServer::Records() const {
    std::lock_guard lock(m_mutex);
    return {m_records.begin(), m_records.end()};
}

bool PtyServer::WaitForRecords(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_recorded.wait_for(lock, timeout, [&] { return m_recordCount >= count; });
}

DeviceState PtyServer::State() const {
    std::lock_guard lock(m_mutex);
    return m_model.State();
}

void PtyServer::AddRecord(Direction direction, const Bytes& bytes, Clock::time_point when,
                          Clock::duration longestPause) {
    Record record{std::chrono::duration_cast<std::chrono::microseconds>(when - m_start), direction, bytes,
                  std::chrono::duration_cast<std::chrono::microseconds>(longestPause)};
    if (m_log) {
        std::fprintf(m_log.get(), "%s\n", FormatRecord(record).c_str());
        std::fflush(m_log.get());
    }
    {
        std::lock_guard lock(m_mutex);
        m_records.push_back(std::move(record));
        while (m_records.size() > m_options.keptRecords) m_records.pop_front();
        ++m_recordCount;
    }
    m_recorded.notify_all();
}

std::optional<PtyServer::Clock::time_point> PtyServer::FrameDeadline() const {
    if (m_frame.empty()) return std::nullopt;
    const bool waiting = m_frameStatus == FrameStatus::kIncomplete;
    return m_lastByte + (waiting ? std::chrono::duration_cast<Clock::duration>(m_options.patience)
                                 : std::chrono::duration_cast<Clock::duration>(m_options.gap));
}

std::optional<PtyServer::Clock::time_point> PtyServer::NextDeadline() const {
    std::optional<Clock::time_point> deadline = FrameDeadline();
    if (!m_output.empty() && !m_outputBlocked) {
        const Clock::time_point due = m_output.front().due;
        deadline = deadline ? std::min(*deadline, due) : due;
    }
    if (!m_held.empty() && !m_outputBlocked) {
        deadline = deadline ? std::min(*deadline, m_handOverAt) : m_handOverAt;
    }
    return deadline;
}

void PtyServer::Serve() {
    while (true) {
        Clock::time_point now = Clock::now();
        const bool plugged = m_master.IsOpen();
        std::optional<Clock::duration> wait;
        const std::optional<Clock::time_point> deadline = NextDeadline();
        if (deadline) wait = *deadline - now;

        pollfd fds[3] = {{m_wakeRead.Get(), POLLIN, 0},
                         {m_watch.Get(), POLLIN, 0},
                         {m_master.Get(), static_cast<short>(POLLIN | (m_outputBlocked ? POLLOUT : 0)), 0}};
        timespec timeout{};
        if (wait) timeout = ToTimespec(*wait);
        const int ready = ::ppoll(fds, plugged ? 3 : 1, wait ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (!plugged) continue;

        now = Clock::now();
        // Woken well after the deadline, the device was held up (a loaded machine stops whole processes,
        // the client with it): the pause it slept through is not the client's, whose next byte may not
        // have been written yet, so the pause is watched again from now.
        if (deadline && !m_frame.empty() && now - *deadline > kLateWake) m_lastByte = now;
        if (fds[2].revents & POLLOUT) m_outputBlocked = false;
        // The master first, its bytes taken only after the port events: a client's open is queued before
        // any byte it writes, so the events read after the bytes include the open of whoever sent them,
        // and a client's close comes before the bytes of one that opened after it.
        ReadFromMaster();
        TakePortEvents();
        for (std::size_t i = 0; i < m_input.size() && m_master.IsOpen(); ++i) TakeByte(m_input[i], now);
        if (const auto end = FrameDeadline(); end && *end <= now) EndFrame(now);
        if (m_master.IsOpen() && m_clients > 0) {
            HandOverIfDue(now);
            SendDueOutput(now);
        }
    }
}

void PtyServer::ReadFromMaster() {
    m_input.clear();
    std::uint8_t buffer[4096];
    while (m_input.size() < kLongestRound) {
        const ssize_t count = ::read(m_master.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;  // EAGAIN: all read
        m_input.insert(m_input.end(), buffer, buffer + count);
    }
}

void PtyServer::TakePortEvents() {
    alignas(inotify_event) char buffer[4096];
    bool hungUp = false;
    while (true) {
        const ssize_t count = ::read(m_watch.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= count;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            offset += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_OPEN) ++m_clients;
            if ((event.mask & IN_CLOSE) && m_clients > 0 && --m_clients == 0) {
                ClientGone();
                hungUp = true;
            }
        }
    }
    // Not while a newcomer already holds the port: the exclusive mode is then its own (while the last
    // client's was on, only root could have opened it).
    if (hungUp && m_clients == 0) ::ioctl(m_keeper.Get(), TIOCNXCL);
}

void PtyServer::TakeByte(std::uint8_t byte, Clock::time_point now) {
    if (!m_frame.empty()) m_longestPause = std::max(m_longestPause, now - m_lastByte);
    m_frame.push_back(byte);
    m_lastByte = now;
    m_frameStatus = ClassifyFrame(m_frame);
    if (m_frameStatus == FrameStatus::kComplete || m_frame.size() >= kLongestFrame) EndFrame(now);
}

void PtyServer::EndFrame(Clock::time_point now) {
    const Bytes request = std::move(m_frame);
    m_frame.clear();
    m_frameStatus = FrameStatus::kIncomplete;
    AddRecord(Direction::kRequest, request, m_lastByte,
              std::exchange(m_longestPause, Clock::duration::zero()));

    FaultEffects effects = m_faults.Match(request);
    if (auto chaos = m_chaos.Pick(request); chaos && !m_chaosPaused) {
        if (m_log) {
            std::fprintf(m_log.get(), "%.6f chaos %s\n", std::chrono::duration<double>(now - m_start).count(),
                         chaos->name.c_str());
            std::fflush(m_log.get());
        }
        if (chaos->rule.action == FaultAction::kSilence) {
            effects.silence = true;
        } else if (chaos->rule.action == FaultAction::kRefuse) {
            effects.refuse = true;
        } else {
            effects.shaping.push_back(chaos->rule);
        }
    }
    if (effects.unplug) {
        Unplug();
        return;
    }
    std::optional<Bytes> reply;
    if (!effects.silence) {
        std::lock_guard lock(m_mutex);
        reply = m_model.Answer(request, effects.refuse);
    }
    if (!reply || m_clients == 0) return;

    const Clock::time_point due = now + m_options.turnaround;
    bool first = true;
    for (ReplyPiece& piece : ShapeReply(std::move(*reply), effects)) {
        Pending pending{std::move(piece), due, !first};
        if (first) pending.due += pending.piece.pause;
        m_output.push_back(std::move(pending));
        first = false;
    }
}

void PtyServer::SendDueOutput(Clock::time_point now) {
    const auto byteTime = m_options.paceBaud == 0
                              ? Clock::duration::zero()
                              : std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                    10.0 / static_cast<double>(m_options.paceBaud)));
    while (!m_output.empty() && !m_outputBlocked) {
        Pending& pending = m_output.front();
        if (now < pending.due) return;
        const Bytes& bytes = pending.piece.bytes;
        const std::size_t count = m_options.paceBaud == 0 ? bytes.size() - pending.sent : 1;
        std::size_t taken = 0;
        if (m_options.latency > std::chrono::milliseconds::zero()) {
            taken = Hold(bytes.data() + pending.sent, count, now);
            if (taken == 0) return;  // full, and the master would not take its packet: m_outputBlocked
        } else {
            const ssize_t written = ::write(m_master.Get(), bytes.data() + pending.sent, count);
            if (written < 0) {
                if (errno == EAGAIN) {
                    m_outputBlocked = true;
                } else if (errno != EINTR) {
                    m_output.clear();  // the master cannot take it; retrying at once would only spin
                }
                return;
            }
            taken = static_cast<std::size_t>(written);
        }
        if (pending.sent == 0) AddRecord(Direction::kReply, bytes, now);
        pending.sent += taken;
        if (pending.sent < bytes.size()) {
            pending.due += byteTime;
            continue;
        }
        const Clock::time_point finished = std::max(now, pending.due);
        m_output.pop_front();
        if (!m_output.empty() && m_output.front().followsPrevious) {
            m_output.front().due = finished + m_output.front().piece.pause;
        }
    }
}

// The adapter takes what fits in its packet; the bytes it holds reach the port at the next tick of its
// timer, or at once when the packet is full. Returns how many it took.
std::size_t PtyServer::Hold(const std::uint8_t* bytes, std::size_t count, Clock::time_point now) {
    if (m_held.size() >= kAdapterPacket) HandOver(now);
    const std::size_t taken = std::min(count, kAdapterPacket - m_held.size());
    if (taken == 0) return 0;
    if (m_held.empty()) m_handOverAt = NextTick(now);
    m_held.insert(m_held.end(), bytes, bytes + taken);
    if (m_held.size() >= kAdapterPacket) HandOver(now);
    return taken;
}

void PtyServer::HandOverIfDue(Clock::time_point now) {
    if (m_held.empty() || m_outputBlocked) return;
    if (m_held.size() >= kAdapterPacket || now >= m_handOverAt) HandOver(now);
}

// What the master does not take stays held for the next tick, as a chip keeps what the computer did not
// fetch.
void PtyServer::HandOver(Clock::time_point now) {
    while (!m_held.empty()) {
        const ssize_t written = ::write(m_master.Get(), m_held.data(), m_held.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) {
            m_held.clear();  // the master cannot take it; retrying at every tick would only fail again
            return;
        }
        if (written <= 0) {
            m_outputBlocked = true;
            break;
        }
        m_held.erase(m_held.begin(), m_held.begin() + written);
    }
    if (!m_held.empty()) m_handOverAt = NextTick(now);
}

// The timer runs from the start on its own, not from the first byte held, so a reply sent just before
// a tick is handed over almost at once and one sent just after it waits nearly the whole latency.
PtyServer::Clock::time_point PtyServer::NextTick(Clock::time_point now) const {
    const auto latency = std::chrono::duration_cast<Clock::duration>(m_options.latency);
    return m_start + latency * ((now - m_start) / latency + 1);
}

// A request in progress is left to its own end (its length, or the pause after it): the bytes a client
// wrote before closing are the device's as on a real line, and the close can be seen before the last of
// them has been read.
void PtyServer::ClientGone() {
    m_output.clear();
    m_held.clear();
    m_outputBlocked = false;
    // Bytes that reached the slave but that no client read would greet the next one to open the port; a
    // real port drops them when it is closed.
    ::tcflush(m_keeper.Get(), TCIFLUSH);
    ++m_hangups;
}

void PtyServer::Unplug() {
    m_frame.clear();
    m_longestPause = Clock::duration::zero();
    m_output.clear();
    m_held.clear();
    m_watch.Reset();
    m_keeper.Reset();
    m_master.Reset();
    // The link stays, pointing nowhere, as a user's link to a removed adapter does: not at the freed
    // pseudo-terminal, whose name the system hands to the next program that asks for one.
    if (m_published) {
        std::filesystem::path moved = m_linkPath;
        moved += ".unplugged";
        std::error_code error;
        std::filesystem::remove(moved, error);
        std::filesystem::create_symlink(m_slavePath + " (unplugged)", moved, error);
        if (!error) std::filesystem::rename(moved, m_linkPath, error);
        if (!error) m_linkTarget = m_slavePath + " (unplugged)";
        std::filesystem::remove(moved, error);
    }
    m_unplugged = true;  // last, so that whoever sees it finds the port already gone
}

}  // namespace vantor::sim
