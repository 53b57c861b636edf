// The window's remembered-settings file on any bytes, read by the real window offscreen. What comes back
// must be what the window could use: a Serial Port and a Baud its edits and the port could take (or the
// start values), a size no smaller than the window's least, a place inside the screen's free area, no
// state but maximised or full screen. Kept again as the window closes, the file holds the window's keys
// alone, and read by the next window it gives back the same values.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "device/DialogText.h"
#include "serial/PortPath.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"
#include "ui/RememberedSettings.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "remembered settings: %s\n", what);
    std::abort();
}

QString SettingsFile() {
    static QTemporaryDir config;
    static const QString file = [] {
        if (!config.isValid()) Fail("no folder for the settings");
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
        if (!QDir().mkpath(config.path() + "/vantor-radio-config")) Fail("no folder for the settings");
        return config.path() + "/vantor-radio-config/vantor-radio-config.ini";
    }();
    return file;
}

// QSettings reads a file again only when its size or time has changed: each input gets a time of its own.
void Keep(const std::uint8_t* data, std::size_t size) {
    static std::int64_t written = 0;
    QFile out(SettingsFile());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) Fail("the settings file cannot be written");
    if (out.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) != static_cast<qint64>(size))
        Fail("the settings file cannot be written");
    if (!out.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(++written),
                         QFileDevice::FileModificationTime))
        Fail("the settings file's time cannot be set");
}

struct Shown {
    std::string port;
    std::string baud;
    QString folder;
    QRect placed;  // the size and place, or the one restored to when maximised
    Qt::WindowStates states;

    bool operator==(const Shown&) const = default;
};

// One window as it opens with what is kept, and what it shows then.
struct WindowRun {
    WindowRun() {
        controls.Prepare(dialog);
        settings.Restore(controls);
    }
    Shown What() {
        MainWindow& window = controls.Window();
        const Qt::WindowStates states = window.windowState();
        return {controls.GetDlgItemText(ctl::kSerialPortEdit), controls.GetDlgItemText(ctl::kBaudEdit),
                controls.Folder(), states == Qt::WindowNoState ? window.geometry() : window.normalGeometry(),
                states};
    }

    QtDialogControls controls;
    RadioConfigDialog dialog{controls};
    RememberedSettings settings{true};
};

void Print(const char* label, const Shown& shown) {
    std::fprintf(stderr, "%s: port %s, baud %s, folder %s, %d,%d %dx%d, states %d\n", label, shown.port.c_str(),
                 shown.baud.c_str(), qPrintable(shown.folder), shown.placed.x(), shown.placed.y(),
                 shown.placed.width(), shown.placed.height(), int(shown.states));
}

bool Digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CheckUsable(const Shown& shown, const QSize& least, const QRect& start) {
    if (shown.port != "1" && !(Digits(shown.port) && ParsePortNumber(shown.port)))
        Fail("a Serial Port the edit could not hold or the port could not open");
    if (shown.baud != "19200") {
        const std::optional<std::int32_t> speed = Digits(shown.baud) ? ParseDialogInt(shown.baud) : std::nullopt;
        if (!speed || *speed <= 0) Fail("a Baud the edit could not hold or the port could not open with");
    }
    if ((shown.states & ~(Qt::WindowMaximized | Qt::WindowFullScreen)) != Qt::WindowNoState)
        Fail("a window state other than maximised or full screen");
    if (shown.placed.width() < least.width() || shown.placed.height() < least.height())
        Fail("a size smaller than the window's least");
    if (shown.placed == start) return;
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    if (least.width() <= free.width() && least.height() <= free.height() && !free.contains(shown.placed))
        Fail("a place outside the screen's free area");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // What Qt says of a damaged geometry record is of no interest here, and would slow every run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "settings_fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    SettingsFile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto [least, start] = [] {
        QFile::remove(SettingsFile());
        WindowRun plain;
        return std::pair{plain.controls.Window().minimumSize(), plain.What().placed};
    }();
    Keep(data, size);
    Shown first;
    {
        WindowRun run;
        first = run.What();
        CheckUsable(first, least, start);
        run.settings.Save(run.controls);
    }
    QSettings kept(SettingsFile(), QSettings::IniFormat);
    if (kept.status() != QSettings::NoError) Fail("the file kept does not read back");
    QStringList keys = kept.allKeys();
    keys.sort();
    const QStringList expected = first.folder.isEmpty()
                                     ? QStringList{"baud", "geometry", "port"}
                                     : QStringList{"baud", "folder", "geometry", "port"};
    if (keys != expected) {
        std::fprintf(stderr, "kept: %s\n", qPrintable(keys.join(' ')));
        QFile saved(SettingsFile());
        if (saved.open(QIODevice::ReadOnly)) std::fprintf(stderr, "%s\n", saved.readAll().constData());
        Fail("the file kept holds other keys than the window's");
    }
    WindowRun next;
    Shown again = next.What();
    // A window that was never shown has no place of its own to keep: it begins at the corner, which its
    // next run brings into the free area.
    if (first.placed == start) again.placed = start;
    if (!(again == first)) {
        Print("first", first);
        Print("again", again);
        Fail("the values kept do not come back as they were");
    }
    return 0;
}
