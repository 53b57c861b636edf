#pragma once

#include <QLineEdit>
#include <QValidator>

// An edit that refuses typed characters beyond its typing limit, characters outside the program's 8-bit
// texts (a paste that holds one is refused whole) and, when digits only, typed characters that are not
// digits. Text set by the program is taken whole, as it is.
class DialogEdit : public QLineEdit {
public:
    DialogEdit(bool digitsOnly, QWidget* parent);

    void SetTypingLimit(int limit) { m_typingLimit = limit; }
    void SetProgramText(const QString& text);

private:
    class TypingRule : public QValidator {
    public:
        explicit TypingRule(DialogEdit& edit) : QValidator(&edit), m_edit(edit) {}
        State validate(QString& input, int& pos) const override;

    private:
        DialogEdit& m_edit;
    };

    bool m_digitsOnly;
    int m_typingLimit = -1;
    bool m_settingByProgram = false;
    QString m_lastText;  // the text before the change being validated
};
