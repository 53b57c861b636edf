// vantor-radio-config.exe: the Windows window. Start-up as on any platform (RadioConfigApp), with the
// socket layer and the common controls of Windows, and the command line the Linux window takes.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "app/ProgramInfo.h"
#include "app/RadioConfigApp.h"
#include "ui-win32/Win32Window.h"

namespace {

constexpr int kBadUsage = 2;

constexpr std::string_view kUsage =
    "Usage: vantor-radio-config [--no-settings] [--trace FILE]\r\n"
    "Opens the Vantor Radio Config window, which configures a radio-interface device on a serial port: its\r\n"
    "table of home numbers, its settings, its serial number and user description.\r\n"
    "\r\n"
    "Options:\r\n"
    "  --no-settings  start with the usual values (Serial Port 1, Baud 19200) and keep nothing; otherwise\r\n"
    "                 Serial Port, Baud, the window's size and place and the folder of the last table\r\n"
    "                 file are kept in %APPDATA%\\vantor-radio-config\\vantor-radio-config.ini\r\n"
    "  --trace FILE   append every request and reply to FILE, one exchange per line (without this\r\n"
    "                 option, to the file %VANTOR_TRACE% names, if set)\r\n"
    "  --help         this text\r\n"
    "  --version      the program's name and version\r\n"
    "\r\n"
    "vantorctl.exe does the window's work from a command line.\r\n";

// A window program has a console only when started from one: what it says goes to the standard handle it
// was given, else to the console it was started from, else into a message box.
void Say(std::string_view text, bool error) {
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    const std::string shown(text);
    MessageBoxA(nullptr, shown.c_str(), std::string(kProgramName).c_str(), error ? MB_ICONERROR : MB_OK);
}

std::atomic<Win32Window*> g_window{nullptr};
HANDLE g_closed = nullptr;  // set once the window has gone

// Ctrl+C, Ctrl+Break and closing the console the program was started from end it as its close box would,
// without a question; a console close waits (the system allows a few seconds) until the window has gone.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    Win32Window* window = g_window.load();
    if (!window) return FALSE;
    window->CloseWhenAllowed();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(g_closed, 4000);
    }
    return TRUE;
}

// The window the console's events close, for as long as it lives.
class ConsoleClosedWindow : public Win32Window {
public:
    explicit ConsoleClosedWindow(Options options) : Win32Window(std::move(options)) { g_window = this; }
    ~ConsoleClosedWindow() override { g_window = nullptr; }
};

class Win32Platform : public AppPlatform {
public:
    explicit Win32Platform(Win32Window::Options options) : m_options(std::move(options)) {}
    ~Win32Platform() override {
        if (m_socketsStarted) WSACleanup();
    }

    bool StartSocketLayer() override {
        WSADATA data{};
        m_socketsStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        return m_socketsStarted;
    }
    // The window registers the common controls it uses itself.
    void EnableThreeDControls() override {}
    void ShowStartupMessage(std::string_view text) override {
        MessageBoxA(nullptr, std::string(text).c_str(), std::string(kProgramName).c_str(), MB_OK);
    }
    std::unique_ptr<DialogWindow> CreateMainWindow() override {
        return std::make_unique<ConsoleClosedWindow>(m_options);
    }

private:
    Win32Window::Options m_options;
    bool m_socketsStarted = false;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Win32Window::Options options;
    if (const char* trace = std::getenv("VANTOR_TRACE"); trace && *trace) options.tracePath = trace;
    for (int i = 1; i < __argc; ++i) {
        const std::string_view arg = __argv[i];
        if (arg == "--help") {
            Say(kUsage, false);
            return 0;
        }
        if (arg == "--version") {
            Say(std::string(kProgramName) + " " VANTOR_VERSION "\r\n", false);
            return 0;
        }
        if (arg == "--no-settings") {
            options.rememberSettings = false;
        } else if (arg == "--trace" && i + 1 < __argc) {
            options.tracePath = __argv[++i];
        } else if (arg.starts_with("--trace=")) {
            options.tracePath = std::string(arg.substr(8));
        } else {
            Say("vantor-radio-config: unknown argument '" + std::string(arg) +
                    "'\r\nTry 'vantor-radio-config --help'.\r\n",
                true);
            return kBadUsage;
        }
    }
    g_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    Win32Platform platform(options);
    RadioConfigApp app;
    app.InitInstance(platform);
    SetEvent(g_closed);
    return 0;
}
