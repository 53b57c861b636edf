#include "ui/MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <algorithm>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "serial/PortDiscovery.h"
#include "ui/DialogEdit.h"
#include "ui/HomeNumberList.h"
#include "ui/LogConsole.h"

namespace {

// Dialog units follow the font: a horizontal unit is a quarter of the average character width, a
// vertical unit an eighth of the character height.
QSizeF DialogUnitOf(const QFont& font) {
    const QFontMetricsF metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const qreal averageWidth = metrics.horizontalAdvance(alphabet) / alphabet.size();
    return {averageWidth / 4.0, metrics.height() / 8.0};
}

}  // namespace

MainWindow::MainWindow(const DialogTemplate& dialogTemplate)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    QFont font = QApplication::font();
    font.setPointSize(dialogTemplate.fontPointSize);
    setFont(font);
    m_unit = DialogUnitOf(font);

    setWindowTitle(QString::fromLatin1(dialogTemplate.caption.data(), dialogTemplate.caption.size()));
    setWindowIcon(ProgramIcon());
    // The described size is where the window opens and the least it can be.
    m_baseSize = ToPixels(0, 0, dialogTemplate.width, dialogTemplate.height).size();
    setMinimumSize(m_baseSize);
    resize(m_baseSize);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setAcceptDrops(true);

    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = CreateControl(control);
        const QRect placed = ToPixels(control.x, control.y, control.width, control.height);
        widget->setGeometry(placed);
        m_placements.push_back({widget, placed, GrowthOf(control)});
        widget->setAccessibleName(
            QString::fromLatin1(control.accessibleName.data(), control.accessibleName.size()));
        if (control.id != ctl::kStatic) {
            widget->setObjectName(QString::number(control.id));
            m_controls[control.id] = widget;
        }
        m_tabOrder.push_back(widget);
    }
    // The Serial Port tooltip lists the ports there are, looked up afresh each time it shows.
    if (QWidget* portEdit = Control(ctl::kSerialPortEdit)) portEdit->installEventFilter(this);
}

QRect MainWindow::ToPixels(int x, int y, int width, int height) const {
    const int left = qRound(x * m_unit.width());
    const int top = qRound(y * m_unit.height());
    const int right = qRound((x + width) * m_unit.width());
    const int bottom = qRound((y + height) * m_unit.height());
    return QRect(left, top, right - left, bottom - top);
}

QWidget* MainWindow::CreateControl(const ControlTemplate& control) {
    const QString caption = QString::fromLatin1(control.caption.data(), control.caption.size());
    switch (control.kind) {
        case ControlKind::GroupBox:
            return new QGroupBox(caption, this);
        case ControlKind::Label:
            return new QLabel(caption, this);
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(true);  // Enter clicks a focused button
            return button;
        }
        case ControlKind::RadioButton: {
            // One exclusive group, so that every way of choosing (mouse, Space, the arrow keys, a screen
            // reader's toggle) ends with exactly the chosen button checked. The program may still leave
            // neither checked (QtDialogControls::SetCheck lifts the exclusion to uncheck).
            auto* radio = new QRadioButton(caption, this);
            if (!m_radioGroup) m_radioGroup = new QButtonGroup(this);
            m_radioGroup->addButton(radio);
            return radio;
        }
        case ControlKind::Edit:
        case ControlKind::DigitsEdit:
            return new DialogEdit(control.kind == ControlKind::DigitsEdit, this);
        case ControlKind::DropList: {
            auto* list = new QComboBox(this);
            list->setInsertPolicy(QComboBox::InsertAtBottom);
            return list;
        }
        case ControlKind::ReportList:
            return new HomeNumberList(this);
        case ControlKind::Console:
            m_console = new LogConsole(this);
            return m_console;
        case ControlKind::Progress: {
            auto* progress = new QProgressBar(this);
            progress->setTextVisible(true);
            progress->setAlignment(Qt::AlignCenter);
            return progress;
        }
    }
    return nullptr;
}

void MainWindow::FocusFirstControl() {
    for (QWidget* widget : m_tabOrder) {
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            widget->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

QWidget* MainWindow::Control(int id) const {
    auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

int MainWindow::ControlId(const QWidget* widget) const {
    for (const auto& [id, control] : m_controls) {
        if (control == widget) return id;
    }
    return 0;
}

void MainWindow::CloseWhenAllowed() {
    constexpr int kRetryMs = 50;
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()); modal && modal != this) {
        modal->reject();
    }
    // No question: a transfer is stopped, and the window closes when its worker has ended.
    if (!isVisible() || (m_dialog ? m_dialog->CloseWithoutAsking() : close())) return;
    QTimer::singleShot(kRetryMs, this, [this] { CloseWhenAllowed(); });
}

void MainWindow::Bind(RadioConfigDialog& dialog) {
    m_dialog = &dialog;
    if (auto* list = dynamic_cast<HomeNumberList*>(Control(ctl::kHomeNumberList))) {
        const auto run = [&dialog](void (RadioConfigDialog::*handler)()) {
            return [&dialog, handler] { (dialog.*handler)(); };
        };
        list->SetEditor({
            [&dialog](int row, int column, const std::string& text) {
                dialog.OnCellEdited(row, static_cast<table::Column>(column), text);
            },
            run(&RadioConfigDialog::OnCopyRows),
            run(&RadioConfigDialog::OnPasteRows),
            run(&RadioConfigDialog::OnClearRows),
            run(&RadioConfigDialog::OnFillSame),
            run(&RadioConfigDialog::OnFillCountUp),
            run(&RadioConfigDialog::OnUndo),
            run(&RadioConfigDialog::OnRedo),
            run(&RadioConfigDialog::OnImportCsv),
            run(&RadioConfigDialog::OnExportCsv),
            [&dialog] { return dialog.CanUndo(); },
            [&dialog] { return dialog.CanRedo(); },
        });
    }
    for (const EventBinding& binding : RadioConfigDialog::EventTable()) {
        QWidget* widget = Control(binding.controlId);
        if (!widget) continue;
        auto handler = binding.handler;
        auto run = [this, handler] { (m_dialog->*handler)(); };
        switch (binding.event) {
            case DialogEvent::Click:
                if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                    connect(button, &QAbstractButton::clicked, this, run);
                }
                break;
            case DialogEvent::SelectionChange:
                // Only the operator's choice: a choice made by the program raises no event.
                if (auto* list = qobject_cast<QComboBox*>(widget))
                    connect(list, &QComboBox::activated, this, run);
                break;
            case DialogEvent::TextChange:
                if (auto* edit = qobject_cast<QLineEdit*>(widget))
                    connect(edit, &QLineEdit::textChanged, this, run);
                break;
            case DialogEvent::GainFocus:
                m_focusHandlers[widget] = handler;
                widget->installEventFilter(this);
                break;
            case DialogEvent::TableClick:
                if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
                    m_tableClickHandlers[view->viewport()] = handler;
                    view->viewport()->installEventFilter(this);
                }
                if (auto* list = dynamic_cast<HomeNumberList*>(widget)) list->OnGoOn(run);
                break;
            case DialogEvent::TableKeyMove:
                if (auto* list = dynamic_cast<HomeNumberList*>(widget)) list->OnKeyMove(run);
                break;
        }
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // An adapter may have been plugged in since the window opened, so the list is never kept.
    if (event->type() == QEvent::ToolTip && watched == Control(ctl::kSerialPortEdit)) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                           QString::fromStdString(DescribePorts(ListPorts())),
                           static_cast<QWidget*>(watched));
        return true;
    }
    if (m_dialog) {
        if (event->type() == QEvent::FocusIn) {
            auto found = m_focusHandlers.find(watched);
            if (found != m_focusHandlers.end()) (m_dialog->*found->second)();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto found = m_tableClickHandlers.find(watched);
            if (found != m_tableClickHandlers.end()) (m_dialog->*found->second)();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Enter is the OK action (which validates first) unless a push button has the focus: that button has
// taken the key already. Escape and the close box come to reject().
void MainWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain) {
        if (m_dialog) {
            m_dialog->OnOK();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::reject() {
    if (m_dialog) {
        m_dialog->OnCancel();
    } else {
        QDialog::reject();
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int dx = width() - m_baseSize.width();
    const int dy = height() - m_baseSize.height();
    for (const Placement& p : m_placements) {
        const QRect& at = p.placed;
        const PixelRect r = Grown({at.x(), at.y(), at.width(), at.height()}, p.growth, dx, dy);
        p.widget->setGeometry(r.x, r.y, r.width, r.height);
    }
}

namespace {

// The one local file a drag carries; none for anything else (text, several files, a remote address).
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return {};
    return data->urls().first().toLocalFile();
}

}  // namespace

// A file is taken while Open could be pressed: not while a command runs.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    QWidget* open = Control(ctl::kOpen);
    if (m_dialog && open && open->isEnabled() && !DroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    QWidget* open = Control(ctl::kOpen);
    const QString file = DroppedFile(event->mimeData());
    if (!m_dialog || !open || !open->isEnabled() || file.isEmpty()) return;
    event->acceptProposedAction();
    // The question comes once the drop has ended, so that the program the file came from is not kept
    // waiting for its drag to finish while the operator answers.
    QTimer::singleShot(0, this, [this, path = QFile::encodeName(file).toStdString()] {
        if (QWidget* stillOpen = Control(ctl::kOpen); stillOpen && stillOpen->isEnabled())
            m_dialog->OnDropFile(path);
    });
}
