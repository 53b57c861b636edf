#include "cli/Usage.h"

#include <array>
#include <string>

namespace {

constexpr std::string_view kHeader =
    R"(Usage: vantorctl [--port N] [--baud B] [--trace FILE] [--record FILE] [--json] COMMAND [ARGUMENT]...
Configures a radio-interface device on a serial port with the same requests as the Vantor Radio Config
window. The log of each exchange goes to standard error, values to standard output.

Options:
  --port N       the serial port: N as in the window (default $VANTOR_PORT, else 1). For write-all,
                 read-all, verify, get and set, a list and ranges (1,3,5-8; at most 256 ports,
                 none twice) run the command on every port at once: each log line begins
                 "[port N] ", a table of what became of each unit ends the run (done, differs, not
                 read whole, refused or no answer, bad input, port failed, output failed), and the
                 exit status is the worst unit's. read-all -o then needs {port} or {serial} in its
                 file name; a name another unit has already taken gets -portN.
  --baud B       the line speed (default $VANTOR_BAUD, else 19200)
  --trace FILE   append every request and reply to FILE, one exchange per line; bytes that were
                 waiting before a request, and so were dropped, stand on a line of their own
  --record FILE  append one line per unit to the CSV file FILE (a header first when it is new): UTC
                 time, port, device path, serial number, command, table file and its SHA-256,
                 outcome, verify result, seconds, the serial number before a write-all (read by
                 --backup, or with serial numbers per unit), the backup file, and this computer's
                 name. Runs recording at once never mix their lines.
  --json         for the commands that talk to units: one JSON object a line on standard output for
                 each unit ("type": "unit": the record's fields, and status, passed, values, errors,
                 retries (rows sent again), error_lines), then one for the run ("type": "summary":
                 units, passed, failed, yield, units_per_hour, seconds); the log and the summary for
                 people go to standard error
  --help         this text; after a command, that command's part of it
  --             the options end: what follows is the command and its arguments, even where it
                 begins with '-' (vantorctl -- set min-volume -1)

Commands:
)";

struct CommandHelp {
    std::string_view name;
    std::string_view text;
};

constexpr std::array<CommandHelp, 12> kCommands{{
    {"ports", R"(  ports
      Lists every port number that leads to a device: its path, what the system knows of a USB
      adapter (its latency timer too, where the driver has one), and whether you may open it.
)"},
    {"find", R"(  find [--baud B[,B...]]
      Asks every port that ports lists, all at once, at each speed (default 19200, then 9600) for its
      DISP setting, a read that changes nothing; prints each port with its path and, for one that
      answered, the speed and the device's serial number. A port another program holds is listed as
      busy and not touched. Exit status 0 when a device answered, 1 when none did.
)"},
    {"get", R"(  get SETTING
      Reads a setting from the device and prints it as the window shows it.
      SETTING: wide-band (enable, disable), disp (NONE, TBD), squelch (NONE, SQLCH),
      radio-mfg (KENWOOD, ICOM), dtmf-delay, min-volume, serial-number, user-description.
)"},
    {"set", R"(  set SETTING VALUE
      Writes a setting. Lists and wide-band take an entry name or its number (1 or 2); dtmf-delay
      takes 1 to 20, min-volume up to 15; serial-number takes up to 32 characters, user-description 12.
)"},
    {"read", R"(  read HOME_NUMBER
      Reads one home number (1 to 500) and prints tx=... rx=..., and for 1 to 100 pll-tx=... pll-rx=...
)"},
    {"write", R"(  write HOME_NUMBER TX RX [PLLTX [PLLRX]]
      Writes one home number: codes of 2 or 3 digits (FFF for none), PLL values for 1 to 100.
)"},
    {"read-all", R"(  read-all [-o TABLEFILE]
      Reads all 500 home numbers and the settings, and writes them as a table file to TABLEFILE or to
      standard output. TABLEFILE is replaced only when the whole device was read; after a failed run
      it is left as it was.
)"},
    {"write-all", R"(  write-all [--backup DIR] [--verify] TABLEFILE
      Writes a table file's home numbers and settings to the device. A file that is not a table (no
      Channels: line) or whose loading would stop before its end is refused before anything is sent.
      With --backup, the whole device is first read into DIR/SERIAL-TIME.txt (its serial number, or
      portN without one, and the UTC time), a table file the window's Open loads; nothing is written
      unless that file was saved whole. With --verify, a write that went through is then verified as
      by verify.
      --serial-number TEMPLATE [--first N] or --serial-numbers FILE (with --record R) gives each unit
      a serial number of its own in place of the file's: TEMPLATE holds {n} or {n:0W}, a counter of at
      least W digits from N (default 1), as in VX-{n:06}; FILE lists one a line, each used once. The
      series' state is kept in R.serials, taken under a lock, so benches sharing it never give one
      number twice; a unit whose Serial Number write never went out gives its number back.
)"},
    {"verify", R"(  verify TABLEFILE
      Reads the whole device back and compares it with a table file, changing neither: every home
      number's codes, the PLL values of 1 to 100, and the settings and texts write-all writes (a text
      the file leaves empty is not compared). One line per difference; exit status 0 when the device
      holds the table, 1 when it differs or could not be read whole.
)"},
    {"diff", R"(  diff A B
  diff --port N A
      Compares table file B with table file A as verify compares the device with A, B standing where
      the device does: one line per difference, then the verdict, on standard output. With --port and
      one file, it is verify. Exit status 0 when they hold the same, 1 when they differ.
)"},
    {"station", R"(  station write-all [--backup DIR] [--verify] TABLEFILE
  station verify TABLEFILE
      A production station: each port of --port (1-8) is a socket. It waits for a unit (the port is
      there and the unit answers its DISP setting), runs the command on it, prints a line
      "port N PASS|FAIL SERIAL SECONDS", records it as --record and --json do, waits until the unit
      is gone (its port unplugged, or no answer for about two seconds), and waits for the next. A
      port that will not open for another reason (in use, not permitted) is said once, until that
      changes. The table file is checked once, before any unit. Serial numbers per unit work as
      for write-all. Ctrl+C ends the station once the units being programmed have finished, with
      the summary; the exit status is the worst unit's, 0 when every one passed.
)"},
    {"convert", R"(  convert IN OUT
      Turns a table file into CSV for spreadsheets (Number, Tx, Rx, PLL Tx, PLL Rx: a header line, then
      a line for each row that holds anything), or a CSV file (IN ending in .csv) into a table file with
      the settings of a new table. CSV holds the rows alone, never the settings or the texts; ',' and
      ';' are both taken. OUT is replaced whole, or left as it was.
)"},
}};

constexpr std::string_view kFooter = R"(
Exit status: 0 done; 1 the device refused or did not answer (the log says which); 2 bad usage or
input; 3 the port could not be opened (the log says why); 4 output could not be written (standard
output or error, the trace file or TABLEFILE); 5 stopped by SIGINT, SIGTERM or SIGHUP (Ctrl+C): every
transfer ended after the exchange in flight, and each unit was summed up and recorded as stopped. A
second signal ends vantorctl at once.
)";

std::string Whole() {
    std::string text(kHeader);
    for (const CommandHelp& command : kCommands) text += command.text;
    text += kFooter;
    return text;
}

}  // namespace

std::string_view UsageOf(std::string_view command) {
    static const std::string whole = Whole();
    for (const CommandHelp& help : kCommands) {
        if (help.name == command) return help.text;
    }
    return whole;
}
