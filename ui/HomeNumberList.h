#pragma once

#include <QTreeWidget>
#include <functional>

// The table of home numbers. The keys walk its rows as the mouse picks them: a key that moves the
// selection reports it and leaves the focus here; Enter or Tab after such a move goes on from the row, as
// a click does.
class HomeNumberList : public QTreeWidget {
public:
    explicit HomeNumberList(QWidget* parent);

    void OnKeyMove(std::function<void()> handler) { m_keyMove = std::move(handler); }
    void OnGoOn(std::function<void()> handler) { m_goOn = std::move(handler); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    int SelectedRow() const;

    std::function<void()> m_keyMove;
    std::function<void()> m_goOn;
    // Set once the keys have moved the selection since the table took the focus.
    bool m_movedByKey = false;
};
