#include "ui/RememberedSettings.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include "app/ControlIds.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

QSettings Store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vantor-radio-config"),
                     QStringLiteral("vantor-radio-config"));
}

// A kept number goes back into its edit only as the digits the edit takes.
bool AllDigits(const QString& text) {
    if (text.isEmpty() || text.size() > 10) return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') return false;
    }
    return true;
}

}  // namespace

void RememberedSettings::Restore(QtDialogControls& controls) const {
    if (!m_enabled) return;
    const QSettings store = Store();
    if (store.status() != QSettings::NoError) return;
    for (const auto& [key, id] : {std::pair{"port", ctl::kSerialPortEdit}, std::pair{"baud", ctl::kBaudEdit}}) {
        const QString value = store.value(QLatin1String(key)).toString();
        if (AllDigits(value)) controls.SetDlgItemText(id, value.toStdString());
    }
    // A place kept from another screen layout is brought back onto a screen by Qt; a damaged one is no place.
    const QByteArray geometry = store.value(QStringLiteral("geometry")).toByteArray();
    if (!geometry.isEmpty()) controls.Window().restoreGeometry(geometry);
    controls.SetFolder(store.value(QStringLiteral("folder")).toString());
}

void RememberedSettings::Save(QtDialogControls& controls) const {
    if (!m_enabled) return;
    QSettings store = Store();
    store.setValue(QStringLiteral("port"), QString::fromStdString(controls.GetDlgItemText(ctl::kSerialPortEdit)));
    store.setValue(QStringLiteral("baud"), QString::fromStdString(controls.GetDlgItemText(ctl::kBaudEdit)));
    store.setValue(QStringLiteral("geometry"), controls.Window().saveGeometry());
    if (!controls.Folder().isEmpty()) store.setValue(QStringLiteral("folder"), controls.Folder());
    store.sync();
}
