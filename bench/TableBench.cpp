// The home number table in the real window: building its 500 rows, and what a Write All and a Read All
// ask of it from their worker thread (every call crossing to the window's thread).
#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

using Clock = std::chrono::steady_clock;

// The real window, with the file choosers and the question answered by the benchmark.
class AnsweredWindow : public QtDialogControls {
public:
    std::string path;
    std::optional<std::string> ChooseSaveFile(const FileChoice&) override { return path; }
    std::optional<std::string> ChooseOpenFile(const FileChoice&) override { return path; }
    bool AskYesNo(std::string_view, std::string_view) override { return true; }
};

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    AnsweredWindow controls;
    RadioConfigDialog dialog(controls);
    controls.Prepare(dialog);
    controls.Window().show();
    QApplication::processEvents();

    constexpr int kRuns = 7;
    std::vector<double> resets;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        dialog.ResetHomeNumberTable();
        QApplication::processEvents();  // and the repaint it causes
        resets.push_back(MsSince(start));
    }
    std::printf("table: ResetHomeNumberTable %.1f ms (median of %d, with the repaint; target < 20 ms)\n",
                Median(resets), kRuns);

    // 500 rows and 100 PLL pairs written, 2,000 cells read: the table's share of a Read All plus a Write All.
    std::vector<double> bulks;
    for (int run = 0; run < kRuns; ++run) {
        std::atomic<bool> done{false};
        double ms = 0;
        std::thread worker([&] {
            const auto start = Clock::now();
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                dialog.SetHomeNumberRow(n, "123", "456");
                if (n <= 100) dialog.SetPllColumns(n, "146.5", "151.2");
            }
            std::size_t characters = 0;
            for (int row = 0; row < RadioConfigDialog::kRowCount; ++row) {
                const table::TableRow cells = dialog.Table().Row(row);
                characters += cells.tx.size() + cells.rx.size() + cells.pllTx.size() + cells.pllRx.size();
            }
            ms = MsSince(start);
            if (characters == 0) std::printf("table: no cell was read\n");
            done = true;
            QMetaObject::invokeMethod(
                qApp, [] {}, Qt::QueuedConnection);  // wakes the loop below
        });
        while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worker.join();
        bulks.push_back(ms);
    }
    std::printf(
        "table: from a worker thread, 500 rows + 100 PLL pairs + 2,000 cell reads %.0f ms "
        "(median of %d; target < 250 ms)\n",
        Median(bulks), kRuns);

    // Save As and Open of the full table just written, PLL values on 1-100.
    char fileTemplate[] = "/tmp/vantor-table-XXXXXX";
    const int fd = mkstemp(fileTemplate);
    if (fd >= 0) close(fd);
    controls.path = fileTemplate;
    std::vector<double> saves, loads;
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        dialog.OnSaveAs();
        saves.push_back(MsSince(start));
        start = Clock::now();
        dialog.OnOpen();
        QApplication::processEvents();
        loads.push_back(MsSince(start));
    }
    std::remove(fileTemplate);
    std::printf(
        "table: Save As of 500 rows %.1f ms, Open %.1f ms (medians of %d, with the repaint; target < 10 ms "
        "each)\n",
        Median(saves), Median(loads), kRuns);
    return 0;
}
