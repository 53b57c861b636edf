// One ordinary exchange (DISP Get) against a far end that answers at once: how long after the reply's
// last byte was written the wait returns (it ends two character times, 1.04 ms at 19200 baud, after the
// reply is whole), and how much processor time the wait uses. Run on the window's thread (the wait keeps
// the window painting) and on a worker thread.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "app/RadioConfigDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kExchanges = 100;

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The device: answers every two-byte request with three bytes at once.
class InstantDevice {
public:
    explicit InstantDevice(const std::string& portsDir) {
        char name[128] = {};
        openpty(&m_master, &m_slave, name, nullptr, nullptr);
        m_entry = portsDir + "/com1";
        std::filesystem::create_symlink(name, m_entry);
        m_thread = std::thread([this] { Serve(); });
    }
    ~InstantDevice() {
        m_stop = true;
        m_thread.join();
        close(m_master);
        close(m_slave);
        std::filesystem::remove(m_entry);
    }

    // When the latest reply was written whole.
    Clock::time_point Replied() const { return Clock::time_point(Clock::duration(m_replied.load())); }

private:
    void Serve() {
        int have = 0;
        while (!m_stop) {
            pollfd readable{m_master, POLLIN, 0};
            if (poll(&readable, 1, 20) != 1) continue;
            std::array<std::uint8_t, 64> in{};
            const ssize_t n = read(m_master, in.data(), in.size());
            if (n <= 0) continue;
            have += static_cast<int>(n);
            if (have >= 2) {
                have = 0;
                const std::uint8_t reply[] = {0x35, 0x02, 0x02};
                (void)!write(m_master, reply, sizeof reply);
                m_replied = Clock::now().time_since_epoch().count();
            }
        }
    }

    int m_master = -1, m_slave = -1;
    std::string m_entry;
    std::atomic<bool> m_stop{false};
    std::atomic<Clock::rep> m_replied{0};
    std::thread m_thread;
};

void Measure(const char* where, RadioConfigDialog& dialog, const InstantDevice& device) {
    const std::array<std::uint8_t, 2> request{0x35, 0x02};
    DeviceSession& session = dialog.Session();
    Outcome outcome;
    double wallMs = 0, cpuMs = 0, afterMs = 0, worstAfterMs = 0;
    for (int i = 0; i < kExchanges; ++i) {
        const double cpuBefore = ThreadCpuMs();
        const auto before = Clock::now();
        session.SendRequest(request, outcome);
        const DeviceSession::ReplyBytes reply = session.AwaitReply(
            DeviceSession::kPollCount, DeviceSession::kIntervalMs, ReplyShape{ReplyShape::Kind::kFixed, 3}, outcome);
        const int n = reply ? static_cast<int>(reply->size()) : -1;
        const auto returned = Clock::now();
        cpuMs += ThreadCpuMs() - cpuBefore;
        wallMs += std::chrono::duration<double, std::milli>(returned - before).count();
        const double after = std::chrono::duration<double, std::milli>(returned - device.Replied()).count();
        afterMs += after;
        worstAfterMs = std::max(worstAfterMs, after);
        dialog.Link().Disconnect();
        if (n != 3) std::printf("exchange %d: unexpected result %d\n", i, n);
    }
    std::printf("exchange (%s): mean %.2f ms in all; the wait returned %.2f ms after the reply's last byte on "
                "average, %.2f ms at worst (target < 2 ms)\n",
                where, wallMs / kExchanges, afterMs / kExchanges, worstAfterMs);
    std::printf("exchange (%s): processor time %.3f ms an exchange (%.1f%% of its time)\n", where,
                cpuMs / kExchanges, 100.0 * cpuMs / wallMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    char dirTemplate[] = "/tmp/vantor-bench-XXXXXX";
    const std::string portsDir = mkdtemp(dirTemplate);
    setenv("VANTOR_PORTS_DIR", portsDir.c_str(), 1);
    {
        InstantDevice device(portsDir);
        QApplication application(argc, argv);
        QtDialogControls controls;
        RadioConfigDialog dialog(controls);
        controls.Prepare(dialog);
        controls.Window().show();
        QApplication::processEvents();

        Measure("window thread", dialog, device);
        // The window's thread keeps serving the worker's calls to the window while it runs.
        std::atomic<bool> done{false};
        std::thread worker([&] {
            Measure("worker thread", dialog, device);
            done = true;
        });
        while (!done) QApplication::processEvents(QEventLoop::AllEvents, 5);
        worker.join();
    }
    std::filesystem::remove_all(portsDir);
    return 0;
}
