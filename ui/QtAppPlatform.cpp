#include "ui/QtAppPlatform.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string_view>

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
            if (opened.value) {
                trace = std::move(*opened.value);
                dialog.Link().SetTrace(trace.get());
            } else {
                const std::string why =
                    "Trace file " + m_tracePath + " cannot be written: " + opened.outcome.reason + "\r\n";
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

// The exit statuses of a command line the window does not open for, as vantorctl's.
constexpr int kBadUsage = 2;
constexpr int kOutputFailed = 4;

constexpr std::string_view kCommandName = "vantor-radio-config";
static_assert(kWindowTitle.ends_with(" V" VANTOR_VERSION), "the window's title shows the build's version");

constexpr std::string_view kUsage =
    R"(Usage: vantor-radio-config [--no-settings] [--trace FILE]
Opens the Vantor Radio Config window, which configures a radio-interface device on a serial port: its
table of home numbers, its settings, its serial number and user description.

Options:
  --no-settings  start with the usual values (Serial Port 1, Baud 19200) and keep nothing; otherwise
                 Serial Port, Baud, the window's size and place and the folder of the last table
                 file are kept in ~/.config/vantor-radio-config/vantor-radio-config.ini
  --trace FILE   append every request and reply to FILE, one exchange per line (without this
                 option, to the file $VANTOR_TRACE names, if set)
  --help         this text
  --version      the program's name and version

Qt's own options (-platform NAME, -style NAME, ...) are taken as well. vantorctl does the window's
work from a command line.
)";

int Answer(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "%.*s: standard output could not be written\n",
                 static_cast<int>(kCommandName.size()), kCommandName.data());
    return kOutputFailed;
}

// --help and --version, answered before the application is made: they need no window system. Nothing
// for a command line without them.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--trace") {
            ++i;  // its file, whatever it is called
        } else if (arg == "--help" || arg == "-h") {
            return Answer(kUsage);
        } else if (arg == "--version") {
            return Answer(std::string(kProgramName) + " " VANTOR_VERSION "\n");
        }
    }
    return std::nullopt;
}

struct WindowOptions {
    bool rememberSettings = true;
    std::optional<std::string> tracePath;
};

// The program's own options, once Qt has taken its own (-platform, -style, ...) out of the arguments.
// Anything else is refused, on standard error, rather than passed over: a mistyped --no-settings would
// otherwise keep the settings, a --trace without its file record nothing, unasked.
std::optional<WindowOptions> ReadOptions(const QStringList& arguments) {
    const auto refuse = [](const QString& why) {
        std::fprintf(stderr, "%.*s: %s\nTry '%.*s --help'.\n", static_cast<int>(kCommandName.size()),
                     kCommandName.data(), why.toLocal8Bit().constData(),
                     static_cast<int>(kCommandName.size()), kCommandName.data());
        return std::nullopt;
    };
    WindowOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QStringLiteral("--no-settings")) {
            options.rememberSettings = false;
        } else if (arg == QStringLiteral("--trace") || arg.startsWith(QStringLiteral("--trace="))) {
            QString path = arg.mid(8);
            if (arg == QStringLiteral("--trace") && i + 1 < arguments.size()) path = arguments[++i];
            if (path.isEmpty()) return refuse(QStringLiteral("--trace needs a file"));
            options.tracePath = QFile::encodeName(path).toStdString();
        } else if (arg.size() > 1 && arg.startsWith(u'-')) {
            return refuse(QStringLiteral("unknown option '%1'").arg(arg));
        } else {
            return refuse(QStringLiteral("unexpected argument '%1'").arg(arg));
        }
    }
    return options;
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
    if (const std::optional<int> status = AnswerHelpOrVersion(argc, argv)) return *status;
    QApplication application(argc, argv);
    const std::optional<WindowOptions> options = ReadOptions(QApplication::arguments());
    if (!options) return kBadUsage;
    QApplication::setApplicationName(QString::fromLatin1(kProgramName.data(), kProgramName.size()));
    QApplication::setWindowIcon(ProgramIcon());
    if (platform.tracePath.empty())
        platform.tracePath = options->tracePath.value_or(qEnvironmentVariable("VANTOR_TRACE").toStdString());
    if (!options->rememberSettings) platform.rememberSettings = false;
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
