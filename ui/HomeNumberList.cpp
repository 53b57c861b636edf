#include "ui/HomeNumberList.h"

#include <QHeaderView>
#include <QKeyEvent>

HomeNumberList::HomeNumberList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
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

void HomeNumberList::keyPressEvent(QKeyEvent* event) {
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
