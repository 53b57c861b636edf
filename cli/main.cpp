// vantorctl: the window's own handlers from a command line, for scripts and production benches. Every
// byte on the wire and every log line is the window's; the log goes to standard error, values to
// standard output.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/DialogText.h"
#include "app/RadioConfigDialog.h"
#include "app/SafeFile.h"
#include "cli/ConsoleControls.h"
#include "cli/Usage.h"
#include "protocol/DeviceCommand.h"
#include "serial/ExchangeTrace.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"
#include "table/HomeNumberRules.h"
#include "tablefile/TableFile.h"

namespace {

using D = RadioConfigDialog;

enum ExitStatus { kDone = 0, kDeviceFailed = 1, kBadUsage = 2, kPortFailed = 3, kOutputFailed = 4 };

// Why standard output could not take what was printed; empty while it could.
std::string g_outputFailure;

// Everything for standard output goes through here, flushed at once, so that a failure is caught with its
// reason (the C library's buffer would only fail later, when errno says something else).
void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && g_outputFailure.empty()) {
        g_outputFailure = std::strerror(errno);
    }
}

enum class Kind { kSwitch, kList, kNumber, kText };

struct Setting {
    std::string_view name;
    Kind kind;
    int control;
    void (D::*get)();
    void (D::*set)();
    std::size_t longest = 0;  // texts: the most characters the device keeps, its request's field
};

constexpr std::array<Setting, 8> kSettings{{
    {"wide-band", Kind::kSwitch, ctl::kWideBandEnable, &D::OnWideBandGet, &D::OnWideBandSet},
    {"disp", Kind::kList, ctl::kDispList, &D::OnDispGet, &D::OnDispSet},
    {"squelch", Kind::kList, ctl::kSquelchList, &D::OnSquelchGet, &D::OnSquelchSet},
    {"radio-mfg", Kind::kList, ctl::kRadioMfgList, &D::OnRadioMfgGet, &D::OnRadioMfgSet},
    {"dtmf-delay", Kind::kNumber, ctl::kDtmfDelayEdit, &D::OnDtmfDelayGet, &D::OnDtmfDelaySet},
    {"min-volume", Kind::kNumber, ctl::kMinVolumeEdit, &D::OnMinVolumeGet, &D::OnMinVolumeSet},
    {"serial-number", Kind::kText, ctl::kSerialNumberEdit, &D::OnSerialNumberRead, &D::OnSerialNumberWrite,
     protocol::kSerialNumber.set.fieldSize},
    {"user-description", Kind::kText, ctl::kUserDescriptionEdit, &D::OnUserDescriptionRead,
     &D::OnUserDescriptionWrite, protocol::kUserDescription.set.fieldSize},
}};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vantorctl: %s\nTry 'vantorctl --help'.\n", message.c_str());
    return kBadUsage;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const Setting* FindSetting(std::string_view name) {
    for (const Setting& setting : kSettings) {
        if (setting.name == name) return &setting;
    }
    return nullptr;
}

std::string SettingNames() {
    std::string names;
    for (const Setting& setting : kSettings) names += (names.empty() ? "" : ", ") + std::string(setting.name);
    return names;
}

class Session {
public:
    Session(const std::string& port, const std::string& baud) {
        m_dialog.OnInitDialog();
        m_controls.SetDlgItemText(ctl::kSerialPortEdit, port);
        m_controls.SetDlgItemText(ctl::kBaudEdit, baud);
        m_dialog.ResetOutcome();
    }
    ~Session() { m_dialog.Link().SetTrace(nullptr); }

    int Trace(const std::string& path) {
        auto opened = ExchangeTrace::Open(path);
        if (auto* failure = std::get_if<std::string>(&opened)) return TraceFailed(path, *failure);
        m_trace = std::move(std::get<std::unique_ptr<ExchangeTrace>>(opened));
        m_tracePath = path;
        m_dialog.Link().SetTrace(m_trace.get());
        return kDone;
    }

    // The command's status, or kOutputFailed when the trace could not take every exchange.
    int CheckTrace(int status) {
        if (!m_trace || m_trace->Failure().empty()) return status;
        return TraceFailed(m_tracePath, m_trace->Failure());
    }

    int Status() const {
        switch (m_dialog.LastOutcome()) {
            case D::Outcome::kDone:
                return kDone;
            case D::Outcome::kRefused:
            case D::Outcome::kNoAnswer:
                return kDeviceFailed;
            case D::Outcome::kInputRejected:
                return kBadUsage;
            case D::Outcome::kPortFailed:
                return kPortFailed;
        }
        return kDeviceFailed;
    }

    int Get(const Setting& setting) {
        // The value is printed only when the device gave one; the log has said why otherwise.
        (m_dialog.*setting.get)();
        if (Status() != kDone) return Status();
        std::string value;
        switch (setting.kind) {
            case Kind::kSwitch:
                value = m_controls.GetCheck(ctl::kWideBandEnable) ? "enable" : "disable";
                break;
            case Kind::kList:
                value = m_controls.Entries(setting.control)
                            .at(static_cast<std::size_t>(m_controls.GetCurSel(setting.control)));
                break;
            case Kind::kNumber:
            case Kind::kText:
                value = m_controls.GetDlgItemText(setting.control);
                break;
        }
        Print(value + "\n");
        return kDone;
    }

    int Set(const Setting& setting, const std::string& value) {
        const std::string name(setting.name);
        switch (setting.kind) {
            case Kind::kSwitch:
                if (Lower(value) == "enable" || value == "1") {
                    m_dialog.OnWideBandEnable();
                } else if (Lower(value) == "disable" || value == "2") {
                    m_dialog.OnWideBandDisable();
                } else {
                    return UsageError("wide-band takes enable, disable, 1 or 2, not '" + value + "'");
                }
                break;
            case Kind::kList: {
                const std::vector<std::string> entries = m_controls.Entries(setting.control);
                int index = value == "1" ? 0 : value == "2" ? 1 : -1;
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    if (Lower(entries[i]) == Lower(value)) index = static_cast<int>(i);
                }
                if (index < 0) {
                    return UsageError(name + " takes " + entries.at(0) + ", " + entries.at(1) +
                                      ", 1 or 2, not '" + value + "'");
                }
                m_controls.SetCurSel(setting.control, index);
                break;
            }
            case Kind::kNumber:
                if (!ParseDialogInt(value))
                    return UsageError(name + " takes a whole number, not '" + value + "'");
                m_controls.SetDlgItemText(setting.control, value);
                break;
            case Kind::kText:
                if (value.size() > setting.longest) {
                    return UsageError(name + " takes at most " + std::to_string(setting.longest) +
                                      " characters, not " + std::to_string(value.size()));
                }
                m_controls.SetDlgItemText(setting.control, value);
                break;
        }
        (m_dialog.*setting.set)();
        return Status();
    }

    int Read(std::int32_t homeNumber) {
        m_controls.SetDlgItemInt(ctl::kNumberEdit, homeNumber);
        m_dialog.OnRead();
        if (Status() != kDone) return Status();
        std::string line = "tx=" + m_controls.GetDlgItemText(ctl::kTxEdit) +
                           " rx=" + m_controls.GetDlgItemText(ctl::kRxEdit);
        if (homeNumber <= table::kPllHomeNumbers) {
            line += " pll-tx=" + m_controls.GetDlgItemText(ctl::kPllTxEdit) +
                    " pll-rx=" + m_controls.GetDlgItemText(ctl::kPllRxEdit);
        }
        Print(line + "\n");
        return kDone;
    }

    int Write(std::int32_t homeNumber, const std::vector<std::string>& fields) {
        m_controls.SetDlgItemInt(ctl::kNumberEdit, homeNumber);
        const std::array<int, 4> edits{ctl::kTxEdit, ctl::kRxEdit, ctl::kPllTxEdit, ctl::kPllRxEdit};
        for (std::size_t i = 0; i < edits.size(); ++i) {
            m_controls.SetDlgItemText(edits[i], i < fields.size() ? fields[i] : "");
        }
        m_dialog.OnWrite();
        return Status();
    }

    // A file is replaced only by a whole run: a run that failed (a port that would not open, a device
    // unplugged halfway) leaves the file as it was, which may be the good table of an earlier run.
    int ReadAll(const std::string& output) {
        m_dialog.OnReadAll();
        WaitForTransfer();
        const int status = Status();
        const std::string file = tablefile::WriteTableFile(m_dialog.TableSnapshot());
        if (output.empty()) {
            Print(file);
        } else if (status != kDone) {
            std::fprintf(stderr, "vantorctl: %s left as it was: the device was not read whole\n",
                         output.c_str());
        } else if (auto failure = ReplaceFile(output, file)) {
            std::fprintf(stderr, "vantorctl: cannot write %s: %s\n", output.c_str(), failure->c_str());
            return kOutputFailed;
        }
        return status;
    }

    // The file is read once and checked whole before anything is sent: what is not a table, or a table
    // whose loading would stop partway, would overwrite the device's rows and texts with nothing.
    int WriteAll(const std::string& input) {
        auto read = ReadWholeFile(input, tablefile::kLargestTableFile);
        if (read.index() == 1) {
            return UsageError("cannot read the table file " + input + ": " + std::get<1>(read));
        }
        const std::string& bytes = std::get<0>(read);
        const tablefile::LoadResult check = tablefile::CheckTableFile(bytes);
        if (!check.Whole()) {
            std::fprintf(
                stderr,
                "vantorctl: %s cannot be loaded whole: loading stops at line %zu: %s; nothing was sent\n",
                input.c_str(), check.stopLine, check.stopReason.c_str());
            return kBadUsage;
        }
        if (!check.channels) {
            std::fprintf(stderr,
                         "vantorctl: %s is not a table file: it has no Channels: line; nothing was sent\n",
                         input.c_str());
            return kBadUsage;
        }
        m_dialog.LogString(input);
        m_dialog.LogText("\r\n");
        m_dialog.LoadTableFile(bytes);
        m_dialog.OnWriteAll();
        WaitForTransfer();
        return Status();
    }

private:
    void WaitForTransfer() {
        while (m_dialog.TransferRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    static int TraceFailed(const std::string& path, const std::string& failure) {
        std::fprintf(stderr, "vantorctl: cannot write the trace file %s: %s\n", path.c_str(),
                     failure.c_str());
        return kOutputFailed;
    }

    ConsoleControls m_controls;
    RadioConfigDialog m_dialog{m_controls};
    std::unique_ptr<ExchangeTrace> m_trace;
    std::string m_tracePath;
};

std::optional<std::int32_t> HomeNumber(const std::string& text) {
    const auto number = ParseDialogInt(text);
    if (!number || *number < 1 || *number > RadioConfigDialog::kRowCount) return std::nullopt;
    return number;
}

std::string Environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

#ifndef _WIN32
// A standard stream the caller closed keeps its number taken (by a descriptor that cannot be written), so
// that no file the program opens, the port or the trace, gets that number and receives what was meant for
// the stream. Writing to the stream still fails, as it would have.
void HoldClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}
#endif

int Run(int argc, char** argv) {
    std::string port = Environment("VANTOR_PORT", "1");
    std::string baud = Environment("VANTOR_BAUD", "19200");
    std::string trace;
    std::string output;
    bool help = false;
    bool optionsEnded = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // After "--" every word is the command's, a negative number included.
        if (optionsEnded || arg == "--") {
            if (optionsEnded) words.push_back(arg);
            optionsEnded = true;
            continue;
        }
        std::string value;
        const bool takesValue = arg == "--port" || arg == "--baud" || arg == "--trace" || arg == "-o";
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (takesValue) {
            if (i + 1 >= argc) return UsageError(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--port") {
            port = value;
        } else if (arg == "--baud") {
            baud = value;
        } else if (arg == "--trace") {
            trace = value;
        } else if (arg == "-o" || arg == "--output") {
            output = value;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return UsageError("unknown option '" + arg + "'");
        } else {
            words.push_back(arg);
        }
    }
    const std::string command = words.empty() ? "" : words[0];
    if (help || command.empty()) {
        Print(UsageOf(command));
        return help ? kDone : kBadUsage;
    }
    if (!ParsePortNumber(port)) return UsageError("--port takes a port number such as 1, not '" + port + "'");
    if (!ParseDialogInt(baud) || *ParseDialogInt(baud) <= 0)
        return UsageError("--baud takes a speed such as 19200, not '" + baud + "'");

    const auto count = words.size() - 1;
    const auto expect = [&](std::size_t least, std::size_t most) { return count >= least && count <= most; };
    if (command == "ports") {
        if (!expect(0, 0)) return UsageError("ports takes no arguments");
        Print(DescribePorts(ListPorts()) + "\n");
        return kDone;
    }
    Session session(port, baud);
    if (!trace.empty()) {
        if (const int status = session.Trace(trace); status != kDone) return status;
    }
    // Every exchange is in the trace file, or the run says it is not.
    const auto run = [&]() -> int {
        if (command == "get" || command == "set") {
            if (!expect(command == "get" ? 1 : 2, command == "get" ? 1 : 2)) {
                return UsageError(command == "get" ? "get takes one SETTING"
                                                   : "set takes a SETTING and a VALUE");
            }
            const Setting* setting = FindSetting(words[1]);
            if (!setting)
                return UsageError("unknown setting '" + words[1] + "'; the settings are " + SettingNames());
            return command == "get" ? session.Get(*setting) : session.Set(*setting, words[2]);
        }
        if (command == "read" || command == "write") {
            if (!expect(1, 1) && command == "read") return UsageError("read takes one HOME_NUMBER");
            if (!expect(3, 5) && command == "write")
                return UsageError("write takes HOME_NUMBER TX RX [PLLTX [PLLRX]]");
            const auto homeNumber = HomeNumber(words[1]);
            if (!homeNumber) {
                return UsageError("home numbers are 1 to " + std::to_string(RadioConfigDialog::kRowCount) +
                                  ", not '" + words[1] + "'");
            }
            return command == "read"
                       ? session.Read(*homeNumber)
                       : session.Write(*homeNumber, std::vector<std::string>(words.begin() + 2, words.end()));
        }
        if (command == "read-all") {
            if (!expect(0, 0)) return UsageError("read-all takes no arguments besides -o FILE");
            return session.ReadAll(output);
        }
        if (command == "write-all") {
            if (!expect(1, 1)) return UsageError("write-all takes one TABLEFILE");
            return session.WriteAll(words[1]);
        }
        return UsageError("unknown command '" + command + "'");
    };
    return session.CheckTrace(run());
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The log's lines and a table file carry their own CR LF: the C library must add no CR of its own,
    // so that both streams hold the same bytes as on any other system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#else
    HoldClosedStandardStreams();
#endif
    int status = Run(argc, argv);
    if (!g_outputFailure.empty()) {
        std::fprintf(stderr, "vantorctl: cannot write to standard output: %s\n", g_outputFailure.c_str());
        status = kOutputFailed;
    }
    // The log on standard error is output too; whether this last word reaches anybody, the status says it.
    if (std::fflush(stderr) != 0 || std::ferror(stderr)) status = kOutputFailed;
    return status;
}
