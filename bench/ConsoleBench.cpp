// Appends 100,000 lines of about 40 characters through the real log console (offscreen) and prints how
// long the first and the last thousand took: an append must not slow down as the log grows.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/RadioConfigDialog.h"
#include "ui/LogConsole.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QtDialogControls controls;
    RadioConfigDialog dialog(controls);
    controls.Prepare(dialog);
    controls.Window().show();
    QApplication::processEvents();

    constexpr int kLines = 100000;
    constexpr int kWindow = 1000;
    const auto start = Clock::now();
    Clock::duration first{}, last{};
    for (int i = 0; i < kLines; ++i) {
        const auto before = Clock::now();
        // About 40 characters, as a command's log lines are.
        dialog.LogText("Home number " + std::to_string(i % 500 + 1) + " write Response: OK ...\r\n");
        // The window's turn comes between exchanges: the lines reach the screen and it repaints. That
        // work is part of what an append costs, so it is timed too.
        if (i % 100 == 99) {
            controls.Window().Console()->viewport()->repaint();
            QApplication::processEvents();
        }
        const auto took = Clock::now() - before;
        if (i < kWindow) first += took;
        if (i >= kLines - kWindow) last += took;
    }
    const auto total = Clock::now() - start;
    QApplication::processEvents();

    const double ratio = Ms(last) / Ms(first);
    std::printf("console: %d appends, first %d: %.2f ms, last %d: %.2f ms, last/first %.2f (target <= 1.5)\n",
                kLines, kWindow, Ms(first), kWindow, Ms(last), ratio);
    std::printf("console: total %.0f ms (target < 2000 ms), %d lines shown\n", Ms(total),
                controls.Window().Console()->document()->blockCount());
    return 0;
}
