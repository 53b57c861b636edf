#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tablefile/TableFile.h"

namespace tablefile::test {

// What the reader promises for any bytes at all: a row names a number that counts at least 1 and each PLL
// call follows the row call of its number; a text stays within one line of 38 bytes; a list index is one
// the lists have; and the work stays proportional to the file, two calls per byte at most.
class CheckingTarget : public LoadTarget {
public:
    explicit CheckingTarget(std::size_t fileSize) : m_callLimit(2 * fileSize + 2) {}

    void SetSerialNumber(std::string_view text) override { CheckText(text); }
    void SetUserDescription(std::string_view text) override { CheckText(text); }
    void SetDtmfDelay(std::int32_t) override { Count(); }
    void SetMinVolume(std::int32_t) override { Count(); }
    void SetWideBand(bool) override { Count(); }
    void SelectSquelch(int index) override { Check(index == 0 || index == 1, "squelch index"); }
    void SelectDisp(int index) override { Check(index == 0 || index == 1, "disp index"); }
    void SelectRadioMfg(int index) override { Check(index >= -1 && index <= 1, "radio mfg index"); }
    void SetHomeNumberRow(std::string_view number, std::string_view, std::string_view) override {
        // Counted apart from the reader's own atoi: a '+' or no sign, then digits that are not all zeros.
        const std::string_view digits = number.substr(number.starts_with('+') ? 1 : 0);
        const std::size_t end = std::min(digits.find_first_not_of("0123456789"), digits.size());
        Check(end > 0 && digits.substr(0, end).find_first_not_of('0') != digits.npos, "row number");
        m_openRow = number;
    }
    void SetPllColumns(std::string_view number, std::string_view, std::string_view) override {
        Check(!m_openRow.empty() && number == m_openRow, "PLL call without its row");
        m_openRow.clear();
    }

    std::string m_problem;  // the first one found; empty when all was well

private:
    void CheckText(std::string_view text) {
        Check(text.size() <= 38 && text.find('\n') == text.npos, "text");
    }
    void Check(bool good, const char* problem) {
        Count();
        if (!good && m_problem.empty()) m_problem = problem;
    }
    // Ends the process at once: a reader caught in a loop would never come back to be checked.
    void Count() {
        if (++m_calls <= m_callLimit) return;
        std::fprintf(stderr, "the reader keeps calling: more calls than the file can hold\n");
        std::abort();
    }

    std::size_t m_callLimit;
    std::size_t m_calls = 0;
    std::string m_openRow;
};

}  // namespace tablefile::test
