#include "ui/DialogEdit.h"

#include <algorithm>

namespace {
qsizetype NonDigits(const QString& text) {
    return std::count_if(text.begin(), text.end(), [](QChar c) { return c < u'0' || c > u'9'; });
}

// The program's texts are 8-bit (Latin-1): a character beyond it would reach the device or the table file
// as "?".
qsizetype Beyond8Bit(const QString& text) {
    return std::count_if(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
}
}  // namespace

DialogEdit::DialogEdit(bool digitsOnly, QWidget* parent) : QLineEdit(parent), m_digitsOnly(digitsOnly) {
    setValidator(new TypingRule(*this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { m_lastText = text; });
}

void DialogEdit::SetProgramText(const QString& text) {
    m_settingByProgram = true;
    setText(text);
    m_settingByProgram = false;
}

// Only what the operator adds is judged, so an over-long or signed text that the program put there can
// still be shortened or edited.
QValidator::State DialogEdit::TypingRule::validate(QString& input, int&) const {
    if (m_edit.m_settingByProgram) return Acceptable;
    if (m_edit.m_digitsOnly && NonDigits(input) > NonDigits(m_edit.m_lastText)) return Invalid;
    if (Beyond8Bit(input) > Beyond8Bit(m_edit.m_lastText)) return Invalid;
    if (m_edit.m_typingLimit >= 0 && input.size() > m_edit.m_typingLimit &&
        input.size() > m_edit.m_lastText.size()) {
        return Invalid;
    }
    return Acceptable;
}
