#include "ui/RememberedSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <string>

#include "app/ControlIds.h"
#include "device/DialogText.h"
#include "serial/PortPath.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

// A settings file of the window holds a few hundred bytes, the window's geometry (under a hundred) being
// its longest value. QSettings reads and parses a file whole before the window could open, so one of tens
// of megabytes, which is none of the window's own, would hold the start up. 64 KiB leaves room for the
// longest folder paths and for what a later version may keep, and is read in no time.
constexpr qint64 kLargestSettingsFile = 64 * 1024;

// Where QSettings keeps the user's INI settings of the program. Only a QSettings object tells, and it reads
// its files as it is made; so the one asked is of a format of its own, that nothing is kept in: its file
// beside ours does not exist, and nothing is read.
QString SettingsFile() {
    static const QSettings::Format kNothingKept = QSettings::registerFormat(
        QStringLiteral("unused"), [](QIODevice&, QSettings::SettingsMap&) { return true; },
        [](QIODevice&, const QSettings::SettingsMap&) { return true; });
    const QSettings beside(kNothingKept, QSettings::UserScope, QStringLiteral("vantor-radio-config"),
                           QStringLiteral("vantor-radio-config"));
    return QFileInfo(beside.fileName()).path() + QStringLiteral("/vantor-radio-config.ini");
}

// What lies where the settings file belongs.
enum class Kept { kNothing, kSettings, kTooLarge, kNoFile };

Kept WhatIsKept(const QString& file) {
    const QFileInfo info(file);
    if (!info.exists()) return Kept::kNothing;
    // A pipe would keep the read waiting for a writer, a device might never end it.
    if (!info.isFile()) return Kept::kNoFile;
    return info.size() > kLargestSettingsFile ? Kept::kTooLarge : Kept::kSettings;
}

RememberedSettings::Stamp StampOf(const QString& file) {
    const QFileInfo info(file);
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
}

// The Baud edit takes digits only, and the window reads the speed out of it as a 32-bit number, which the
// port opens with only when above 0.
bool IsSpeed(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const std::optional<std::int32_t> speed = ParseDialogInt(text);
    return speed && *speed > 0;
}

struct KeptGeometry {
    QRect normal;  // the size and place to restore to
    Qt::WindowStates states;
};

// Qt's record of a window's size, place and state, read into a window of no consequence: the window itself
// is given only what fits, before anything makes its native window, which is made at the size the window
// has then and may keep that size as the one to restore a maximised window to.
std::optional<KeptGeometry> ReadGeometry(const QByteArray& record) {
    if (record.isEmpty()) return std::nullopt;
    QWidget scratch;
    if (!scratch.restoreGeometry(record)) return std::nullopt;
    const Qt::WindowStates states = scratch.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    return KeptGeometry{states == Qt::WindowNoState ? scratch.geometry() : scratch.normalGeometry(), states};
}

// The screen a kept place lies mostly on; the primary one for a place on none of them.
const QScreen* ScreenOf(const QRect& place) {
    const QScreen* chosen = QGuiApplication::primaryScreen();
    qint64 most = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(place);
        const qint64 area = qint64{common.width()} * common.height();
        if (area > most) {
            most = area;
            chosen = screen;
        }
    }
    return chosen;
}

// The size of a kept place. Qt reckons a width as right - left + 1 in an int, which a record of corners far
// apart overflows; here it is reckoned wide and held to what a widget can be.
QSize SizeOf(const QRect& place) {
    const auto length = [](int first, int last) {
        return static_cast<int>(std::clamp<qint64>(qint64{last} - first + 1, 0, QWIDGETSIZE_MAX));
    };
    return {length(place.left(), place.right()), length(place.top(), place.bottom())};
}

// A kept size and place brought into the free area of their screen, the window system's frame around them
// included: a size no larger than that area, a place that puts the whole window on it, and what already
// fits left as it is. The frame is not known before the window first shows, so it is reckoned as the style
// draws one. The window's least size still holds: on a screen smaller than that, its top left shows.
QRect FitOnScreen(const QRect& kept, const QWidget& window) {
    const QScreen* screen = ScreenOf(kept);
    if (!screen) return kept;
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    const QRect room = screen->availableGeometry().marginsRemoved(QMargins(border, titleBar, border, border));
    const QSize size = SizeOf(kept).boundedTo(room.size()).expandedTo(window.minimumSize());
    const auto within = [](int at, int length, int roomStart, int roomLength) {
        return std::clamp(at, roomStart, std::max(roomStart, roomStart + roomLength - length));
    };
    return {within(kept.x(), size.width(), room.x(), room.width()),
            within(kept.y(), size.height(), room.y(), room.height()), size.width(), size.height()};
}

// Without a sound record the window opens at its usual size, centred.
void RestoreGeometry(QWidget& window, const QByteArray& record) {
    const std::optional<KeptGeometry> kept = ReadGeometry(record);
    if (!kept) return;
    window.setGeometry(FitOnScreen(kept->normal, window));
    if (kept->states != Qt::WindowNoState) window.setWindowState(kept->states);
}

}  // namespace

void RememberedSettings::Restore(QtDialogControls& controls) {
    if (!m_enabled) return;
    const QString file = SettingsFile();
    if (WhatIsKept(file) != Kept::kSettings) return;
    const QSettings store(file, QSettings::IniFormat);
    if (store.status() != QSettings::NoError) {
        m_passedOver = StampOf(file);
        return;
    }
    // A value goes back into its edit only as one the edit could hold and the port could open with.
    const std::string port = store.value(QStringLiteral("port")).toString().toStdString();
    if (ParsePortNumber(port)) controls.SetDlgItemText(ctl::kSerialPortEdit, port);
    const std::string baud = store.value(QStringLiteral("baud")).toString().toStdString();
    if (IsSpeed(baud)) controls.SetDlgItemText(ctl::kBaudEdit, baud);
    RestoreGeometry(controls.Window(), store.value(QStringLiteral("geometry")).toByteArray());
    const QString folder = store.value(QStringLiteral("folder")).toString();
    if (!folder.isEmpty()) controls.SetFolder(folder);
}

void RememberedSettings::Save(QtDialogControls& controls) const {
    if (!m_enabled) return;
    const QString file = SettingsFile();
    QString folder = controls.Folder();
    switch (WhatIsKept(file)) {
        case Kept::kNoFile:
            return;  // left as it is: the window keeps nothing there
        case Kept::kTooLarge:
            // Replaced unread, as it was passed over unread.
            if (!QFile::remove(file)) return;
            break;
        case Kept::kSettings: {
            const QSettings before(file, QSettings::IniFormat);
            if (before.status() != QSettings::NoError || m_passedOver == StampOf(file)) {
                // A damaged file is replaced unread, as it was passed over: QSettings would write keys of
                // one it could not read whole back beside the window's.
                if (!QFile::remove(file)) return;
            } else if (folder.isEmpty()) {
                // Another window, open at the same time, may have kept a folder since this one opened
                // without one.
                folder = before.value(QStringLiteral("folder")).toString();
            }
            break;
        }
        case Kept::kNothing:
            break;
    }
    QSettings store(file, QSettings::IniFormat);
    // QSettings writes back every group and key it has read; the file is to hold the window's values alone.
    store.clear();
    store.setValue(QStringLiteral("port"),
                   QString::fromStdString(controls.GetDlgItemText(ctl::kSerialPortEdit)));
    store.setValue(QStringLiteral("baud"), QString::fromStdString(controls.GetDlgItemText(ctl::kBaudEdit)));
    store.setValue(QStringLiteral("geometry"), controls.Window().saveGeometry());
    if (!folder.isEmpty()) store.setValue(QStringLiteral("folder"), folder);
    store.sync();
}
