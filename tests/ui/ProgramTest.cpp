// The program itself, started as a user starts it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace {

// A stop signal closes the window as its close box does, and the program ends normally instead of being
// killed with the port it may hold still open.
TEST(ProgramTest, StopSignalsEndItNormally) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // --no-settings: a test keeps nothing in the user's configuration folder.
        testsupport::ChildProcess program(VANTOR_PROGRAM_PATH, {"--no-settings"});
        ASSERT_TRUE(program.WaitUntilItHandles(signal)) << strsignal(signal);
        program.Signal(signal);
        EXPECT_EQ(program.Wait(), 0) << strsignal(signal) << program.AllOutput();
    }
}

// What the program wrote where the shell redirection leaves a pipe, and how it ended.
struct Said {
    std::string text;
    int status;
};

Said RunWith(const std::string& redirection, const std::vector<std::string>& args,
             const std::vector<std::string>& environment) {
    std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" " + redirection, VANTOR_PROGRAM_PATH};
    shell.insert(shell.end(), args.begin(), args.end());
    testsupport::ChildProcess program("/bin/sh", shell, environment);
    std::string text = program.AllOutput();
    return {std::move(text), program.Wait()};
}

const std::string kOnlyOutput = "2>/dev/null";
const std::string kOnlyError = "2>&1 >/dev/null";

// No window system to open a window on: what answers here never makes one.
const std::vector<std::string> kNoWindowSystem{"QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY"};

const std::string kUsage =
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

TEST(ProgramTest, HelpAndVersionAnswerOnStandardOutputWithoutAWindow) {
    struct Case {
        std::vector<std::string> args;
        std::string answer;
    };
    const std::string version = "Vantor Radio Config 1.2.4.5\n";
    const std::vector<Case> cases{
        {{"--help"}, kUsage},
        {{"-h"}, kUsage},
        {{"--version"}, version},
        {{"--no-settings", "--trace", "exchanges.txt", "--version"}, version},
        {{"--version", "--help"}, version},
    };
    for (const Case& c : cases) {
        const Said output = RunWith(kOnlyOutput, c.args, kNoWindowSystem);
        EXPECT_EQ(output.text, c.answer) << c.args.front();
        EXPECT_EQ(output.status, 0) << c.args.front();
        const Said error = RunWith(kOnlyError, c.args, kNoWindowSystem);
        EXPECT_EQ(error.text, "") << c.args.front();
        EXPECT_EQ(error.status, 0) << c.args.front();
    }
    // Help that could not be written is not a success.
    const Said full = RunWith("2>&1 >/dev/full", {"--help"}, kNoWindowSystem);
    EXPECT_EQ(full.text, "vantor-radio-config: standard output could not be written\n");
    EXPECT_EQ(full.status, 4);
}

// An argument the program does not take is refused with a word on standard error and exit status 2
// rather than passed over (a mistyped --no-settings would keep the settings unasked). Qt's own options
// are Qt's.
TEST(ProgramTest, AnArgumentItDoesNotTakeIsRefused) {
    // A runtime folder of its own: Qt warns on standard error of one that is missing.
    const QTemporaryDir home;
    const std::string config = home.path().toStdString();
    const std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen", "HOME=" + config,
                                               "XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + config};
    struct Case {
        std::vector<std::string> args;
        std::string refusal;
    };
    const std::vector<Case> cases{
        {{"--no-setting"}, "unknown option '--no-setting'"},
        {{"-style", "fusion", "--bogus"}, "unknown option '--bogus'"},
        {{"table.txt"}, "unexpected argument 'table.txt'"},
        {{"--no-settings", "--trace"}, "--trace needs a file"},
        {{"--trace="}, "--trace needs a file"},
    };
    for (const Case& c : cases) {
        const Said error = RunWith(kOnlyError, c.args, environment);
        EXPECT_EQ(error.text, "vantor-radio-config: " + c.refusal + "\nTry 'vantor-radio-config --help'.\n")
            << c.args.back();
        EXPECT_EQ(error.status, 2) << c.args.back();
        const Said output = RunWith(kOnlyOutput, c.args, environment);
        EXPECT_EQ(output.text, "") << c.args.back();
    }
}

// The settings file is in the user's configuration folder, made when the window closes. Something other
// than a file there (a pipe, which a read would wait on for ever) is passed over and left as it is, and the
// window still opens.
TEST(ProgramTest, KeepsItsSettingsInTheConfigurationFolderButNeverReadsAPipe) {
    struct Case {
        const char* what;
        bool pipe;
        std::string kept;  // the file once the window has closed; "" for the pipe
    };
    const std::vector<Case> cases{
        {"nothing there yet", false, "[General]\nbaud=19200\ngeometry=...\nport=1\n"},
        {"a pipe", true, ""},
    };
    for (const Case& c : cases) {
        const QTemporaryDir home;
        const std::string config = home.path().toStdString() + "/.config";
        const std::string settings = config + "/vantor-radio-config/vantor-radio-config.ini";
        if (c.pipe) {
            ASSERT_TRUE(QDir().mkpath(QString::fromStdString(config + "/vantor-radio-config")));
            ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
        }
        {
            testsupport::ChildProcess program(
                VANTOR_PROGRAM_PATH, {},
                {"QT_QPA_PLATFORM=offscreen", "HOME=" + home.path().toStdString(),
                 "XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + config});
            ASSERT_TRUE(program.WaitUntilItHandles(SIGTERM)) << c.what;
            program.Signal(SIGTERM);
            EXPECT_EQ(program.Wait(), 0) << c.what << program.AllOutput();
        }
        struct stat info {};
        ASSERT_EQ(::lstat(settings.c_str(), &info), 0) << c.what;
        EXPECT_EQ(S_ISFIFO(info.st_mode), c.pipe) << c.what;
        if (c.pipe) continue;
        std::ifstream in(settings);
        std::string kept;
        for (std::string line; std::getline(in, line);)
            kept += (line.starts_with("geometry=") ? "geometry=..." : line) + "\n";
        EXPECT_EQ(kept, c.kept) << c.what;
    }
}

}  // namespace
