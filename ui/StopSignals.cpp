#include "ui/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace {

constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGINT, SIGHUP};

// A signal handler may do almost nothing; it writes one byte, and the window's thread does the rest.
int g_wakeWrite = -1;
int g_wakeRead = -1;
std::array<struct sigaction, kStopSignals.size()> g_previous{};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_wakeWrite, &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_wakeRead = wake[0];
    g_wakeWrite = wake[1];
    m_notifier = new QSocketNotifier(g_wakeRead, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(g_wakeRead, bytes, sizeof bytes) > 0) {
        }
        if (m_onStop) m_onStop();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
    m_installed = true;
}

StopSignals::~StopSignals() {
    if (!m_notifier) return;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
    m_notifier->setEnabled(false);
    close(g_wakeRead);
    close(g_wakeWrite);
    g_wakeRead = g_wakeWrite = -1;
}
