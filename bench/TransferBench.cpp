// A whole Write All and a whole Read All through the real window offscreen, against the simulated device
// (a process of its own) sending its replies at the line's speed, at 19200 and at 9600 baud. Each run is
// compared with the time the line itself needs: every request and reply byte at the port's speed, plus
// the device's turnaround for each exchange. Beside it stands the floor of the polling the program once
// did (the first reply byte seen in the round of half an interval after it came, then a whole interval
// more). Also prints the processor time the program used, how late the window's event loop ran a 10 ms
// timer at worst, and whether the log holds an error.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTurnaroundMs = 2.0;  // the simulated device's own default

// The calling thread's processor time: the bench's main thread is the window's.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// The simulated device as its own process, so that the processor time measured is the program's alone.
class DeviceProcess {
public:
    DeviceProcess(const std::filesystem::path& sim, const std::filesystem::path& portsDir, int port,
                  std::uint32_t baud, const std::filesystem::path& log) {
        const std::string portText = std::to_string(port), paceText = std::to_string(baud);
        m_pid = fork();
        if (m_pid == 0) {
            execl(sim.c_str(), sim.c_str(), "--ports-dir", portsDir.c_str(), "--port", portText.c_str(), "--pace",
                  paceText.c_str(), "--log", log.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto link = portsDir / ("com" + portText);
        for (int i = 0; i < 200 && !std::filesystem::is_symlink(link); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~DeviceProcess() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

private:
    pid_t m_pid = -1;
};

// What the device's log says about the lines from `from` on: the exchanges, and the bytes each way.
struct Traffic {
    std::size_t exchanges = 0;
    std::size_t bytes = 0;
    double pollingFloorMs = 0;
};

Traffic ReadTraffic(const std::filesystem::path& log, std::size_t from, std::uint32_t baud, std::size_t& lines) {
    const double byteMs = 10.0 * 1000.0 / baud;  // a start bit, 8 data bits, a stop bit
    Traffic traffic;
    std::ifstream in(log);
    std::string line;
    lines = 0;
    while (std::getline(in, line)) {
        if (lines++ < from) continue;
        std::istringstream words(line);
        std::string seconds, kind, byte;
        words >> seconds >> kind;
        std::vector<std::string> bytes;
        while (words >> byte && byte.size() == 2) bytes.push_back(byte);
        traffic.bytes += bytes.size();
        if (kind != "request") continue;
        ++traffic.exchanges;
        const bool textRead = bytes.size() == 2 && bytes[1] == "02" && (bytes[0] == "37" || bytes[0] == "3C");
        const double interval = textRead ? 100.0 : 10.0;
        const double firstByte = (bytes.size() + 1) * byteMs + kTurnaroundMs;
        traffic.pollingFloorMs += std::ceil(firstByte / (interval / 2)) * (interval / 2) + interval;
    }
    return traffic;
}

// Says Yes to the question that starts a transfer, once it shows.
void AnswerYes() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        box->button(QMessageBox::Yes)->click();
        return;
    }
    QTimer::singleShot(5, [] { AnswerYes(); });
}

std::size_t ErrorLines(const std::string& log) {
    std::size_t errors = 0;
    for (const char* text : {"Timed out", "Unrecognized", "Unexpected", "FAILED", "Unsuccessful", " not "}) {
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++errors;
    }
    return errors;
}

void Run(const char* name, void (RadioConfigDialog::*start)(), RadioConfigDialog& dialog,
         const std::filesystem::path& deviceLog, std::uint32_t baud, std::size_t& logLines) {
    dialog.OnClearScreen();
    double latestTimerMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { latestTimerMs = std::max(latestTimerMs, sinceTick.restart() - 10.0); });

    QTimer::singleShot(0, [] { AnswerYes(); });
    const double cpuBefore = ProcessCpuMs();
    const double windowCpuBefore = ThreadCpuMs();
    const auto startTime = Clock::now();
    (dialog.*start)();
    sinceTick.start();
    ticks.start(10);
    // The window's own event loop, as the program runs it, until the run has ended.
    QEventLoop loop;
    QTimer ended;
    QObject::connect(&ended, &QTimer::timeout, [&] {
        if (!dialog.TransferRunning()) loop.quit();
    });
    ended.start(20);
    loop.exec();
    const double measuredMs = std::chrono::duration<double, std::milli>(Clock::now() - startTime).count();
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    const double windowCpuMs = ThreadCpuMs() - windowCpuBefore;
    ticks.stop();

    const Traffic traffic = ReadTraffic(deviceLog, logLines, baud, logLines);
    const double lineMs = traffic.bytes * 10.0 * 1000.0 / baud + traffic.exchanges * kTurnaroundMs;
    const std::size_t errors = ErrorLines(dialog.LogContents());
    std::printf("transfer at %u baud: %s, %zu exchanges: %.2f s; the line needs %.2f s: ratio %.3f (target <= 1.25); "
                "the polling floor %.2f s: ratio %.3f\n",
                baud, name, traffic.exchanges, measuredMs / 1000, lineMs / 1000, measuredMs / lineMs,
                traffic.pollingFloorMs / 1000, measuredMs / traffic.pollingFloorMs);
    std::printf("transfer at %u baud: %s: processor time %.1f%% of one core (target < 10%%); the window's event "
                "loop ran a 10 ms timer at most %.0f ms late (target <= 50 ms); %s\n",
                baud, name, 100.0 * cpuMs / measuredMs, latestTimerMs,
                errors == 0 ? "no error in the log" : (std::to_string(errors) + " errors in the log").c_str());
    std::printf("transfer at %u baud: %s: the window's thread used %.0f ms of processor time (%.1f%% of one core)\n",
                baud, name, windowCpuMs, 100.0 * windowCpuMs / measuredMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    char dirTemplate[] = "/tmp/vantor-bench-XXXXXX";
    const std::filesystem::path portsDir = mkdtemp(dirTemplate);
    setenv("VANTOR_PORTS_DIR", portsDir.c_str(), 1);
    const std::filesystem::path sim =
        std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "sim" / "vantor-device-sim";
    {
        QApplication application(argc, argv);
        QtDialogControls controls;
        RadioConfigDialog dialog(controls);
        controls.Prepare(dialog);
        controls.Window().show();
        int port = 1;
        for (const std::uint32_t baud : {19200U, 9600U}) {
            const std::filesystem::path log = portsDir / ("device-" + std::to_string(baud) + ".log");
            DeviceProcess device(sim, portsDir, port, baud, log);
            controls.SetDlgItemInt(ctl::kSerialPortEdit, port++);
            controls.SetDlgItemInt(ctl::kBaudEdit, static_cast<int>(baud));
            controls.SetCurSel(ctl::kDispList, 1);
            controls.SetCurSel(ctl::kSquelchList, 1);
            controls.SetDlgItemText(ctl::kSerialNumberEdit, "BENCH-0001");
            controls.SetDlgItemText(ctl::kUserDescriptionEdit, "Bench");
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                dialog.SetHomeNumberRow(n, "123", "456");
                if (n <= 100) dialog.SetPllColumns(n, "146.5", "151.2");
            }
            std::size_t logLines = 0;
            Run("Write All", &RadioConfigDialog::OnWriteAll, dialog, log, baud, logLines);
            Run("Read All", &RadioConfigDialog::OnReadAll, dialog, log, baud, logLines);
        }
    }
    std::filesystem::remove_all(portsDir);
    return 0;
}
