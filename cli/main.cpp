// vantorctl: the window's own handlers from a command line, for scripts and production benches. Every
// byte on the wire and every log line is the window's; the log goes to standard error, values to
// standard output.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
#include "serial/ExchangeTrace.h"
#include "serial/PortDiscovery.h"
#include "tablefile/TableFile.h"

namespace {

using D = RadioConfigDialog;

enum ExitStatus { kDone = 0, kDeviceFailed = 1, kBadUsage = 2, kPortFailed = 3 };

enum class Kind { kSwitch, kList, kNumber, kText };

struct Setting {
    std::string_view name;
    Kind kind;
    int control;
    void (D::*get)();
    void (D::*set)();
    std::size_t longest = 0;  // texts: the most characters the device keeps
};

constexpr std::array<Setting, 8> kSettings{{
    {"wide-band", Kind::kSwitch, ctl::kWideBandEnable, &D::OnWideBandGet, &D::OnWideBandSet},
    {"disp", Kind::kList, ctl::kDispList, &D::OnDispGet, &D::OnDispSet},
    {"squelch", Kind::kList, ctl::kSquelchList, &D::OnSquelchGet, &D::OnSquelchSet},
    {"radio-mfg", Kind::kList, ctl::kRadioMfgList, &D::OnRadioMfgGet, &D::OnRadioMfgSet},
    {"dtmf-delay", Kind::kNumber, ctl::kDtmfDelayEdit, &D::OnDtmfDelayGet, &D::OnDtmfDelaySet},
    {"min-volume", Kind::kNumber, ctl::kMinVolumeEdit, &D::OnMinVolumeGet, &D::OnMinVolumeSet},
    {"serial-number", Kind::kText, ctl::kSerialNumberEdit, &D::OnSerialNumberRead, &D::OnSerialNumberWrite,
     32},
    {"user-description", Kind::kText, ctl::kUserDescriptionEdit, &D::OnUserDescriptionRead,
     &D::OnUserDescriptionWrite, 12},
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
        if (auto* failure = std::get_if<std::string>(&opened)) {
            return UsageError("cannot write the trace file " + path + ": " + *failure);
        }
        m_trace = std::move(std::get<std::unique_ptr<ExchangeTrace>>(opened));
        m_dialog.Link().SetTrace(m_trace.get());
        return kDone;
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
        std::printf("%s\n", value.c_str());
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
        std::printf("tx=%s rx=%s", m_controls.GetDlgItemText(ctl::kTxEdit).c_str(),
                    m_controls.GetDlgItemText(ctl::kRxEdit).c_str());
        if (homeNumber <= 100) {
            std::printf(" pll-tx=%s pll-rx=%s", m_controls.GetDlgItemText(ctl::kPllTxEdit).c_str(),
                        m_controls.GetDlgItemText(ctl::kPllRxEdit).c_str());
        }
        std::printf("\n");
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

    int ReadAll(const std::string& output) {
        m_dialog.OnReadAll();
        WaitForTransfer();
        const std::string file = tablefile::WriteTableFile(m_dialog.TableSnapshot());
        if (output.empty()) {
            std::fwrite(file.data(), 1, file.size(), stdout);
        } else if (auto failure = ReplaceFile(output, file)) {
            std::fprintf(stderr, "vantorctl: cannot write %s: %s\n", output.c_str(), failure->c_str());
            return std::max(Status(), static_cast<int>(kBadUsage));
        }
        return Status();
    }

    int WriteAll(const std::string& input) {
        constexpr std::size_t kLargestTableFile = 16 * 1024 * 1024;
        if (auto bytes = ReadWholeFile(input, kLargestTableFile); bytes.index() == 1) {
            return UsageError("cannot read the table file " + input + ": " + std::get<1>(bytes));
        }
        m_controls.chosenPath = input;
        m_dialog.OnOpen();
        m_dialog.OnWriteAll();
        WaitForTransfer();
        return Status();
    }

private:
    void WaitForTransfer() {
        while (m_dialog.TransferRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ConsoleControls m_controls;
    RadioConfigDialog m_dialog{m_controls};
    std::unique_ptr<ExchangeTrace> m_trace;
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

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The log's lines and a table file carry their own CR LF: the C library must add no CR of its own,
    // so that both streams hold the same bytes as on any other system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    std::string port = Environment("VANTOR_PORT", "1");
    std::string baud = Environment("VANTOR_BAUD", "19200");
    std::string trace;
    std::string output;
    bool help = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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
        std::fputs(std::string(UsageOf(command)).c_str(), stdout);
        return help ? kDone : kBadUsage;
    }
    if (!ParseDialogInt(baud) || *ParseDialogInt(baud) <= 0)
        return UsageError("--baud takes a speed such as 19200, not '" + baud + "'");

    const auto count = words.size() - 1;
    const auto expect = [&](std::size_t least, std::size_t most) { return count >= least && count <= most; };
    if (command == "ports") {
        if (!expect(0, 0)) return UsageError("ports takes no arguments");
        std::printf("%s\n", DescribePorts(ListPorts()).c_str());
        return kDone;
    }
    Session session(port, baud);
    if (!trace.empty()) {
        if (const int status = session.Trace(trace); status != kDone) return status;
    }
    if (command == "get" || command == "set") {
        if (!expect(command == "get" ? 1 : 2, command == "get" ? 1 : 2)) {
            return UsageError(command == "get" ? "get takes one SETTING" : "set takes a SETTING and a VALUE");
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
        if (!homeNumber) return UsageError("home numbers are 1 to 500, not '" + words[1] + "'");
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
}
