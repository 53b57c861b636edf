#pragma once

// One unit: vantorctl's commands on one device, through its own device session and console.
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "cli/Output.h"
#include "device/DeviceSession.h"
#include "device/DeviceSettings.h"
#include "device/DialogText.h"
#include "device/SafeFile.h"
#include "device/SerialNumbers.h"
#include "device/Sha256.h"
#include "protocol/DeviceCommand.h"
#include "serial/ExchangeTrace.h"
#include "table/HomeNumberRules.h"
#include "table/HomeNumberTable.h"
#include "tablefile/TableFile.h"

namespace cli {

struct Setting {
    std::string_view name;
    const protocol::DeviceCommand& command;
};

inline const std::array<Setting, 8> kSettings{{
    {"wide-band", protocol::kWideBand},
    {"disp", protocol::kDisp},
    {"squelch", protocol::kSquelch},
    {"radio-mfg", protocol::kRadioMfg},
    {"dtmf-delay", protocol::kDtmfDelay},
    {"min-volume", protocol::kMinVolume},
    {"serial-number", protocol::kSerialNumber},
    {"user-description", protocol::kUserDescription},
}};

std::string Lower(std::string text);

const Setting* FindSetting(std::string_view name);

std::string SettingNames();

int StatusOf(const Outcome& outcome);

// A text as part of a file name: every character a name may not safely hold becomes '_'; the fallback
// when nothing is left, or before a leading dot.
std::string FileNamePart(const std::string& text, const std::string& fallback);

// The output files the units of one run were given: no unit's file may replace another's, even where
// their serial numbers clean up to one name.
class OutputNames {
public:
    // `wanted` when no unit of the run has it yet, else the name with "-portN" (and a count, should that
    // be taken too) before its extension.
    std::string Claim(const std::string& wanted, const std::string& port);

private:
    std::mutex m_mutex;
    std::set<std::string> m_taken;
};

class Session {
public:
    Session(Console& console, const std::string& port, std::int32_t baud)
        : m_console(console),
          m_log(console.Log()),
          m_port(port),
          m_session(
              m_log, [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0))); },
              [port, baud] {
                  return DeviceSession::PortChoice{port, baud};
              }) {}
    ~Session() { m_session.Link().SetTrace(nullptr); }
    // The names that the other units of the run have taken, for read-all -o.
    void ShareOutputNames(OutputNames* names) { m_outputNames = names; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Trace(const std::string& path);

    // The command's status, or kOutputFailed when the trace could not take every exchange.
    int CheckTrace(int status);

    // The value is printed only when the device gave one; the log has said why otherwise.
    int Get(const Setting& setting);

    int Set(const Setting& setting, const std::string& value);

    int Read(std::int32_t homeNumber);

    // The window's Write checks, its message boxes said on standard error.
    int Write(std::int32_t homeNumber, const std::vector<std::string>& fields);

    // A file is replaced only by a whole run: a run that failed (a port that would not open, a device
    // unplugged halfway) leaves the file as it was, which may be the good table of an earlier run. The
    // file's name may hold {port} and {serial}, for the port and the serial number read.
    int ReadAll(const std::string& outputName);

    // The file is read once and checked whole before anything is sent: what is not a table, or a table
    // whose loading would stop partway, would overwrite the device's rows and texts with nothing.
    // With serial numbers, the unit takes its own before anything is written, in place of the table's
    // (the one it held is read first, by the backup or on its own); one whose Serial Number write never
    // went out is given back for the next unit.
    int WriteAll(const std::string& input, bool verify, const std::string& backupDir,
                 SerialNumbers* serialNumbers = nullptr);

    int Verify(const std::string& input);

    // The table file as write-all (`forWrite`) or verify would take it, checked; nothing is sent.
    int CheckTableFile(const std::string& input, bool forWrite);

    // The serial number the device gave or was given in this run; asked for when there is none yet and
    // the command reached the device (a refused input, a port that did not open or a stop leaves it alone).
    std::string SerialNumber(int status);
    // What the latest verify found; empty when there was none.
    const std::string& VerifyResult() const { return m_verifyResult; }
    // What a write-all's backup found, and where it went; empty without one.
    const std::string& SerialBefore() const { return m_serialBefore; }
    const std::string& BackupPath() const { return m_backupPath; }
    // The failures the unit's exchanges met, as the device session counted them.
    int Errors() const { return m_session.Errors(); }
    int Retries() const { return m_session.Retries(); }
    // The table file the command read or wrote, and its SHA-256; empty when none.
    const std::string& TableFile() const { return m_tableFile; }
    const std::string& TableDigest() const { return m_tableDigest; }

private:
    // The whole device into a table and settings, its progress shown on a terminal.
    int ReadDevice(table::HomeNumberTable& table, SettingValues& settings);

    // A transfer that a stop signal ended is stopped, whatever it had done by then.
    static int TransferStatus(const Outcome& outcome) {
        return TransfersStop() ? kStopped : StatusOf(outcome);
    }

    int Verified(const table::HomeNumberTable& table, SettingValues& settings);

    static std::string Substituted(std::string text, std::string_view placeholder, const std::string& value);

    // The whole device into DIR/<serial number or port>-<UTC time>.txt, a table file Open loads. Nothing
    // may be written to the device unless this has been done.
    int Backup(const std::string& dir);

    // The serial number with every character a file name may not safely hold made '_', else the port;
    // then the UTC time.
    std::string BackupName(const std::string& serialNumber) const;

    // A table file into a table and settings, its path logged as Open logs it; a usage error for a file
    // that cannot be read, is not a table or would not load whole.
    int LoadTable(const std::string& input, table::HomeNumberTable& table, SettingValues& settings);

    // Everything the run would send, checked before the first request: a table that cannot go whole
    // would otherwise be refused halfway, after its rows had changed the device.
    int CheckWritable(const std::string& input, const table::HomeNumberTable& table, SettingsPanel& settings);

    // A value as the window shows it: a list's entry, Enable or Disable, or the number.
    static std::string ValueText(const protocol::DeviceCommand& command, std::int32_t value);

    int TraceFailed(const std::string& path, const std::string& failure);

    Console& m_console;
    LogSink& m_log;
    std::string m_port;
    std::string m_serialNumber;
    std::string m_verifyResult;
    std::string m_tableFile;     // the table file read or written, for the record
    std::string m_tableDigest;   // its SHA-256
    std::string m_serialBefore;  // the serial number the backup read, before the write
    std::string m_backupPath;
    OutputNames* m_outputNames = nullptr;
    DeviceSession m_session;
    std::unique_ptr<ExchangeTrace> m_trace;
    std::string m_tracePath;
};

}  // namespace cli
