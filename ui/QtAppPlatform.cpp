#include "ui/QtAppPlatform.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"
#include "serial/ExchangeTrace.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"
#include "ui/RememberedSettings.h"
#include "ui/StopSignals.h"

namespace {

// The Qt window, telling the platform once it is up, and recording the exchanges when asked to.
class ShownWindow : public QtDialogControls {
public:
    ShownWindow(std::function<void(QtDialogControls&)> onShown, std::string tracePath, bool rememberSettings)
        : m_onShown(std::move(onShown)), m_tracePath(std::move(tracePath)), m_settings(rememberSettings) {}

    int RunModal(RadioConfigDialog& dialog) override {
        if (m_onShown) QTimer::singleShot(0, &Window(), [this] { m_onShown(*this); });
        std::unique_ptr<ExchangeTrace> trace;
        if (!m_tracePath.empty()) {
            auto opened = ExchangeTrace::Open(m_tracePath);
            if (auto* ready = std::get_if<std::unique_ptr<ExchangeTrace>>(&opened)) {
                trace = std::move(*ready);
                dialog.Link().SetTrace(trace.get());
            } else {
                const std::string why = "Trace file " + m_tracePath +
                                        " cannot be written: " + std::get<std::string>(opened) + "\r\n";
                QTimer::singleShot(0, &Window(), [&dialog, why] { dialog.LogText(why); });
            }
        }
        Prepare(dialog);
        m_settings.Restore(*this);
        const int result = Window().exec();
        m_settings.Save(*this);
        dialog.Link().SetTrace(nullptr);  // the run is over: no worker and no command uses the port now
        return result;
    }

private:
    std::function<void(QtDialogControls&)> m_onShown;
    std::string m_tracePath;
    RememberedSettings m_settings;
};

std::string TracePathOf(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--trace") && i + 1 < arguments.size()) {
            return QFile::encodeName(arguments[i + 1]).toStdString();
        }
        if (arguments[i].startsWith(QStringLiteral("--trace="))) {
            return QFile::encodeName(arguments[i].mid(8)).toStdString();
        }
    }
    return qEnvironmentVariable("VANTOR_TRACE").toStdString();
}

}  // namespace

void QtAppPlatform::ShowStartupMessage(std::string_view text) {
    QMessageBox::information(nullptr, QString::fromLatin1(kProgramName.data(), kProgramName.size()),
                             QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

std::unique_ptr<DialogWindow> QtAppPlatform::CreateMainWindow() {
    return std::make_unique<ShownWindow>(onShown, tracePath, rememberSettings);
}

int RunRadioConfig(int argc, char** argv, QtAppPlatform& platform) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramName.data(), kProgramName.size()));
    QApplication::setWindowIcon(ProgramIcon());
    if (platform.tracePath.empty()) platform.tracePath = TracePathOf(QApplication::arguments());
    if (QApplication::arguments().contains(QStringLiteral("--no-settings"))) platform.rememberSettings = false;
    // For the whole run, up to the dialog's end that closes the port: a stop signal closes the window
    // as its close box does, and one that comes later finds the program ending already.
    const StopSignals stop([] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = dynamic_cast<MainWindow*>(widget)) window->CloseWhenAllowed();
        }
    });
    RadioConfigApp app;
    app.InitInstance(platform);
    return 0;
}
