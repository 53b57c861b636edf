#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The table file: the window's settings and the home number table as plain 8-bit text with CR LF line
// ends. The writer turns a snapshot of the window into the file's bytes; the reader turns bytes back
// into the window's operations, in file order, through LoadTarget. Pure text work: no files, no window.
namespace tablefile {

// A table file of 500 full rows is some 30 KB; anything far larger is not one.
inline constexpr std::size_t kLargestTableFile = 16 * 1024 * 1024;

// One row of the home number table, by position (row 0 is home number 1).
struct Row {
    std::string tx;
    std::string rx;
    std::string pllTx;
    std::string pllRx;
};

// What Save As reads from the window.
struct Snapshot {
    std::string serialNumber;
    std::string userDescription;
    std::int32_t minVolume = 0;  // the edits read as signed integers (empty or not a number: 0)
    std::int32_t dtmfDelay = 0;
    bool wideBandEnabled = false;  // the Enable radio button is checked
    std::int32_t squelch = 0;      // selection values: 0 none, 1 first entry, 2 second entry
    std::int32_t disp = 0;
    std::int32_t radioMfg = 0;
    std::vector<Row> rows;
};

// The whole file, CR LF after every line.
std::string WriteTableFile(const Snapshot& snapshot);

// What loading does to the window, called in file order. A list index of -1 means no entry chosen.
class LoadTarget {
public:
    virtual ~LoadTarget() = default;
    virtual void SetSerialNumber(std::string_view text) = 0;
    virtual void SetUserDescription(std::string_view text) = 0;
    virtual void SetDtmfDelay(std::int32_t value) = 0;
    virtual void SetMinVolume(std::int32_t value) = 0;
    virtual void SetWideBand(bool enable) = 0;
    virtual void SelectSquelch(int index) = 0;
    virtual void SelectDisp(int index) = 0;
    virtual void SelectRadioMfg(int index) = 0;
    // The row the number text's atoi value names; the text itself is the row's Num cell.
    virtual void SetHomeNumberRow(std::string_view number, std::string_view tx, std::string_view rx) = 0;
    virtual void SetPllColumns(std::string_view number, std::string_view pllTx, std::string_view pllRx) = 0;
};

// How a loading went.
struct LoadResult {
    bool channels = false;  // a "Channels:" key was read: the file has the table's part
    // Where the loading stopped before the end of the file, and what it found there (such as "no number
    // after DTMFDelay:" or "MHz is not a home number"); line 0 when it read the whole file. Lines count
    // from 1.
    std::size_t stopLine = 0;
    std::string stopReason;
    bool Whole() const { return stopLine == 0; }
};

// Applies a file's contents to the target, in file order, up to the first value it cannot read: a key
// without its number, or a token among the rows that is not a home number.
LoadResult ReadTableFile(std::string_view bytes, LoadTarget& target);

// What loading the file would find, without applying anything.
LoadResult CheckTableFile(std::string_view bytes);

}  // namespace tablefile
