#include "table/HomeNumberTable.h"

#include <algorithm>

#include "table/HomeNumberRules.h"

namespace table {

const std::string& TableRow::Cell(Column column) const {
    switch (column) {
        case kNumColumn:
            return num;
        case kTxColumn:
            return tx;
        case kRxColumn:
            return rx;
        case kPllTxColumn:
            return pllTx;
        case kPllRxColumn:
        case kColumnCount:
            break;
    }
    return pllRx;
}

HomeNumberTable::HomeNumberTable(std::int32_t rows) : m_rows(static_cast<std::size_t>(std::max(rows, 0))) {
    Reset();
}

void HomeNumberTable::Reset() {
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t p = 0; p < m_rows.size(); ++p) m_rows[p] = {std::to_string(p + 1), "", "", "", ""};
    }
    if (!m_rows.empty()) Notify(0, RowCount() - 1, true);
}

void HomeNumberTable::SetRow(std::string_view homeNumberText, std::string_view tx, std::string_view rx) {
    const std::int32_t homeNumber = AtoiValue(homeNumberText);
    if (!IsRow(homeNumber)) return;
    {
        std::lock_guard lock(m_mutex);
        m_rows[static_cast<std::size_t>(homeNumber - 1)] = {std::string(homeNumberText), std::string(tx),
                                                            std::string(rx), "", ""};
    }
    Notify(homeNumber - 1, homeNumber - 1, true);
}

void HomeNumberTable::SetRow(std::int32_t homeNumber, std::string_view tx, std::string_view rx) {
    SetRow(std::to_string(homeNumber), tx, rx);
}

void HomeNumberTable::SetPll(std::int32_t homeNumber, std::string_view pllTx, std::string_view pllRx) {
    if (!IsRow(homeNumber)) return;
    {
        std::lock_guard lock(m_mutex);
        TableRow& row = m_rows[static_cast<std::size_t>(homeNumber - 1)];
        row.pllTx = pllTx;
        row.pllRx = pllRx;
    }
    Notify(homeNumber - 1, homeNumber - 1, false);
}

void HomeNumberTable::PutRows(const std::vector<std::int32_t>& positions, const std::vector<TableRow>& rows) {
    std::int32_t first = RowCount(), last = -1;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < positions.size() && i < rows.size(); ++i) {
            const std::int32_t position = positions[i];
            if (position < 0 || position >= RowCount()) continue;
            m_rows[static_cast<std::size_t>(position)] = rows[i];
            first = std::min(first, position);
            last = std::max(last, position);
        }
    }
    if (last >= 0) Notify(first, last, true);
}

TableRow HomeNumberTable::Row(std::int32_t position) const {
    std::lock_guard lock(m_mutex);
    if (position < 0 || position >= RowCount()) return {};
    return m_rows[static_cast<std::size_t>(position)];
}

std::vector<TableRow> HomeNumberTable::Rows() const {
    std::lock_guard lock(m_mutex);
    return m_rows;
}

void HomeNumberTable::Notify(std::int32_t first, std::int32_t last, bool replaced) const {
    if (m_listener) m_listener(first, last, replaced);
}

}  // namespace table
