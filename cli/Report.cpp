#include "cli/Report.h"

#include <nlohmann/json.hpp>

#include "device/SafeFile.h"
#include "serial/PortPath.h"

namespace cli {

namespace {

// A device that answered and differed is told apart from one that refused or stayed silent, and a read
// that did not come whole from both.
std::string OutcomeWord(int status, const std::string& command, const std::string& verify) {
    if (status == kDeviceFailed) {
        if (verify.ends_with(" differences")) return "differs";
        if (verify == "not read whole" || command == "read-all") return "not read whole";
    }
    return StatusWord(status);
}

// The device's texts are 8-bit: each byte as its Latin-1 character, in UTF-8.
std::string Utf8(const std::string& text) {
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

const std::string& Bench() {
    static const std::string name = HostName();
    return name;
}

}  // namespace

UnitResult Finished(Session& session, const std::string& command, std::uint32_t port, int status,
                    std::chrono::steady_clock::time_point start) {
    UnitResult result;
    result.port = port;
    result.command = command;
    result.status = status;
    result.serialNumber = session.SerialNumber(status);
    result.verify = session.VerifyResult();
    result.outcome = OutcomeWord(status, command, result.verify);
    result.tableFile = session.TableFile();
    result.tableDigest = session.TableDigest();
    result.serialBefore = session.SerialBefore();
    result.backup = session.BackupPath();
    result.errors = session.Errors();
    result.retries = session.Retries();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.finished = UtcNow("%Y-%m-%dT%H:%M:%SZ");
    return result;
}

std::string StatusWord(int status) {
    switch (status) {
        case kDone:
            return "done";
        case kDeviceFailed:
            return "refused or no answer";
        case kBadUsage:
            return "bad input";
        case kPortFailed:
            return "port failed";
        case kStopped:
            return "stopped";
        default:
            return "output failed";
    }
}

// The device's 8-bit text as UTF-8, a control character as \xNN so that a unit never spreads over two
// lines, a leading character that would start a formula behind a ' so that it shows as text, and
// quoted, its quotes doubled, when it holds a comma or a quote.
std::string CsvField(const std::string& text) {
    std::string field;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        field += byte < 0x20 || byte == 0x7F ? Format("\\x%02X", byte) : Utf8(std::string(1, c));
    }
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        field.insert(0, "'");
    }
    if (field.find_first_of(",\"") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

int Record(const std::string& path, const std::vector<UnitResult>& results) {
    constexpr std::string_view kHeader =
        "utc,port,device,serial_number,command,table_file,table_sha256,outcome,verify,seconds,"
        "serial_number_before,backup,bench\n";
    std::string lines;
    for (const UnitResult& r : results) {
        const std::vector<std::string> fields{r.finished,
                                              std::to_string(r.port),
                                              PortDevicePath(std::to_string(r.port)).value_or(""),
                                              r.serialNumber,
                                              r.command,
                                              r.tableFile,
                                              r.tableDigest,
                                              r.outcome,
                                              r.verify,
                                              Format("%.1f", r.seconds),
                                              r.serialBefore,
                                              r.backup,
                                              Bench()};
        for (std::size_t i = 0; i < fields.size(); ++i) lines += (i ? "," : "") + CsvField(fields[i]);
        lines += "\n";
    }
    if (const Outcome appended = AppendToFile(path, kHeader, lines); !appended.Done()) {
        std::fprintf(stderr, "vantorctl: cannot write the record %s: %s\n", path.c_str(), appended.reason.c_str());
        return kOutputFailed;
    }
    return kDone;
}

std::string TallyText(const Tally& tally) {
    const int failed = tally.units - tally.passed;
    const double yield = tally.units ? 100.0 * tally.passed / tally.units : 0.0;
    const double perHour = tally.seconds > 0 ? tally.units * 3600.0 / tally.seconds : 0.0;
    return Format("units %d, passed %d, failed %d, yield %.1f %%, %.1f units per hour\n", tally.units,
                  tally.passed, failed, yield, perHour);
}

std::string UnitJson(const UnitResult& r) {
    nlohmann::ordered_json errorLines = nlohmann::ordered_json::array();
    for (const std::string& line : r.errorLines) errorLines.push_back(Utf8(line));
    const nlohmann::ordered_json unit = {
        {"type", "unit"},
        {"utc", r.finished},
        {"port", r.port},
        {"device", PortDevicePath(std::to_string(r.port)).value_or("")},
        {"serial_number", Utf8(r.serialNumber)},
        {"command", r.command},
        {"table_file", Utf8(r.tableFile)},
        {"table_sha256", r.tableDigest},
        {"outcome", r.outcome},
        {"verify", r.verify},
        {"seconds", std::round(r.seconds * 10) / 10},
        {"serial_number_before", Utf8(r.serialBefore)},
        {"backup", Utf8(r.backup)},
        {"bench", Utf8(Bench())},
        {"status", r.status},
        {"passed", r.status == kDone},
        {"values", Utf8(r.values)},
        {"errors", r.errors},
        {"retries", r.retries},
        {"error_lines", std::move(errorLines)},
    };
    return unit.dump() + "\n";
}

std::string TallyJson(const Tally& tally) {
    const nlohmann::ordered_json summary = {
        {"type", "summary"},
        {"units", tally.units},
        {"passed", tally.passed},
        {"failed", tally.units - tally.passed},
        {"yield", tally.units ? static_cast<double>(tally.passed) / tally.units : 0.0},
        {"units_per_hour", tally.seconds > 0 ? std::round(tally.units * 36000.0 / tally.seconds) / 10 : 0.0},
        {"seconds", std::round(tally.seconds * 10) / 10},
        {"bench", Utf8(Bench())},
    };
    return summary.dump() + "\n";
}

}  // namespace cli
