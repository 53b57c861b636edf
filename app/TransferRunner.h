#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "app/DialogControls.h"
#include "device/DeviceSession.h"

// Runs one transfer at a time on a thread of its own: it shows the run's progress, and a stop asked for
// ends it before its next request. The worker never waits on the window's thread: the progress is
// handed over as it comes, and what piles up meanwhile is shown once. What the work needs from the
// window it takes before it starts.
class TransferRunner {
public:
    explicit TransferRunner(DialogControls& controls) : m_controls(controls) {}
    // A run still going is stopped and waited for while the window keeps serving its calls.
    ~TransferRunner();
    TransferRunner(const TransferRunner&) = delete;
    TransferRunner& operator=(const TransferRunner&) = delete;

    // How a worker's thread is started; none when it could not be (tests stand in a refusal).
    using ThreadStart = std::function<std::optional<std::thread>(std::function<void()>)>;
    void SetThreadStart(ThreadStart start) { m_threadStart = std::move(start); }

    using Work = std::function<void(DeviceSession::Progress& progress)>;
    // On the window's thread: shows the progress bar (out of `rows`) and Stop, and runs the work on the
    // worker. Once the work has returned, `ended` runs on the window's thread, after everything the
    // worker handed over; then the run is over. False, with nothing run, when no thread could be had.
    bool Start(std::int32_t rows, Work work, std::function<void()> ended);

    // Any thread: the run ends before its next request.
    void RequestStop() { m_stopRequested = true; }
    // From the start until `ended` has run.
    bool Running() const { return m_active.load(); }

private:
    class Shown;
    void ShowProgress(std::int32_t rows, bool settings);

    DialogControls& m_controls;
    ThreadStart m_threadStart;
    std::thread m_worker;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_stopRequested{false};
    std::int32_t m_rows = 0;
    // The newest progress, -1 for the settings, and whether a hand-over of it is queued.
    std::atomic<std::int32_t> m_progress{0};
    std::atomic<bool> m_progressQueued{false};
};
