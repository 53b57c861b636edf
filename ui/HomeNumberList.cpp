#include "ui/HomeNumberList.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTimer>

#include "table/HomeNumberRules.h"

namespace {

// The editor of a cell: digits only and at most three of them for a code, a number for a PLL value. What
// is typed goes to the table editor's handler, which stores it or says why not; the cell shows what the
// table then holds.
class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(HomeNumberList* list) : QStyledItemDelegate(list), m_list(list) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int column = index.column();
        const bool pll = column == 3 || column == 4;
        if (column < 1 || column > 4 || (pll && index.row() >= table::kPllHomeNumbers)) return nullptr;
        auto* editor = qobject_cast<QLineEdit*>(QStyledItemDelegate::createEditor(parent, option, index));
        if (!editor) return nullptr;
        if (pll) {
            editor->setMaxLength(8);
            editor->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9.]*")), editor));
        } else {
            editor->setMaxLength(3);
            editor->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), editor));
        }
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (!line || !m_list->TableEditor().cellEdited) return;
        const int row = index.row(), column = index.column();
        const std::string text = line->text().toLatin1().toStdString();
        // After the editor has closed: a refusal's message box must not run inside the commit.
        QTimer::singleShot(0, m_list, [list = m_list, row, column, text] {
            if (list->TableEditor().cellEdited) list->TableEditor().cellEdited(row, column, text);
        });
    }

private:
    HomeNumberList* m_list;
};

}  // namespace

HomeNumberList::HomeNumberList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setItemDelegate(new CellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

int HomeNumberList::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

bool HomeNumberList::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (index.isValid() && index.column() == 0 && (trigger == AnyKeyPressed || trigger == EditKeyPressed)) {
        const QModelIndex tx = index.siblingAtColumn(1);
        setCurrentIndex(tx);
        return QTreeWidget::edit(tx, trigger, event);
    }
    return QTreeWidget::edit(index, trigger, event);
}

// The table editor's keys; false for any other key.
bool HomeNumberList::EditorKey(QKeyEvent* event) {
    const auto run = [](const std::function<void()>& handler) {
        if (handler) handler();
        return true;
    };
    if (event->matches(QKeySequence::Copy)) return run(m_editor.copy);
    if (event->matches(QKeySequence::Paste)) return run(m_editor.paste);
    if (event->matches(QKeySequence::Undo)) return run(m_editor.undo);
    const bool ctrlY = event->key() == Qt::Key_Y && event->modifiers() == Qt::ControlModifier;
    const bool ctrlShiftZ = event->key() == Qt::Key_Z && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
    if (event->matches(QKeySequence::Redo) || ctrlY || ctrlShiftZ) return run(m_editor.redo);
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) return run(m_editor.clear);
    return false;
}

void HomeNumberList::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const auto add = [&](const QString& text, const std::function<void()>& handler, bool enabled = true) {
        QAction* action = menu.addAction(text);
        action->setEnabled(enabled && handler);
        if (handler) connect(action, &QAction::triggered, this, [handler] { handler(); });
    };
    const bool rows = !selectedItems().isEmpty();
    add(QStringLiteral("Undo\tCtrl+Z"), m_editor.undo, m_editor.canUndo && m_editor.canUndo());
    add(QStringLiteral("Redo\tCtrl+Y"), m_editor.redo, m_editor.canRedo && m_editor.canRedo());
    menu.addSeparator();
    add(QStringLiteral("Copy\tCtrl+C"), m_editor.copy, rows);
    add(QStringLiteral("Paste\tCtrl+V"), m_editor.paste, rows);
    add(QStringLiteral("Clear\tDelete"), m_editor.clear, rows);
    add(QStringLiteral("Fill with the same codes"), m_editor.fillSame, rows);
    add(QStringLiteral("Fill counting up"), m_editor.fillCountUp, rows);
    menu.addSeparator();
    add(QStringLiteral("Import CSV..."), m_editor.importCsv);
    add(QStringLiteral("Export CSV..."), m_editor.exportCsv);
    menu.exec(event->globalPos());
}

void HomeNumberList::keyPressEvent(QKeyEvent* event) {
    if (state() != EditingState && EditorKey(event)) return;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && plain && m_movedByKey && m_goOn) {
        m_movedByKey = false;
        m_goOn();
        return;
    }
    const int before = SelectedRow();
    // The view keeps a current row while none is selected (row 1 once it has had the focus). The first
    // step then picks that row rather than stepping past it; Home and End go where they say.
    const bool step = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down ||
                      event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown;
    if (before < 0 && step && currentIndex().isValid()) {
        selectionModel()->setCurrentIndex(currentIndex(),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        QTreeWidget::keyPressEvent(event);
    }
    const int after = SelectedRow();
    if (after != before && after >= 0) {
        m_movedByKey = true;
        if (m_keyMove) m_keyMove();
    }
}

void HomeNumberList::focusInEvent(QFocusEvent* event) {
    m_movedByKey = false;
    QTreeWidget::focusInEvent(event);
}

bool HomeNumberList::focusNextPrevChild(bool next) {
    if (next && m_movedByKey && m_goOn) {
        m_movedByKey = false;
        m_goOn();
        return true;
    }
    return QTreeWidget::focusNextPrevChild(next);
}
