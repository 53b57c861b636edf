#include <string>

#include "tablefile/Keys.h"
#include "tablefile/TableFile.h"

namespace tablefile {
namespace {

bool NoCodes(const Row& row) {
    return (row.tx.empty() && row.rx.empty()) || (row.tx == kNoCode && row.rx == kNoCode);
}

// A row without codes still carries its PLL values (Read All gives such rows): it is left out only when
// it has none.
bool HoldsNothing(const Row& row) { return NoCodes(row) && row.pllTx.empty() && row.pllRx.empty(); }

}  // namespace

std::string WriteTableFile(const Snapshot& snapshot) {
    std::string file;
    const auto line = [&file](std::string_view key, std::string_view value) {
        file.append(key).append(" ").append(value).append(kLineEnd);
    };
    if (!snapshot.serialNumber.empty()) line(kSerialNumberKey, snapshot.serialNumber);
    if (!snapshot.userDescription.empty()) line(kUserDescriptionKey, snapshot.userDescription);
    // Signed, although older files carry a negative edit value as its unsigned 32-bit twin: the reader
    // takes both, and a signed number is what the edit showed.
    line(kMinVolumeKey, std::to_string(snapshot.minVolume));
    line(kDtmfDelayKey, std::to_string(snapshot.dtmfDelay));
    line(kWideBandKey, snapshot.wideBandEnabled ? "1" : "0");
    line(kSquelchKey, std::to_string(snapshot.squelch));
    line(kDispKey, std::to_string(snapshot.disp));
    line(kRadioMfgKey, std::to_string(snapshot.radioMfg));
    line(kChannelsKey, "");

    for (std::size_t position = 0; position < snapshot.rows.size(); ++position) {
        const Row& row = snapshot.rows[position];
        if (HoldsNothing(row)) continue;
        // The position, not the Num cell: the reader puts the row back where the number says.
        file.append(std::to_string(position + 1)).append(" ");
        // Empty codes would leave empty fields, and the reader would take the PLL mark for a code.
        const bool noCodes = NoCodes(row);
        file.append(noCodes ? kNoCode : row.tx).append(" ").append(noCodes ? kNoCode : row.rx).append(" ");
        if (!row.pllTx.empty()) file.append(kPllTxMark).append(" ").append(row.pllTx).append(" ");
        if (!row.pllRx.empty()) file.append(kPllRxMark).append(" ").append(row.pllRx).append(" ");
        file.append(kLineEnd);
    }
    return file;
}

}  // namespace tablefile
