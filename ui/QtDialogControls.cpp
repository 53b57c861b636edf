#include "ui/QtDialogControls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <utility>
#include <thread>
#include <type_traits>

#include "device/DialogText.h"
#include "app/RadioConfigDialog.h"
#include "table/HomeNumberTable.h"
#include "ui/DialogEdit.h"
#include "ui/LogConsole.h"
#include "ui/MainWindow.h"

namespace {

QString FromBytes(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

// Message texts carry "\r\n" line ends; a message box wants '\n'.
QString MessageText(std::string_view bytes) {
    return FromBytes(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// "Label (*.a)|*.a|All (*.*)|*.*||" to Qt's filters. The label is shown as given; the pattern after it
// is what Qt filters by, with "*.*" meaning every file as the operator expects.
QStringList NameFilters(std::string_view filter) {
    const QStringList parts = FromBytes(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        }
        filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

std::optional<std::string> RunFileDialog(QWidget* owner, const DialogControls::FileChoice& choice, bool save,
                                         QString& folder) {
    QFileDialog chooser(owner);
    if (!folder.isEmpty()) chooser.setDirectory(folder);
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    chooser.setNameFilters(NameFilters(choice.filter));
    chooser.setDefaultSuffix(FromBytes(choice.defaultExtension));
    chooser.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    chooser.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    chooser.selectFile(FromBytes(choice.initialName));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return std::nullopt;
    folder = QFileInfo(chooser.selectedFiles().first()).absolutePath();
    return QFile::encodeName(chooser.selectedFiles().first()).toStdString();
}

// What the operator does with mouse, keyboard, wheel, touch or pen, as the window system delivers it.
bool IsOperatorInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
        case QEvent::NativeGesture:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

// While it lives, the operator's input is dropped before it reaches any widget; the window still
// repaints, and timers and the window's other events still run. A command on the window's thread
// holds one through its waits: input held back until the command ended would otherwise reach the
// controls once they are enabled again, and a click made during the command would run it a second time.
class InputDropped : public QObject {
public:
    InputDropped() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDropped() override { QCoreApplication::instance()->removeEventFilter(this); }
    InputDropped(const InputDropped&) = delete;
    InputDropped& operator=(const InputDropped&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override { return IsOperatorInput(event->type()); }
};

}  // namespace

QtDialogControls::QtDialogControls() : m_window(std::make_unique<MainWindow>()) {}

QtDialogControls::~QtDialogControls() = default;

template <class Fn>
auto QtDialogControls::OnWindowThread(Fn&& fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (QThread::currentThread() == m_window->thread()) return fn();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            m_window.get(), [&] { fn(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            m_window.get(), [&] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

void QtDialogControls::Prepare(RadioConfigDialog& dialog) {
    m_window->Bind(dialog);
    dialog.OnInitDialog();
    m_window->FocusFirstControl();
}

int QtDialogControls::RunModal(RadioConfigDialog& dialog) {
    Prepare(dialog);
    return m_window->exec();
}

int QtDialogControls::GetDlgItemInt(int id) { return DialogIntOrZero(GetDlgItemText(id)); }

void QtDialogControls::SetDlgItemInt(int id, int value) { SetDlgItemText(id, std::to_string(value)); }

std::string QtDialogControls::GetDlgItemText(int id) {
    return OnWindowThread([&]() -> std::string {
        QWidget* widget = m_window->Control(id);
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) return ToBytes(edit->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) return ToBytes(button->text());
        if (auto* list = qobject_cast<QComboBox*>(widget)) return ToBytes(list->currentText());
        return {};
    });
}

void QtDialogControls::SetDlgItemText(int id, std::string_view text) {
    OnWindowThread([&] {
        QWidget* widget = m_window->Control(id);
        if (auto* edit = dynamic_cast<DialogEdit*>(widget)) {
            edit->SetProgramText(FromBytes(text));
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            button->setText(FromBytes(text));
        }
    });
}

void QtDialogControls::SetLimitText(int id, int limit) {
    OnWindowThread([&] {
        if (auto* edit = dynamic_cast<DialogEdit*>(m_window->Control(id))) edit->SetTypingLimit(limit);
    });
}

void QtDialogControls::SetSel(int id, int start, int end) {
    OnWindowThread([&] {
        if (auto* edit = qobject_cast<QLineEdit*>(m_window->Control(id))) {
            const int length = static_cast<int>(edit->text().size());
            const int from = std::clamp(start, 0, length);
            const int to = end < 0 ? length : std::clamp(end, from, length);
            edit->setSelection(from, to - from);
        }
    });
}

void QtDialogControls::EnableWindow(int id, bool enable) {
    OnWindowThread([&] {
        if (QWidget* widget = m_window->Control(id)) widget->setEnabled(enable);
    });
}

bool QtDialogControls::IsWindowEnabled(int id) {
    return OnWindowThread([&] {
        QWidget* widget = m_window->Control(id);
        return widget != nullptr && widget->isEnabled();
    });
}

void QtDialogControls::SetFocus(int id) {
    OnWindowThread([&] {
        if (QWidget* widget = m_window->Control(id)) widget->setFocus(Qt::OtherFocusReason);
    });
}

void QtDialogControls::ShowWindow(int id, bool show) {
    OnWindowThread([&] {
        ShowProgress();
        if (QWidget* widget = m_window->Control(id)) widget->setVisible(show);
    });
}

// A transfer moves its bar once a row, a few hundred times a second: the bar shows the latest step at
// the pace a screen can show it, and a bar about to be hidden or shown has its latest step already.
void QtDialogControls::SetProgress(int id, int value, int maximum, std::string_view text) {
    OnWindowThread([&] {
        const bool queued = m_progress.has_value();
        m_progress = PendingProgress{id, value, maximum, FromBytes(text)};
        if (!queued) QTimer::singleShot(kProgressMs, m_window.get(), [this] { ShowProgress(); });
    });
}

void QtDialogControls::ShowProgress() {
    if (!m_progress) return;
    if (auto* progress = qobject_cast<QProgressBar*>(m_window->Control(m_progress->id))) {
        progress->setRange(0, m_progress->maximum);
        progress->setValue(m_progress->value);
        progress->setFormat(m_progress->text);
    }
    m_progress.reset();
}

int QtDialogControls::GetFocus() {
    return OnWindowThread([&] { return m_window->ControlId(m_window->focusWidget()); });
}

bool QtDialogControls::GetCheck(int id) {
    return OnWindowThread([&] {
        auto* button = qobject_cast<QAbstractButton*>(m_window->Control(id));
        return button != nullptr && button->isChecked();
    });
}

void QtDialogControls::SetCheck(int id, bool checked) {
    OnWindowThread([&] {
        auto* button = qobject_cast<QAbstractButton*>(m_window->Control(id));
        if (!button) return;
        // An exclusive group will not uncheck its checked button; the program may leave none checked.
        QButtonGroup* group = button->group();
        const bool lift = group != nullptr && group->exclusive() && !checked;
        if (lift) group->setExclusive(false);
        button->setChecked(checked);
        if (lift) group->setExclusive(true);
    });
}

void QtDialogControls::AddString(int id, std::string_view entry) {
    OnWindowThread([&] {
        if (auto* list = qobject_cast<QComboBox*>(m_window->Control(id))) {
            list->addItem(FromBytes(entry));
            list->setCurrentIndex(-1);  // adding chooses nothing
        }
    });
}

int QtDialogControls::GetCurSel(int id) {
    return OnWindowThread([&] {
        auto* list = qobject_cast<QComboBox*>(m_window->Control(id));
        return list ? list->currentIndex() : -1;
    });
}

void QtDialogControls::SetCurSel(int id, int index) {
    OnWindowThread([&] {
        if (auto* list = qobject_cast<QComboBox*>(m_window->Control(id))) {
            list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
        }
    });
}

namespace {
QTreeWidget* TableOf(MainWindow& window, int id) { return qobject_cast<QTreeWidget*>(window.Control(id)); }
}  // namespace

void QtDialogControls::InsertColumn(int id, int column, std::string_view heading, int widthPixels) {
    OnWindowThread([&] {
        QTreeWidget* table = TableOf(*m_window, id);
        if (!table) return;
        QTreeWidgetItem* header = table->headerItem();
        const int count = table->columnCount();
        if (column < 0 || column > count) column = count;
        table->setColumnCount(count + 1);
        for (int c = count; c > column; --c) header->setText(c, header->text(c - 1));
        header->setText(column, FromBytes(heading));
        header->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
        table->header()->resizeSection(column, widthPixels);
    });
}

// The list holds one item a row of the table, made once; a change of the table sets the texts of the
// rows it names. A change made on another thread (a transfer's) is queued to the window's thread and
// does not wait for it; the rows are read from the table when the window gets to them.
void QtDialogControls::ShowTable(int id, table::HomeNumberTable* shown) {
    OnWindowThread([&] {
        if (m_table) m_table->SetChangeListener(nullptr);
        m_table = shown;
        m_tableId = id;
        QTreeWidget* view = TableOf(*m_window, id);
        if (!view) return;
        view->clear();
        if (!m_table) return;
        QList<QTreeWidgetItem*> items;
        for (std::int32_t p = 0; p < m_table->RowCount(); ++p) {
            auto* item = new QTreeWidgetItem();
            item->setFlags(item->flags() | Qt::ItemIsEditable);  // which cells edit is the list's to say
            items.append(item);
        }
        view->addTopLevelItems(items);
        m_table->SetChangeListener([this](std::int32_t first, std::int32_t last, bool replaced) {
            if (QThread::currentThread() == m_window->thread()) {
                ShowRows(first, last, replaced);
            } else {
                QueueRows(first, last, replaced);
            }
        });
        ShowRows(0, m_table->RowCount() - 1, true);
    });
}

void QtDialogControls::ShowRows(std::int32_t first, std::int32_t last, bool replaced) {
    QTreeWidget* view = m_table ? TableOf(*m_window, m_tableId) : nullptr;
    if (!view) return;  // unbound since the change was queued
    // The marks of a Verify hold only until the table changes.
    ShowMarks(std::exchange(m_marked, {}), false);
    for (std::int32_t p = first; p <= last; ++p) {
        QTreeWidgetItem* item = view->topLevelItem(p);
        if (!item) continue;
        if (replaced) item->setSelected(false);
        const table::TableRow row = m_table->Row(p);
        for (int column = 0; column < table::kColumnCount && column < view->columnCount(); ++column) {
            item->setText(column, FromBytes(row.Cell(static_cast<table::Column>(column))));
        }
    }
}

// A worker's Read All changes a row or two for every exchange: the rows it changed meanwhile are shown
// together, at the pace a screen can show them.
void QtDialogControls::QueueRows(std::int32_t first, std::int32_t last, bool replaced) {
    std::lock_guard lock(m_rowsMutex);
    PendingRows& pending = replaced ? m_replacedRows : m_changedRows;
    pending.first = pending.Empty() ? first : std::min(pending.first, first);
    pending.last = pending.Empty() ? last : std::max(pending.last, last);
    if (m_rowsQueued) return;
    m_rowsQueued = true;
    QMetaObject::invokeMethod(
        m_window.get(),
        [this] {
            QTimer::singleShot(kProgressMs, m_window.get(), [this] {
                PendingRows replaced, changed;
                {
                    std::lock_guard lock(m_rowsMutex);
                    std::swap(replaced, m_replacedRows);
                    std::swap(changed, m_changedRows);
                    m_rowsQueued = false;
                }
                if (!replaced.Empty()) ShowRows(replaced.first, replaced.last, true);
                if (!changed.Empty()) ShowRows(changed.first, changed.last, false);
            });
        },
        Qt::QueuedConnection);
}

int QtDialogControls::GetSelectionMark(int id) {
    return OnWindowThread([&] {
        QTreeWidget* table = TableOf(*m_window, id);
        if (!table) return -1;
        const QList<QTreeWidgetItem*> selected = table->selectedItems();
        return selected.isEmpty() ? -1 : table->indexOfTopLevelItem(selected.first());
    });
}

std::vector<int> QtDialogControls::GetSelectedRows(int id) {
    return OnWindowThread([&] {
        std::vector<int> rows;
        if (QTreeWidget* table = TableOf(*m_window, id)) {
            for (QTreeWidgetItem* item : table->selectedItems()) rows.push_back(table->indexOfTopLevelItem(item));
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    });
}

void QtDialogControls::MarkRows(int id, const std::vector<int>& positions) {
    OnWindowThread([&] {
        if (id != m_tableId) return;
        ShowMarks(std::exchange(m_marked, {}), false);
        m_marked = positions;
        ShowMarks(m_marked, true);
    });
}

void QtDialogControls::ShowMarks(const std::vector<int>& positions, bool marked) {
    QTreeWidget* view = TableOf(*m_window, m_tableId);
    if (!view) return;
    for (const int p : positions) {
        QTreeWidgetItem* item = view->topLevelItem(p);
        if (!item) continue;
        for (int column = 0; column < view->columnCount(); ++column) {
            item->setBackground(column, marked ? QBrush(QColor(255, 214, 153)) : QBrush());
            item->setData(column, Qt::AccessibleDescriptionRole,
                          marked ? QVariant(QStringLiteral("differs from the device")) : QVariant());
        }
    }
}

std::optional<std::string> QtDialogControls::GetClipboardText() {
    return OnWindowThread([&]() -> std::optional<std::string> {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        if (!data || !data->hasText()) return std::nullopt;
        return ToBytes(data->text());
    });
}

void QtDialogControls::SetClipboardText(std::string_view text) {
    OnWindowThread([&] { QGuiApplication::clipboard()->setText(FromBytes(text)); });
}

void QtDialogControls::AppendConsole(std::string_view text) {
    OnWindowThread([&] { m_window->Console()->Append(text); });
}

void QtDialogControls::ClearConsole() {
    OnWindowThread([&] { m_window->Console()->Clear(); });
}

void QtDialogControls::ScrollConsoleTo(int firstVisibleLine) {
    OnWindowThread([&] { m_window->Console()->ScrollTo(firstVisibleLine); });
}

void QtDialogControls::ShowMessage(std::string_view text, std::string_view caption) {
    OnWindowThread([&] {
        QMessageBox box(QMessageBox::NoIcon, FromBytes(caption), MessageText(text), QMessageBox::Ok,
                        m_window.get());
        box.exec();
    });
}

bool QtDialogControls::AskYesNo(std::string_view text, std::string_view caption) {
    return OnWindowThread([&] {
        QMessageBox box(QMessageBox::NoIcon, FromBytes(caption), MessageText(text),
                        QMessageBox::Yes | QMessageBox::No, m_window.get());
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    });
}

std::optional<std::string> QtDialogControls::ChooseSaveFile(const FileChoice& choice) {
    return OnWindowThread([&] { return RunFileDialog(m_window.get(), choice, true, m_folder); });
}

std::optional<std::string> QtDialogControls::ChooseOpenFile(const FileChoice& choice) {
    return OnWindowThread([&] { return RunFileDialog(m_window.get(), choice, false, m_folder); });
}

void QtDialogControls::EndDialog(int result) {
    OnWindowThread([&] { m_window->done(result); });
}

// On the window's thread the wait runs the window's events and drops the operator's input, so the window
// repaints (and the log shows every line) while a command waits for the device.
void QtDialogControls::Sleep(int ms) {
    if (ms <= 0) return;
    if (QThread::currentThread() != m_window->thread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    const InputDropped dropped;
    QEventLoop wait;
    QTimer::singleShot(ms, Qt::PreciseTimer, &wait, &QEventLoop::quit);
    wait.exec();
}

void QtDialogControls::DiscardPendingInput() {
    if (QThread::currentThread() != m_window->thread()) return;
    const InputDropped dropped;
    QCoreApplication::processEvents();
}

bool QtDialogControls::IsWindowThread() { return QThread::currentThread() == m_window->thread(); }

void QtDialogControls::RunAsUnit(const std::function<void()>& unit) {
    OnWindowThread([&] { unit(); });
}

// A worker posts a piece of log or a step of progress for every exchange: what it posts meanwhile runs
// together, at the pace a screen can show it, so the window wakes a few dozen times a second rather
// than for each piece. Queued even on the window's thread, so that all of it runs in the order posted.
void QtDialogControls::Post(std::function<void()> work) {
    {
        std::lock_guard lock(m_postedMutex);
        m_posted.push_back(std::move(work));
        if (m_postedQueued) return;
        m_postedQueued = true;
    }
    QMetaObject::invokeMethod(
        m_window.get(), [this] { QTimer::singleShot(kProgressMs, m_window.get(), [this] { RunPosted(); }); },
        Qt::QueuedConnection);
}

void QtDialogControls::RunPosted() {
    std::vector<std::function<void()>> posted;
    {
        std::lock_guard lock(m_postedMutex);
        posted.swap(m_posted);
        m_postedQueued = false;
    }
    for (const std::function<void()>& work : posted) work();
}
