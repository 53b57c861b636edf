#include "app/TransferRunner.h"

#include <string>
#include <system_error>

#include "app/ControlIds.h"

namespace {

std::optional<std::thread> StartThread(std::function<void()> body) {
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error&) {
        return std::nullopt;  // the system has no thread to give
    }
}

}  // namespace

// What the run shows and obeys, on the worker's thread.
class TransferRunner::Shown : public DeviceSession::Progress {
public:
    explicit Shown(TransferRunner& runner) : m_runner(runner) {}
    void RowsDone(std::int32_t rows) override { m_runner.ShowProgress(rows, false); }
    void SettingsNext() override { m_runner.ShowProgress(m_runner.m_rows, true); }
    bool StopRequested() override { return m_runner.m_stopRequested; }

private:
    TransferRunner& m_runner;
};

TransferRunner::~TransferRunner() {
    if (!m_worker.joinable()) return;
    m_stopRequested = true;
    while (m_active) m_controls.Sleep(5);
    m_worker.join();
}

// The flags are set before the thread exists, so that the window cannot close in between.
bool TransferRunner::Start(std::int32_t rows, Work work, std::function<void()> ended) {
    if (m_worker.joinable()) m_worker.join();  // the last run has ended; its thread is only returning
    m_rows = rows;
    m_active = true;
    m_stopRequested = false;
    m_progress = 0;
    m_progressQueued = false;
    m_controls.EnableWindow(ctl::kStop, true);
    m_controls.SetProgress(ctl::kTransferProgress, 0, rows, "");
    m_controls.ShowWindow(ctl::kTransferProgress, true);
    // The run ends in one unit on the window's thread: once it is over, a new run may start at once, and
    // it finds this thread with nothing left to do but return.
    auto body = [this, work = std::move(work), ended = std::move(ended)] {
        Shown shown(*this);
        work(shown);
        m_controls.Post([this, ended] {
            m_controls.ShowWindow(ctl::kTransferProgress, false);
            m_controls.EnableWindow(ctl::kStop, false);
            ended();
            m_active = false;  // the last the run does with the window
        });
    };
    std::optional<std::thread> thread = m_threadStart ? m_threadStart(std::move(body)) : StartThread(std::move(body));
    if (thread) {
        m_worker = std::move(*thread);
        return true;
    }
    m_active = false;
    m_controls.ShowWindow(ctl::kTransferProgress, false);
    m_controls.EnableWindow(ctl::kStop, false);
    return false;
}

// Only the newest progress matters: a hand-over queued already shows it when it runs.
void TransferRunner::ShowProgress(std::int32_t rows, bool settings) {
    m_progress = settings ? -1 : rows;
    if (m_progressQueued.exchange(true)) return;
    m_controls.Post([this] {
        m_progressQueued = false;
        const std::int32_t progress = m_progress;
        if (progress < 0) {
            m_controls.SetProgress(ctl::kTransferProgress, m_rows, m_rows, "Settings");
        } else {
            m_controls.SetProgress(ctl::kTransferProgress, progress, m_rows,
                                   std::to_string(progress) + " of " + std::to_string(m_rows));
        }
    });
}
