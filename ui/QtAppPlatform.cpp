#include "ui/QtAppPlatform.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/ProgramInfo.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"
#include "ui/StopSignals.h"

namespace {

// The Qt window, telling the platform once it is up.
class ShownWindow : public QtDialogControls {
public:
    explicit ShownWindow(std::function<void(QtDialogControls&)> onShown) : m_onShown(std::move(onShown)) {}

    int RunModal(RadioConfigDialog& dialog) override {
        if (m_onShown) QTimer::singleShot(0, &Window(), [this] { m_onShown(*this); });
        return QtDialogControls::RunModal(dialog);
    }

private:
    std::function<void(QtDialogControls&)> m_onShown;
};

}  // namespace

void QtAppPlatform::ShowStartupMessage(std::string_view text) {
    QMessageBox::information(nullptr, QString::fromLatin1(kProgramName.data(), kProgramName.size()),
                             QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

std::unique_ptr<DialogWindow> QtAppPlatform::CreateMainWindow() {
    return std::make_unique<ShownWindow>(onShown);
}

int RunRadioConfig(int argc, char** argv, QtAppPlatform& platform) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramName.data(), kProgramName.size()));
    QApplication::setWindowIcon(ProgramIcon());
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
