#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a request to close, delivered on the window's thread: the program ends
// the way its close box ends it, so the port is closed and released instead of being left open (and,
// on a pseudo-terminal, marked exclusive) by a killed process. While an object lives it owns the three
// signals; the previous handlers come back when it goes.
// On Windows the same comes from the console's events (Ctrl+C, Ctrl+Break, closing the console, logging
// off, shutting down): StopSignalsWin32.cpp.
class StopSignals : public QObject {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether the handlers are in place (they are not when the pipe could not be made).
    bool Installed() const { return m_installed; }

private:
    std::function<void()> m_onStop;
    bool m_installed = false;
    QSocketNotifier* m_notifier = nullptr;  // the pipe's reading end; not used on Windows
};
