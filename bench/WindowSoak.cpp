// The soak through the real window offscreen: Write All, Read All and Verify in turns against a randomly
// faulty simulated device (its chaos at 5 %), each run's outcome compared with what the device holds:
// a Write All that says it is done left every row on the device, a Read All that says so shows every
// row as the device holds it, and a Verify finds no difference on a device that holds the table. After
// every run the window's open files, threads and memory are sampled: they must stay flat.
//   window_soak_bench [ROUNDS [RATE]]   (default 5 rounds of the three, rate 0.05)
#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <malloc.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "sim/PtyServer.h"
#include "table/TableEdits.h"
#include "ui/HomeNumberList.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

// Says Yes to the question that starts a transfer, once it shows.
void AnswerYes() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
            yes->click();
            return;
        }
    }
    QTimer::singleShot(5, [] { AnswerYes(); });
}

// A message a run ended with (a failure said in a box) is read and closed, as the operator would.
void CloseMessages() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && !box->button(QMessageBox::Yes))
        box->accept();
}

void RunToEnd(RadioConfigDialog& dialog, void (RadioConfigDialog::*start)()) {
    dialog.OnClearScreen();
    QTimer::singleShot(0, [] { AnswerYes(); });
    (dialog.*start)();
    QEventLoop loop;
    QTimer ended;
    QObject::connect(&ended, &QTimer::timeout, [&] {
        CloseMessages();
        if (!dialog.TransferRunning()) loop.quit();
    });
    ended.start(20);
    loop.exec();
}

struct Resources {
    int files = 0;
    int threads = 0;
    long rssKb = 0;
    long heapKb = 0;  // what the allocator has handed out and not been given back
};

Resources Sample() {
    Resources r;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++r.files;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:")) r.threads = std::atoi(line.c_str() + 8);
        if (line.starts_with("VmRSS:")) r.rssKb = std::atol(line.c_str() + 6);
    }
    const struct mallinfo2 heap = mallinfo2();
    r.heapKb = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    return r;
}

std::string PllText(std::uint16_t wire) {
    if (wire == vantor::sim::kNoPll) return "";
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u", wire / 10U, wire % 10U);
    return text;
}

// The rows of the window's table that the device does not hold as the table shows them.
int RowsOtherThanTheDevice(const table::HomeNumberTable& table, const vantor::sim::DeviceState& device) {
    int differ = 0;
    for (int n = 1; n <= table.RowCount(); ++n) {
        const table::TableRow row = table.Row(n - 1);
        const auto& codes = device.homeNumbers[static_cast<std::size_t>(n - 1)];
        bool same = row.tx == codes.tx && row.rx == codes.rx;
        if (n <= vantor::sim::kPllHomeNumberCount) {
            const auto& pll = device.pll[static_cast<std::size_t>(n - 1)];
            same = same && row.pllTx == PllText(pll.tx) && row.pllRx == PllText(pll.rx);
        }
        differ += same ? 0 : 1;
    }
    return differ;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double rate = argc > 2 ? std::atof(argv[2]) : 0.05;
    char dirTemplate[] = "/tmp/vantor-soak-XXXXXX";
    const std::filesystem::path portsDir = mkdtemp(dirTemplate);
    setenv("VANTOR_PORTS_DIR", portsDir.c_str(), 1);
    int wrong = 0, runs = 0, failed = 0;
    Resources first, last;
    {
        vantor::sim::ServerOptions options;
        options.portsDir = portsDir;
        options.port = 1;
        options.chaos = vantor::sim::Chaos{7, rate};
        vantor::sim::PtyServer device(options);
        if (auto failure = device.Start()) {
            std::fprintf(stderr, "window soak: the simulated device: %s\n", failure->c_str());
            return 1;
        }
        QApplication application(argc, argv);
        QtDialogControls controls;
        RadioConfigDialog dialog(controls);
        controls.Prepare(dialog);
        controls.Window().show();
        controls.SetDlgItemInt(ctl::kSerialPortEdit, 1);
        controls.SetCurSel(ctl::kDispList, 1);
        controls.SetCurSel(ctl::kSquelchList, 1);
        // The undo history keeps the last 200 steps, a Read All that changes every row being one of a whole
        // table. Filled first with such steps, it stays the size it is while the rounds go on, each round's
        // Read All pushing the oldest out, and what the samples show is the rest of the window.
        auto* list = controls.Window().findChild<HomeNumberList*>();
        if (!list) {
            std::fprintf(stderr, "window soak: the window has no home number list\n");
            return 1;
        }
        for (std::size_t step = 0; step < table::TableHistory::kMostSteps; ++step) {
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                const std::string code = std::to_string(100 + (n + static_cast<int>(step)) % 900);
                dialog.SetHomeNumberRow(n, code, code);
            }
            list->selectAll();
            dialog.OnClearRows();
        }
        list->clearSelection();
        for (int round = 0; round < rounds; ++round) {
            // A table of its own for each round, so that a Read All that shows the device's rows shows
            // something else than the window held.
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                const std::string code = std::to_string(100 + (n * 7 + round * 13) % 900);
                dialog.SetHomeNumberRow(n, code, std::to_string(999 - (n + round) % 900));
                if (n <= 100) dialog.SetPllColumns(n, std::to_string(140 + round) + ".5", "");
            }
            table::HomeNumberTable written;
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                const table::TableRow row = dialog.Table().Row(n - 1);
                written.SetRow(n, row.tx, row.rx);
                written.SetPll(n, row.pllTx, row.pllRx);
            }
            RunToEnd(dialog, &RadioConfigDialog::OnWriteAll);
            ++runs;
            if (!dialog.TransferOutcome().Done()) {
                ++failed;
                // The truth made known again: the same table written with the chaos paused.
                device.PauseChaos(true);
                RunToEnd(dialog, &RadioConfigDialog::OnWriteAll);
                device.PauseChaos(false);
            }
            if (const int differ = RowsOtherThanTheDevice(written, device.State()); differ != 0) {
                ++wrong;
                std::printf("window soak: round %d: Write All said done, %d rows are not on the device\n", round, differ);
            }
            dialog.ResetHomeNumberTable();
            RunToEnd(dialog, &RadioConfigDialog::OnReadAll);
            ++runs;
            if (!dialog.TransferOutcome().Done()) {
                ++failed;
            } else if (const int differ = RowsOtherThanTheDevice(dialog.Table(), device.State()); differ != 0) {
                ++wrong;
                std::printf("window soak: round %d: Read All said done, %d rows are not the device's\n", round, differ);
            }
            for (int n = 1; n <= RadioConfigDialog::kRowCount; ++n) {
                const table::TableRow row = written.Row(n - 1);
                dialog.SetHomeNumberRow(n, row.tx, row.rx);
                if (n <= 100) dialog.SetPllColumns(n, row.pllTx, row.pllRx);
            }
            RunToEnd(dialog, &RadioConfigDialog::OnVerify);
            ++runs;
            if (!dialog.TransferOutcome().Done()) {
                ++failed;
                if (dialog.LogContents().find(" differences\r\n") != std::string::npos) {
                    ++wrong;
                    std::printf("window soak: round %d: Verify found differences on a device that holds the table\n", round);
                }
            }
            // The log console holds every line until it is cleared, as it should: cleared each round, what
            // is sampled is what the window itself keeps.
            dialog.OnClearScreen();
            QCoreApplication::processEvents();
            const Resources now = Sample();
            if (round == 0) first = now;
            last = now;
            std::printf("window soak: round %d: %d open files, %d threads, %ld kB resident, %ld kB of heap in use\n",
                        round + 1, now.files, now.threads, now.rssKb, now.heapKb);
        }
    }
    std::filesystem::remove_all(portsDir);
    const bool flat = last.files <= first.files && last.threads <= first.threads && last.rssKb <= first.rssKb + 4096 &&
                      last.heapKb <= first.heapKb + 1024;
    std::printf("window soak: %d runs through the window at a fault rate of %g: %d reported a failure, %d wrong "
                "(target 0); open files %d then %d, threads %d then %d, resident %ld then %ld kB, heap in use %ld then %ld kB: "
                "%s\n",
                runs, rate, failed, wrong, first.files, last.files, first.threads, last.threads, first.rssKb,
                last.rssKb, first.heapKb, last.heapKb, flat ? "flat" : "NOT flat");
    return wrong == 0 && flat ? 0 : 1;
}
