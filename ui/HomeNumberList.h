#pragma once

#include <QTreeWidget>
#include <functional>
#include <string>

// The table of home numbers. The keys walk its rows as the mouse picks them: a key that moves the
// selection reports it and leaves the focus here; Enter or Tab after such a move goes on from the row, as
// a click does.
//
// It is also the table editor: a cell of Tx, Rx, PLL Tx or PLL Rx edits in place (a double-click, F2 or
// typing), several rows select (Shift, Ctrl, Ctrl+A), and the keys and the context menu copy, paste,
// clear, fill, undo and redo, and import and export CSV, each through the editor's handlers.
class HomeNumberList : public QTreeWidget {
public:
    explicit HomeNumberList(QWidget* parent);

    void OnKeyMove(std::function<void()> handler) { m_keyMove = std::move(handler); }
    void OnGoOn(std::function<void()> handler) { m_goOn = std::move(handler); }

    struct Editor {
        // A cell typed over: its row, its column and the text, 8-bit.
        std::function<void(int row, int column, const std::string& text)> cellEdited;
        std::function<void()> copy, paste, clear, fillSame, fillCountUp, undo, redo, importCsv, exportCsv;
        std::function<bool()> canUndo, canRedo;
    };
    void SetEditor(Editor editor) { m_editor = std::move(editor); }
    const Editor& TableEditor() const { return m_editor; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Typing or F2 on the Number cell edits the row's Tx cell.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    int SelectedRow() const;
    bool EditorKey(QKeyEvent* event);

    std::function<void()> m_keyMove;
    std::function<void()> m_goOn;
    Editor m_editor;
    // Set once the keys have moved the selection since the table took the focus.
    bool m_movedByKey = false;
};
