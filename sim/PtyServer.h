#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/Faults.h"
#include "sim/UniqueFd.h"

// The simulated device on a pseudo-terminal: the program opens the published link as a serial port and
// talks to a DeviceModel through it.
//
// Framing. The wire has no frame marks, so a request ends either when it reaches the length that its
// command and sub-code fix, or at a pause: kDefaultGap of silence after the last byte ends a frame that
// could already be whole (a home number write of 4 or 8 bytes: its codes are optional) or that no request
// starts with (garbage). The program writes one byte per write() back to back, microseconds apart on a
// pseudo-terminal, so 4 ms is far above its own spacing, and it delays the replies that wait for it by
// about one of the program's 5 ms polling rounds, well within its half-second time-out. A request that
// is known to be missing bytes waits kDefaultPatience for them instead, so that a client descheduled
// between two of its one-byte writes on a loaded machine does not have its request cut in two; a request
// still short after that is dropped unanswered.
//
// Port lifetime. The server holds the slave open itself from the start (the keeper), because only a slave
// descriptor can clear the exclusive mode (TIOCEXCL) that a client may leave behind when it dies, and a
// user other than root can no longer open the slave once that mode is on. With the keeper open the master
// never reads EIO, so the server learns of clients from inotify instead: opens minus closes of the slave
// is the number of clients, as its own opens all come before the watch. When that number drops to 0 the
// port is closed, as on a real line: any reply not yet sent is dropped, the bytes the client left unread
// are flushed and the exclusive mode is cleared, so the next client, of any user, starts clean. A request
// in progress still ends by its own rule (its length or the pause after it): what the client wrote before
// closing reached the device, and the close may be seen before the last of those bytes has been read. A
// request that ends while no client holds the port is acted on (a device cannot tell that the far end closed)
// but not answered. Clients may open and close the port any number of times; while nobody holds it the server
// sleeps until somebody does.
//
// The adapter. Behind a USB serial adapter (latency > 0) what the device sends does not reach the port
// as it goes out: the chip holds it until its latency timer runs out, or at once when it holds a full
// packet. The timer is free running, ticking every latency from the start whether or not anything is
// held, so a reply reaches the client at some tick up to a latency after it was sent, and one that goes
// out across a tick reaches it in pieces. The records still say what the device sent and when.
//
// inotify folds two identical events in a row that the server has not read yet into one, so two opens
// (or two closes) of separate descriptors in quick succession count once. A client that opens the port
// once, as the program does, is counted exactly.
namespace vantor::sim {

inline constexpr std::chrono::microseconds kDefaultGap{4000};
inline constexpr std::chrono::milliseconds kDefaultPatience{200};
inline constexpr std::chrono::milliseconds kDefaultTurnaround{2};
// How late a wait may wake before the device counts itself as having been held up.
inline constexpr std::chrono::milliseconds kLateWake{3};
inline constexpr std::size_t kKeptRecords = 4096;
// A USB serial adapter hands its buffer over as soon as it fills one USB packet: 64 bytes less the two
// status bytes the chip puts in front of every packet.
inline constexpr std::size_t kAdapterPacket = 62;

struct ServerOptions {
    std::filesystem::path portsDir;
    int port = 1;
    std::uint32_t paceBaud = 0;  // 0: replies go out at once; else 10 bit times per byte at this speed
    std::chrono::milliseconds turnaround = kDefaultTurnaround;  // from the end of a request to its reply
    std::chrono::microseconds gap = kDefaultGap;
    std::chrono::milliseconds patience = kDefaultPatience;
    // 0: the device is on the port itself; else it is behind a USB serial adapter whose latency timer
    // runs out every this many ms (16 on the common chips) and only then hands over what it holds
    std::chrono::milliseconds latency{0};
    std::vector<FaultRule> faults;
    std::optional<Chaos> chaos;  // none: only the fault rules misbehave
    std::filesystem::path logPath;           // empty: no log file
    std::size_t keptRecords = kKeptRecords;  // how many of the latest records Records() keeps
};

enum class Direction { kRequest, kReply };

// One request as received, or one piece of a reply as sent, with its time since the server started
// (a request's time is that of its last byte, a reply piece's that of its first). longestPause is the
// longest silence the server saw between two bytes of a request: the margin its framing pause had.
// Bytes read in one round count as arriving together.
struct Record {
    std::chrono::microseconds at;
    Direction direction;
    Bytes bytes;
    std::chrono::microseconds longestPause{0};
};

// One line of the log file, without the line end: "12.345678 request 33 01 01 BC (longest pause 153 us)",
// the pause only on a request of more than one byte.
std::string FormatRecord(const Record& record);

class PtyServer {
public:
    explicit PtyServer(ServerOptions options, DeviceState state = {});
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pseudo-terminal, publishes it as portsDir/comN, with comN.pid beside it naming this
    // process, and serves on a thread of its own. Any link in portsDir to the new pseudo-terminal is stale
    // (left by a device that died, whose number the kernel gave out again) and is removed first, and so is
    // a comN whose comN.pid names a process that is gone; a live link to anything else is left alone and is
    // an error. Returns why it could not, or nullopt once serving.
    std::optional<std::string> Start();
    // Stops serving, closes the pseudo-terminal and removes the link and its pid file (only if still ours).
    void Stop();

    const std::filesystem::path& LinkPath() const { return m_linkPath; }
    bool Unplugged() const { return m_unplugged; }
    // How often the last client has closed the port (or died).
    std::size_t Hangups() const { return m_hangups; }
    // The latest keptRecords records, oldest first; the log file has them all.
    std::vector<Record> Records() const;
    // Waits until at least count records have been made in all; false when the time ran out first.
    bool WaitForRecords(std::size_t count, std::chrono::milliseconds timeout) const;
    DeviceState State() const;
    // While paused, --chaos picks its faults as ever but lets them pass: the device answers truly.
    void PauseChaos(bool paused) { m_chaosPaused = paused; }

private:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        ReplyPiece piece;
        Clock::time_point due;
        bool followsPrevious = false;  // a later piece of the same reply: due after the one before it
        std::size_t sent = 0;
    };

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::optional<std::string> OpenPort();
    std::optional<std::string> Publish();
    void Unpublish();
    void Serve();
    std::optional<Clock::time_point> FrameDeadline() const;
    std::optional<Clock::time_point> NextDeadline() const;
    void ReadFromMaster();
    void TakePortEvents();
    void TakeByte(std::uint8_t byte, Clock::time_point now);
    void EndFrame(Clock::time_point now);
    void SendDueOutput(Clock::time_point now);
    std::size_t Hold(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);
    void HandOverIfDue(Clock::time_point now);
    void HandOver(Clock::time_point now);
    Clock::time_point NextTick(Clock::time_point now) const;
    void ClientGone();
    void Unplug();
    void AddRecord(Direction direction, const Bytes& bytes, Clock::time_point when,
                   Clock::duration longestPause = Clock::duration::zero());

    ServerOptions m_options;
    DeviceModel m_model;
    FaultPlan m_faults;
    ChaosPlan m_chaos;
    std::atomic<bool> m_chaosPaused{false};
    std::filesystem::path m_linkPath;
    std::string m_slavePath;
    std::string m_linkTarget;  // what the published link points at
    bool m_published = false;  // the link and its pid file are this server's to remove
    UniqueFd m_master;
    UniqueFd m_keeper;  // the server's own slave descriptor, opened before the watch
    UniqueFd m_watch;   // inotify: opens and closes of the slave
    UniqueFd m_wakeRead;
    UniqueFd m_wakeWrite;
    std::thread m_thread;
    std::unique_ptr<std::FILE, FileCloser> m_log;
    Clock::time_point m_start;

    // owned by the serving thread
    Bytes m_frame;
    FrameStatus m_frameStatus = FrameStatus::kIncomplete;
    Clock::time_point m_lastByte;
    Clock::duration m_longestPause{};  // within m_frame
    std::deque<Pending> m_output;
    Bytes m_input;  // what one round read from the master, taken after that round's port events
    int m_clients = 0;
    bool m_outputBlocked = false;    // the master would take no more, from the device or the adapter
    Bytes m_held;                    // what the adapter holds, never more than kAdapterPacket
    Clock::time_point m_handOverAt;  // while m_held is not empty: the tick that hands it over

    std::atomic<bool> m_unplugged{false};
    std::atomic<std::size_t> m_hangups{0};
    mutable std::mutex m_mutex;  // guards m_model and m_records against readers on other threads
    mutable std::condition_variable m_recorded;
    std::deque<Record> m_records;
    std::size_t m_recordCount = 0;  // every record ever made
};

}  // namespace vantor::sim
