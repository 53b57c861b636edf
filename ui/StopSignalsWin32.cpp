// The console's requests to end the program, on Windows. They arrive on a thread the system starts for
// them; the window's thread does the closing.
#include "ui/StopSignals.h"

#include <windows.h>

#include <QMetaObject>
#include <mutex>

namespace {

// How long the system may be held off after closing the console, logging off or shutting down: it ends
// the program itself 5 s after asking.
constexpr DWORD kCloseGraceMs = 4500;

std::mutex g_unit;               // the handler's thread against the constructor and destructor
std::function<void()> g_post;    // hands the stop to the window's thread; empty when nobody listens
HANDLE g_ended = nullptr;        // set once the program no longer needs holding

BOOL WINAPI OnConsoleEvent(DWORD event) {
    HANDLE ended = nullptr;
    {
        std::lock_guard lock(g_unit);
        if (!g_post) return FALSE;  // the system's own handling: end at once
        g_post();
        ended = g_ended;
    }
    // After these the system ends the program as soon as the handler returns: hold it until the window
    // has closed and the port is released, or until the grace runs out.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(ended, kCloseGraceMs);
    }
    return TRUE;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
    std::lock_guard lock(g_unit);
    g_ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_ended == nullptr) return;
    g_post = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_onStop) m_onStop();
            },
            Qt::QueuedConnection);
    };
    m_installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
    if (!m_installed) g_post = nullptr;
}

StopSignals::~StopSignals() {
    if (!m_installed) return;
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    std::lock_guard lock(g_unit);
    g_post = nullptr;
    SetEvent(g_ended);  // a handler still holding the system lets it go; the handle goes with the process
}
