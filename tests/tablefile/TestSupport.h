#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tablefile/TableFile.h"

namespace tablefile::test {

// The window of the usual example: two texts, every setting, and three rows of 500 in their three shapes.
inline Snapshot WorkedExample() {
    Snapshot snapshot;
    snapshot.serialNumber = "A17-B42";
    snapshot.userDescription = "Unit 12";
    snapshot.minVolume = 5;
    snapshot.dtmfDelay = 3;
    snapshot.wideBandEnabled = true;
    snapshot.squelch = 1;
    snapshot.disp = 2;
    snapshot.radioMfg = 1;
    snapshot.rows.resize(500);
    snapshot.rows[0] = {"123", "456", "", ""};
    snapshot.rows[1] = {"12", "34", "123.4", ""};
    snapshot.rows[6] = {"777", "888", "123.4", "234.5"};
    return snapshot;
}

// Every call of the reader as one short line, such as "row 07 12 34", "pll 7 45.5 " or "mfg -1".
class RecordingTarget : public LoadTarget {
public:
    void SetSerialNumber(std::string_view text) override { Add("serial", text); }
    void SetUserDescription(std::string_view text) override { Add("user", text); }
    void SetDtmfDelay(std::int32_t value) override { Add("dtmf", std::to_string(value)); }
    void SetMinVolume(std::int32_t value) override { Add("minvol", std::to_string(value)); }
    void SetWideBand(bool enable) override { Add("wide", enable ? "1" : "0"); }
    void SelectSquelch(int index) override { Add("squelch", std::to_string(index)); }
    void SelectDisp(int index) override { Add("disp", std::to_string(index)); }
    void SelectRadioMfg(int index) override { Add("mfg", std::to_string(index)); }
    void SetHomeNumberRow(std::string_view number, std::string_view tx, std::string_view rx) override {
        Add("row", number, tx, rx);
    }
    void SetPllColumns(std::string_view number, std::string_view pllTx, std::string_view pllRx) override {
        Add("pll", number, pllTx, pllRx);
    }

    std::vector<std::string> m_calls;

private:
    template <typename... Parts>
    void Add(std::string_view what, const Parts&... parts) {
        std::string call(what);
        ((call += ' ', call += parts), ...);
        m_calls.push_back(std::move(call));
        // A reader caught in a loop would fill the memory long before the test's time-out.
        if (m_calls.size() > 100000) {
            std::fprintf(stderr, "the reader keeps calling: %s\n", m_calls.back().c_str());
            std::abort();
        }
    }
};

}  // namespace tablefile::test
