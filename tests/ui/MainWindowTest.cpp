// The real Qt window, offscreen: template 102, typing rules, the busy lock, Enter and Escape, the console.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/ScopedVariable.h"
#include "app/DialogTemplate.h"
#include "ui/LogConsole.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        controls.Prepare(dialog);
        window().show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    MainWindow& window() { return controls.Window(); }
    template <class T = QWidget>
    T* control(int id) {
        return qobject_cast<T*>(window().Control(id));
    }

    // Answers the next message box with OK and remembers its text.
    void DismissNextMessageBox() {
        QTimer::singleShot(0, [this] { PollForMessageBox(); });
    }
    void PollForMessageBox() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownMessages << box->text();
            box->accept();
            return;
        }
        QTimer::singleShot(10, [this] { PollForMessageBox(); });
    }

    QtDialogControls controls;
    RadioConfigDialog dialog{controls};
    QStringList shownMessages;
};

TEST_F(MainWindowTest, EveryControlCarriesItsIdAndAccessibleName) {
    for (const ControlTemplate& entry : MainDialogTemplate().controls) {
        if (entry.id == ctl::kStatic) continue;
        QWidget* widget = window().findChild<QWidget*>(QString::number(entry.id));
        ASSERT_NE(widget, nullptr) << entry.id;
        EXPECT_EQ(widget->accessibleName().toStdString(), entry.accessibleName) << entry.id;
    }
    const std::vector<std::pair<int, const char*>> spoken{
        {1024, "DISP Set"},
        {1027, "Serial Number Write"},
        {1014, "Home Numbers Read"},
        {1011, "Serial Port"},
        {1013, "Baud"},
        {1002, "Number"},
        {1003, "Tx"},
        {1008, "PLL Rx"},
        {1000, "Home Numbers"},
        {1012, "Log"},
        {1018, "Wide Band Get"},
        {1043, "User Description Read"},
        {1028, "DTMF Delay"},
        {1037, "Min Volume Set"},
        {1025, "Clear Screen"},
    };
    for (const auto& [id, name] : spoken) EXPECT_EQ(control(id)->accessibleName(), name) << id;
}

TEST_F(MainWindowTest, CaptionsAndTitleAreExact) {
    EXPECT_EQ(window().windowTitle(), "Vantor Radio Config V1.2.4.5");
    const std::vector<std::pair<int, const char*>> captions{
        {1009, "Save As..."}, {1015, "Open..."}, {1020, "Write All"}, {1021, "Read All"},
        {1001, "Add"},        {1014, "Read"},    {1010, "Write"},     {1027, "Write"},
        {1031, "Read"},       {1042, "Write"},   {1043, "Read"},      {1025, "Clear Screen"},
        {1016, "Enable"},     {1017, "Disable"}, {1018, "Get"},       {1019, "Set"},
        {1036, "Get"},        {1037, "Set"},
    };
    for (const auto& [id, caption] : captions) {
        EXPECT_EQ(control<QAbstractButton>(id)->text(), caption) << id;
    }
    QStringList groups;
    for (QGroupBox* group : window().findChildren<QGroupBox*>()) groups << group->title();
    EXPECT_EQ(groups, (QStringList{"Home Numbers", "Wide Band", "DISP", "SQUELCH", "Radio Mfg", "DTMF Delay",
                                   "Min Volume"}));
}

// Nothing overlaps, every control lies inside the window and inside the group it belongs to, and every
// caption fits its control.
TEST_F(MainWindowTest, LayoutHasNoOverlapNoClippingAndGroupsHoldTheirControls) {
    const QRect client = window().rect();
    std::vector<std::pair<const ControlTemplate*, QWidget*>> placed;
    const auto children = window().findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), static_cast<qsizetype>(MainDialogTemplate().controls.size()));
    for (std::size_t i = 0; i < MainDialogTemplate().controls.size(); ++i) {
        placed.emplace_back(&MainDialogTemplate().controls[i], children[static_cast<qsizetype>(i)]);
    }
    for (const auto& [entry, widget] : placed) {
        EXPECT_TRUE(client.contains(widget->geometry())) << entry->caption << " " << entry->id;
    }
    for (std::size_t a = 0; a < placed.size(); ++a) {
        const auto& [ea, wa] = placed[a];
        for (std::size_t b = a + 1; b < placed.size(); ++b) {
            const auto& [eb, wb] = placed[b];
            const bool aGroup = ea->kind == ControlKind::GroupBox, bGroup = eb->kind == ControlKind::GroupBox;
            if (aGroup && !bGroup) {
                // A control is either wholly inside a group or clear of it.
                const bool inside = wa->geometry().contains(wb->geometry());
                EXPECT_TRUE(inside || !wa->geometry().intersects(wb->geometry()))
                    << ea->caption << " / " << eb->accessibleName;
            } else if (!aGroup && !bGroup) {
                EXPECT_FALSE(wa->geometry().intersects(wb->geometry()))
                    << ea->accessibleName << " overlaps " << eb->accessibleName;
            }
        }
    }
    for (const auto& [entry, widget] : placed) {
        const QString caption = QString::fromLatin1(entry->caption.data(), entry->caption.size());
        if (caption.isEmpty()) continue;
        const int text = widget->fontMetrics().horizontalAdvance(caption);
        int room = widget->width();
        if (entry->kind == ControlKind::PushButton) room -= 4;
        if (entry->kind == ControlKind::RadioButton) room -= 18;  // the indicator
        EXPECT_LE(text, room) << "caption clipped: " << entry->caption;
    }
}

TEST_F(MainWindowTest, GroupsOfTheRightColumnHoldTheirValueAndButtons) {
    const std::vector<std::pair<QString, std::vector<int>>> groups{
        {"Wide Band", {1016, 1017, 1018, 1019}},
        {"DISP", {1022, 1023, 1024}},
        {"SQUELCH", {1040, 1038, 1039}},
        {"Radio Mfg", {1032, 1033, 1034}},
        {"DTMF Delay", {1028, 1029, 1030}},
        {"Min Volume", {1035, 1036, 1037}},
        {"Home Numbers", {1000, 1009, 1015, 1020, 1021, 1002, 1003, 1004, 1006, 1008, 1001, 1014, 1010}},
    };
    for (const auto& [title, ids] : groups) {
        QGroupBox* group = nullptr;
        for (QGroupBox* candidate : window().findChildren<QGroupBox*>()) {
            if (candidate->title() == title) group = candidate;
        }
        ASSERT_NE(group, nullptr) << title.toStdString();
        for (int id : ids) EXPECT_TRUE(group->geometry().contains(control(id)->geometry())) << id;
    }
    // Get on the left, Set on the right, at the foot of each group.
    EXPECT_LT(control(1023)->x(), control(1024)->x());
    EXPECT_EQ(control(1023)->y(), control(1024)->y());
    EXPECT_GT(control(1023)->y(), control(1022)->y());
}

TEST_F(MainWindowTest, StartsWithPortOneAt19200AndNothingChosen) {
    EXPECT_EQ(control<QLineEdit>(ctl::kSerialPortEdit)->text(), "1");
    {
        // Its tooltip lists the ports found, here in an empty tree.
        const QTemporaryDir empty;
        const std::string root = empty.path().toStdString();
        ScopedVariable dev("VANTOR_DEV_ROOT", root.c_str()), sys("VANTOR_SYS_ROOT", root.c_str()),
            ports("VANTOR_PORTS_DIR", root.c_str());
        QHelpEvent help(QEvent::ToolTip, {1, 1}, control(ctl::kSerialPortEdit)->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(control(ctl::kSerialPortEdit), &help);
        EXPECT_EQ(
            QToolTip::text().toStdString(),
            "No serial port found: plug in the adapter and look again; to give it a number of your own, "
            "link its device into " +
                root + " as comN");
        QToolTip::hideText();
    }
    EXPECT_EQ(control<QLineEdit>(ctl::kBaudEdit)->text(), "19200");
    EXPECT_EQ(control<QLineEdit>(ctl::kDtmfDelayEdit)->text(), "1");
    EXPECT_EQ(control<QLineEdit>(ctl::kMinVolumeEdit)->text(), "");
    EXPECT_TRUE(control<QAbstractButton>(ctl::kWideBandEnable)->isChecked());
    EXPECT_FALSE(control<QAbstractButton>(ctl::kWideBandDisable)->isChecked());
    const std::vector<std::pair<int, QStringList>> lists{
        {1022, {"NONE", "TBD"}}, {1040, {"NONE", "SQLCH"}}, {1032, {"KENWOOD", "ICOM"}}};
    for (const auto& [id, entries] : lists) {
        auto* list = control<QComboBox>(id);
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
        EXPECT_EQ(shown, entries) << id;
        EXPECT_EQ(list->currentIndex(), -1) << id;
    }
    auto* table = control<QTreeWidget>(ctl::kHomeNumberList);
    ASSERT_EQ(table->columnCount(), 5);
    const QStringList headings{"Num", "Tx", "Rx", "PLL Tx", "PLL Rx"};
    const int widths[] = {40, 40, 40, 52, 52};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(table->headerItem()->text(c), headings[c]);
        EXPECT_EQ(table->header()->sectionSize(c), widths[c]);
    }
    ASSERT_EQ(table->topLevelItemCount(), 500);
    EXPECT_EQ(table->topLevelItem(0)->text(0), "1");
    EXPECT_EQ(table->topLevelItem(499)->text(0), "500");
    EXPECT_EQ(table->topLevelItem(499)->text(1), "");
    EXPECT_EQ(table->selectionMode(), QAbstractItemView::ExtendedSelection);  // the table editor's
}

// The table editor as an operator works it: a cell typed over and refused with Add's message, a paste
// from a spreadsheet, a cell typed over in place, undo and redo, and a Verify's marks going at a change.
TEST_F(MainWindowTest, TheTableEditsInPlaceTakesAPasteAndUndoes) {
    auto* list = control<QTreeWidget>(ctl::kHomeNumberList);
    list->setFocus();
    const auto typeInto = [&](int row, int column, const QString& text) {
        list->setCurrentItem(list->topLevelItem(row), column);
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
    };
    const auto cells = [&](int row) {
        QStringList texts;
        for (int c = 0; c < 5; ++c) texts << list->topLevelItem(row)->text(c);
        return texts;
    };

    DismissNextMessageBox();
    typeInto(0, 1, "12");  // Rx is empty: codes of two lengths
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shownMessages.isEmpty(); }, 5000));
    EXPECT_EQ(shownMessages, QStringList{"Invalid Rx/Tx value"});
    EXPECT_EQ(cells(0), (QStringList{"1", "", "", "", ""}));
    EXPECT_FALSE(dialog.TableChanged());
    window().activateWindow();  // as the system does once the message box has gone
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    list->setFocus();

    QGuiApplication::clipboard()->setText("12\t34\r\n56\t78\t\t\r\n");
    list->setCurrentItem(list->topLevelItem(9));
    QTest::keySequence(list, QKeySequence::Paste);
    EXPECT_EQ(cells(9), (QStringList{"10", "12", "34", "", ""}));
    EXPECT_EQ(cells(10), (QStringList{"11", "56", "78", "", ""}));
    EXPECT_TRUE(dialog.TableChanged());

    // Typing on a row's Number cell goes to its Tx cell.
    list->setCurrentItem(list->topLevelItem(10), 0);
    QTest::keyClick(list, Qt::Key_9);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr) << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
    QTest::keyClick(editor, Qt::Key_9);
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItem(10)->text(1) == "99"; }, 5000));

    controls.MarkRows(ctl::kHomeNumberList, {4});
    EXPECT_EQ(list->topLevelItem(4)->data(1, Qt::AccessibleDescriptionRole).toString(), "differs from the device");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(cells(10), (QStringList{"11", "56", "78", "", ""}));
    EXPECT_FALSE(list->topLevelItem(4)->data(1, Qt::AccessibleDescriptionRole).isValid());
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(cells(9), (QStringList{"10", "", "", "", ""}));
    EXPECT_FALSE(dialog.TableChanged());
    QTest::keyClick(list, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(cells(10), (QStringList{"11", "56", "78", "", ""}));
    EXPECT_EQ(shownMessages.size(), 1);
}

TEST_F(MainWindowTest, EditsRefuseWhatMayNotBeTyped) {
    struct Case {
        int id;
        QString typed;
        QString shown;
    };
    const std::vector<Case> cases{
        {ctl::kPllTxEdit, "abc 146.5", "abc 146.5"},  // before Number holds 123, which disables it
        {ctl::kNumberEdit, "1234", "123"},
        {ctl::kTxEdit, "1a2b3c4", "123"},
        {ctl::kRxEdit, "-99", "99"},
        {ctl::kSerialNumberEdit, QString(33, u'S'), QString(32, u'S')},
        {ctl::kUserDescriptionEdit, "Thirteen char", "Thirteen cha"},
        {ctl::kDtmfDelayEdit, "x5", "15"},  // appended to the 1 already there
        {ctl::kBaudEdit, "9", "192009"},
        {ctl::kMinVolumeEdit, "1.5", "15"},
    };
    for (const Case& c : cases) {
        auto* edit = control<QLineEdit>(c.id);
        edit->setFocus();
        edit->end(false);
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(edit->text(), c.shown) << c.id;
    }
}

// A character that the device's 8-bit texts cannot carry is not taken, typed or pasted (a paste that holds
// one is refused whole), rather than sent as "?".
TEST_F(MainWindowTest, EditsTakeNoCharacterBeyondEightBits) {
    for (const int id : {ctl::kSerialNumberEdit, ctl::kUserDescriptionEdit, ctl::kPllTxEdit}) {
        auto* edit = control<QLineEdit>(id);
        edit->setFocus();
        for (const char16_t typed : {u'\u20AC', u'5', u'\u4E2D', u'\u00B0'}) {
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(QChar(typed)), Qt::NoModifier);
        }
        EXPECT_EQ(controls.GetDlgItemText(id), "5\xB0") << id;
        edit->clear();
        QGuiApplication::clipboard()->setText(QString::fromUtf8("Kl\u00E9 \u20AC"));
        edit->paste();
        EXPECT_EQ(edit->text(), "") << id;
        QGuiApplication::clipboard()->setText(QString::fromUtf8("Kl\u00E9"));
        edit->paste();
        EXPECT_EQ(controls.GetDlgItemText(id), "Kl\xE9") << id;
    }
}

TEST_F(MainWindowTest, TextSetByTheProgramIsNeverCut) {
    const std::string longText(38, 'N');
    controls.SetDlgItemText(ctl::kSerialNumberEdit, longText);
    EXPECT_EQ(controls.GetDlgItemText(ctl::kSerialNumberEdit), longText);
    controls.SetDlgItemInt(ctl::kMinVolumeEdit, -16);
    EXPECT_EQ(control<QLineEdit>(ctl::kMinVolumeEdit)->text(), "-16");
    // Every byte value survives the round trip through an edit.
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    controls.SetDlgItemText(ctl::kPllTxEdit, bytes);
    EXPECT_EQ(controls.GetDlgItemText(ctl::kPllTxEdit), bytes);
    // The operator can still shorten an over-long text.
    auto* edit = control<QLineEdit>(ctl::kSerialNumberEdit);
    edit->setFocus();
    edit->end(false);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text().size(), 37);
    QTest::keyClick(edit, 'X');
    EXPECT_EQ(edit->text().size(), 37);
}

TEST_F(MainWindowTest, OnlyTheOperatorsChoiceChangesASelectionValue) {
    controls.SetCurSel(ctl::kDispList, 1);
    EXPECT_EQ(dialog.DispChoice(), 0);
    auto* list = control<QComboBox>(ctl::kDispList);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Up);  // the operator moves to the first entry
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(dialog.DispChoice(), 1);
}

// Every way of choosing a Wide Band button ends with exactly that button checked; only the program may
// leave neither checked.
TEST_F(MainWindowTest, WideBandButtonsStayExclusiveOnEveryPath) {
    auto* enable = control<QRadioButton>(ctl::kWideBandEnable);
    auto* disable = control<QRadioButton>(ctl::kWideBandDisable);
    const auto key = [](QWidget* button, Qt::Key pressed) {
        return [=] {
            button->setFocus();
            QTest::keyClick(button, pressed);
        };
    };
    const auto toggle = [](QWidget* button) {
        return [=] {
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(button);
            ASSERT_NE(spoken, nullptr);
            ASSERT_NE(spoken->actionInterface(), nullptr);
            spoken->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        };
    };
    const auto program = [this](bool enableChecked, bool disableChecked) {
        return [=, this] {
            controls.SetCheck(ctl::kWideBandEnable, enableChecked);
            controls.SetCheck(ctl::kWideBandDisable, disableChecked);
        };
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        bool enableChecked;
        bool disableChecked;
    };
    const std::vector<Step> steps{
        {"mouse on Disable", [=] { QTest::mouseClick(disable, Qt::LeftButton); }, false, true},
        {"mouse on Disable again", [=] { QTest::mouseClick(disable, Qt::LeftButton); }, false, true},
        {"Space on Enable", key(enable, Qt::Key_Space), true, false},
        {"Space on Enable again", key(enable, Qt::Key_Space), true, false},
        {"arrow down from Enable", key(enable, Qt::Key_Down), false, true},
        {"arrow up from Disable", key(disable, Qt::Key_Up), true, false},
        {"toggle Disable", toggle(disable), false, true},
        {"toggle Disable again", toggle(disable), false, true},
        {"toggle Enable", toggle(enable), true, false},
        {"program clears both", program(false, false), false, false},
        {"toggle Disable from neither", toggle(disable), false, true},
        {"program checks Enable", program(true, false), true, false},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(enable->isChecked(), step.enableChecked) << step.what;
        EXPECT_EQ(disable->isChecked(), step.disableChecked) << step.what;
        EXPECT_EQ(controls.GetCheck(ctl::kWideBandEnable), step.enableChecked) << step.what;
    }
}

// A transfer changes the table on its own thread: the list shows the change once the window's thread gets
// to it, and a row stored anew is no longer selected while one whose PLL cells change stays selected.
TEST_F(MainWindowTest, TheListShowsTheTableAsAnotherThreadChangesIt) {
    auto* table = control<QTreeWidget>(ctl::kHomeNumberList);
    table->topLevelItem(99)->setSelected(true);
    std::thread worker([&] {
        dialog.SetHomeNumberRow(500, "98", "76");
        dialog.SetPllColumns(100, "146.5", "");
    });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItem(99)->text(3) == "146.5"; }, 10000));
    EXPECT_EQ(table->topLevelItem(499)->text(1), "98");
    EXPECT_EQ(table->topLevelItem(499)->text(2), "76");
    EXPECT_TRUE(table->topLevelItem(99)->isSelected());
    std::thread([&] { dialog.SetHomeNumberRow(100, "12", "34"); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->topLevelItem(99)->text(1) == "12"; }, 10000));
    EXPECT_EQ(table->topLevelItem(99)->text(3), "");
    EXPECT_FALSE(table->topLevelItem(99)->isSelected());
    EXPECT_EQ(table->topLevelItemCount(), 500);
}

TEST_F(MainWindowTest, AClickedRowFillsTheEditsAndANumberAboveAHundredClosesThePllEdits) {
    dialog.SetHomeNumberRow(42, "123", "456");
    dialog.SetPllColumns(42, "146.5", "151.2");
    auto* table = control<QTreeWidget>(ctl::kHomeNumberList);
    QTreeWidgetItem* row = table->topLevelItem(41);
    table->scrollToItem(row);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(row).center());
    QStringList shown;
    for (int id : {ctl::kNumberEdit, ctl::kTxEdit, ctl::kRxEdit, ctl::kPllTxEdit, ctl::kPllRxEdit}) {
        shown << control<QLineEdit>(id)->text();
    }
    EXPECT_EQ(shown, (QStringList{"42", "123", "456", "146.5", "151.2"}));
    EXPECT_EQ(window().focusWidget(), control(ctl::kTxEdit));
    EXPECT_EQ(control<QLineEdit>(ctl::kTxEdit)->selectedText(), "123");
    // Replacing the row, as a device read does, leaves a new row: not selected, its PLL cells empty.
    dialog.SetHomeNumberRow(42, "12", "34");
    EXPECT_FALSE(row->isSelected());
    EXPECT_EQ(row->text(3), "");

    auto* number = control<QLineEdit>(ctl::kNumberEdit);
    const std::initializer_list<QLineEdit*> pll{control<QLineEdit>(ctl::kPllTxEdit),
                                                control<QLineEdit>(ctl::kPllRxEdit)};
    number->setFocus();
    number->selectAll();
    QTest::keyClicks(number, "150");
    for (QLineEdit* edit : pll) {
        EXPECT_FALSE(edit->isEnabled());
        EXPECT_EQ(edit->text(), "");
    }
    QTest::keyClick(number, Qt::Key_Backspace);  // 15: open again, the text not restored
    for (QLineEdit* edit : pll) {
        EXPECT_TRUE(edit->isEnabled());
        EXPECT_EQ(edit->text(), "");
    }
}

TEST_F(MainWindowTest, BusyLockDisablesTheCommandsButClearScreenStillWorks) {
    dialog.LockCommands();
    for (int id : RadioConfigDialog::BusyLockControls()) EXPECT_FALSE(control(id)->isEnabled()) << id;
    for (int id : {1002, 1003, 1004, 1006, 1008, 1011, 1012, 1013, 1016, 1017, 1022, 1025, 1026, 1028, 1032,
                   1035, 1040, 1041}) {
        EXPECT_TRUE(control(id)->isEnabled()) << id;
    }
    dialog.LogText("during a command\r\n");
    QTest::mouseClick(control(ctl::kClearScreen), Qt::LeftButton);
    EXPECT_EQ(window().Console()->Shown(), "");
    EXPECT_EQ(dialog.LogContents(), "");
    auto* baud = control<QLineEdit>(ctl::kBaudEdit);
    baud->setFocus();
    QTest::keyClick(baud, '0');
    EXPECT_EQ(baud->text(), "192000");

    dialog.UnlockCommands();
    for (int id : RadioConfigDialog::BusyLockControls()) EXPECT_TRUE(control(id)->isEnabled()) << id;
}

TEST_F(MainWindowTest, EnterValidatesFirstAndClosesOnlyWhenEveryRuleHolds) {
    auto* delay = control<QLineEdit>(ctl::kDtmfDelayEdit);
    delay->setText("0");
    auto* number = control<QLineEdit>(ctl::kNumberEdit);
    number->setFocus();
    DismissNextMessageBox();
    QTest::keyClick(number, Qt::Key_Return);
    EXPECT_EQ(shownMessages, QStringList{"Enter a whole number from 1 to 20."});
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().focusWidget(), delay);
    EXPECT_EQ(delay->selectedText(), "0");

    delay->setText("5");
    QTest::keyClick(delay, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(window().result(), ctl::kIdOk);
    EXPECT_EQ(dialog.DtmfDelay(), 5);
}

TEST_F(MainWindowTest, EnterOnAFocusedButtonClicksItInstead) {
    dialog.LogText("something\r\n");
    auto* clear = control<QPushButton>(ctl::kClearScreen);
    clear->setFocus();
    QTest::keyClick(clear, Qt::Key_Return);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(dialog.LogContents(), "");
}

TEST_F(MainWindowTest, EscapeClosesWithoutValidating) {
    control<QLineEdit>(ctl::kDtmfDelayEdit)->setText("0");
    QTest::keyClick(control(ctl::kNumberEdit), Qt::Key_Escape);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(window().result(), ctl::kIdCancel);
    EXPECT_TRUE(shownMessages.isEmpty());
}

TEST_F(MainWindowTest, CloseBoxClosesTheWindow) {
    EXPECT_TRUE(window().close());
    EXPECT_EQ(window().result(), ctl::kIdCancel);
}

TEST_F(MainWindowTest, ConsoleShowsTheLogAndFollowsLineNMinusFive) {
    LogConsole* console = window().Console();
    dialog.LogText("one\r\ntwo\r\n");
    EXPECT_EQ(console->Shown(), "one\ntwo\n");
    EXPECT_EQ(console->FirstVisibleLine(), 0);
    dialog.LogText("");
    for (int i = 0; i < 20; ++i) {
        dialog.LogText("line ");
        dialog.LogNumber(i);
        dialog.LogText("\r\n");
    }
    EXPECT_EQ(console->Shown().count(u'\n') + 1, 21);
    EXPECT_EQ(console->FirstVisibleLine(), 16);
    EXPECT_EQ(console->document()->findBlockByNumber(console->FirstVisibleLine()).text(), "line 16");
}

TEST_F(MainWindowTest, ConsoleShowsLoneLineEndBytesWithoutBreakingTheLineAndHighBytesAsLatin1) {
    dialog.LogText("A\rB\nC\r");
    dialog.LogText("\nD\xE9\xFF\x80");
    EXPECT_EQ(window().Console()->Shown(), QString::fromUtf8("A B C\nD\u00E9\u00FF\u0080"));
}

// A worker thread appends while the window's thread clears. The worker hands its lines over without
// waiting and asks for each clear, so the clear lands somewhere among its appends; before its last line
// it waits for the clears it asked for, so the log cannot end empty.
TEST_F(MainWindowTest, WorkerAppendsAndWindowClearsNeverInterleave) {
    constexpr int kRounds = 10;
    constexpr int kLinesPerRound = 100;
    std::atomic<int> clearsAsked{0};
    std::atomic<int> clearsDone{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        int line = 0;
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kLinesPerRound; ++i)
                dialog.LogText("worker line " + std::to_string(line++) + "\r\n");
            ++clearsAsked;
        }
        while (clearsDone < kRounds) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        dialog.LogText("last line\r\n");
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents();
        if (clearsDone < clearsAsked) {
            dialog.OnClearScreen();
            ++clearsDone;
        }
    }
    worker.join();
    ASSERT_TRUE(done);
    // The last line was handed over; the window shows it once it next handles its events.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.LogContents().ends_with("last line\r\n"); }, 20000));
    const std::string& log = dialog.LogContents();
    ASSERT_TRUE(log.ends_with("last line\r\n")) << log;
    // What survived the last clear is a run of whole lines in order, then the last line.
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(log.substr(start, end - start));
    }
    lines.pop_back();
    const std::string prefix = "worker line ";
    const int first = lines.empty() || !lines.front().starts_with(prefix)
                          ? 0
                          : std::stoi(lines.front().substr(prefix.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], prefix + std::to_string(first + static_cast<int>(i)));
    }
    EXPECT_EQ(window().Console()->Shown(), QString::fromLatin1(log.c_str()).replace("\r\n", "\n"));
}

TEST_F(MainWindowTest, GrabsTheWindowForPeopleToLookAt) {
    dialog.LogText("Sending 'DISP' button write request: 2\r\n'DISP' button Write Response:\r\n");
    const QString directory = QStringLiteral(VANTOR_ARTIFACTS_DIR);
    ASSERT_TRUE(QDir().mkpath(directory));
    const QPixmap shot = window().grab();
    EXPECT_EQ(shot.size(), window().size());
    ASSERT_TRUE(shot.save(directory + "/main-window.png"));
}

}  // namespace

namespace {

// The window opens at the described size, its least; grown, the table and the log take the extra room
// (the table most of the height), the settings column keeps its size and its distance from the right
// edge, and what stands beside or below the table and the log follows them.
TEST_F(MainWindowTest, GrowingTheWindowGrowsTheTableAndTheLog) {
    const QSize base = window().size();
    EXPECT_EQ(window().minimumSize(), base);
    struct Watched {
        int id;
        QRect before;
    };
    std::vector<Watched> watched;
    for (int id : {ctl::kHomeNumberList, ctl::kLogConsole, ctl::kDtmfDelayEdit, ctl::kVerify, ctl::kAdd,
                   ctl::kSerialPortEdit, ctl::kClearScreen}) {
        watched.push_back({id, window().Control(id)->geometry()});
    }
    window().resize(base + QSize(300, 400));
    QApplication::processEvents();
    ASSERT_EQ(window().size(), base + QSize(300, 400));
    const auto now = [&](int id) { return window().Control(id)->geometry(); };
    const auto was = [&](int id) {
        return std::find_if(watched.begin(), watched.end(), [id](const Watched& w) { return w.id == id; })
            ->before;
    };
    EXPECT_EQ(now(ctl::kHomeNumberList).size(), was(ctl::kHomeNumberList).size() + QSize(300, 320));
    EXPECT_EQ(now(ctl::kLogConsole).size(), was(ctl::kLogConsole).size() + QSize(300, 80));
    EXPECT_EQ(now(ctl::kLogConsole).topLeft(), was(ctl::kLogConsole).topLeft() + QPoint(0, 320));
    EXPECT_EQ(now(ctl::kDtmfDelayEdit), was(ctl::kDtmfDelayEdit).translated(300, 0));  // the settings column
    EXPECT_EQ(now(ctl::kVerify), was(ctl::kVerify).translated(300, 0));                // beside the table
    EXPECT_EQ(now(ctl::kAdd), was(ctl::kAdd).translated(0, 320));                      // below the table
    EXPECT_EQ(now(ctl::kSerialPortEdit), was(ctl::kSerialPortEdit).translated(300, 320));  // beside the log
    EXPECT_EQ(now(ctl::kClearScreen), was(ctl::kClearScreen).translated(0, 400));          // below the log
    // Back to the described size, every control is where the template puts it.
    window().resize(base);
    QApplication::processEvents();
    for (const Watched& w : watched) EXPECT_EQ(now(w.id), w.before) << w.id;
}

}  // namespace

namespace {

// Answers the question that shows next with Yes, and keeps its text.
void AnswerYes(QString* asked) {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        *asked = box->text();
        box->button(QMessageBox::Yes)->click();
        return;
    }
    QTimer::singleShot(10, [asked] { AnswerYes(asked); });
}

// A table file dropped on the window opens as Open does, after the same question; a drop that is no
// single local file, or one while a command runs, is not taken.
TEST_F(MainWindowTest, ADroppedTableFileOpensAfterTheQuestion) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/dropped.txt";
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("Channels: \r\n7 123 456 \r\n");
    }
    const auto drop = [&](QMimeData& data) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &dropped);
        QApplication::processEvents();  // the file opens once the drop has ended
        return true;
    };
    QMimeData text;
    text.setText(file);
    EXPECT_FALSE(drop(text));
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file)});
    EXPECT_FALSE(drop(two));

    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(file)});
    dialog.LockCommands();  // a command runs
    EXPECT_FALSE(drop(one));
    dialog.UnlockCommands();

    QString asked;
    QTimer::singleShot(0, [&asked] { AnswerYes(&asked); });
    EXPECT_TRUE(drop(one));
    EXPECT_EQ(asked, "This will delete your current table.\nDo you wish to continue?");
    EXPECT_EQ(dialog.Table().Row(6).tx, "123");
    EXPECT_EQ(dialog.LogContents(), QFile::encodeName(file).toStdString() + "\r\n");
}

}  // namespace

namespace {

// The keys walk the rows: each row they reach shows in the entry edits (the PLL edits close above row
// 100) and the focus stays in the table; Enter or Tab after such a move goes on to Tx as a click does,
// while Tab into the table and out again keeps the tab order.
TEST_F(MainWindowTest, TheKeysWalkTheRowsAndEnterOrTabGoesOnToTx) {
    for (int number : {1, 2, 99, 100, 101, 500}) {
        const std::string n = std::to_string(number);
        dialog.SetHomeNumberRow(number, "12", "345");
        if (number <= 100) dialog.SetPllColumns(number, n + ".5", n + ".25");
    }
    auto* table = control<QTreeWidget>(ctl::kHomeNumberList);
    const auto edits = [this] {
        QStringList shown;
        for (int id : {ctl::kNumberEdit, ctl::kTxEdit, ctl::kRxEdit, ctl::kPllTxEdit, ctl::kPllRxEdit}) {
            shown << control<QLineEdit>(id)->text();
        }
        return shown;
    };
    const auto row = [](int number, bool pll) {
        const QString n = QString::number(number);
        return pll ? QStringList{n, "12", "345", n + ".5", n + ".25"} : QStringList{n, "12", "345", "", ""};
    };
    table->setFocus();
    struct Step {
        int key;
        QStringList shown;
    };
    const Step steps[] = {
        {Qt::Key_Down, row(1, true)},  // nothing was selected: the current row, the first
        {Qt::Key_Down, row(2, true)}, {Qt::Key_End, row(500, false)}, {Qt::Key_Up, {"499", "", "", "", ""}},
        {Qt::Key_Home, row(1, true)}, {Qt::Key_Up, row(1, true)},
    };
    for (const Step& step : steps) {
        QTest::keyClick(table, static_cast<Qt::Key>(step.key));
        EXPECT_EQ(edits(), step.shown) << step.key;
        EXPECT_EQ(window().focusWidget(), table) << step.key;
    }
    QTest::keyClick(table, Qt::Key_PageDown);
    const int paged = table->indexOfTopLevelItem(table->selectedItems().value(0));
    EXPECT_GT(paged, 1);
    EXPECT_EQ(edits().value(0), QString::number(paged + 1));

    table->setCurrentItem(table->topLevelItem(98));  // row 99, chosen without a key
    EXPECT_EQ(edits().value(0), QString::number(paged + 1));
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(edits(), row(100, true));
    EXPECT_TRUE(control(ctl::kPllTxEdit)->isEnabled());
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(edits(), row(101, false));
    EXPECT_FALSE(control(ctl::kPllTxEdit)->isEnabled());

    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_EQ(window().focusWidget(), control(ctl::kTxEdit));
    EXPECT_EQ(control<QLineEdit>(ctl::kTxEdit)->selectedText(), "12");
    table->setFocus();  // no key has moved the row since: Tab keeps the tab order
    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_EQ(window().focusWidget(), control(ctl::kSaveAs));

    table->setFocus();
    QTest::keyClick(table, Qt::Key_Up);
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().focusWidget(), control(ctl::kTxEdit));
    EXPECT_EQ(edits(), row(100, true));
}

// A key move is over once the focus has left the table. Brought back by a click that leaves it there (on
// the headings, on the scroll bar), Tab keeps the tab order and Enter is the window's again, as after no
// key move.
TEST_F(MainWindowTest, AKeyMoveEndsWhenTheFocusLeavesTheTable) {
    auto* table = control<QTreeWidget>(ctl::kHomeNumberList);
    struct Case {
        const char* clicked;
        QWidget* widget;
        Qt::Key key;
    };
    // Enter last: it closes the window.
    const std::vector<Case> cases{
        {"the headings", table->header()->viewport(), Qt::Key_Tab},
        {"the scroll bar", table->verticalScrollBar(), Qt::Key_Tab},
        {"the headings", table->header()->viewport(), Qt::Key_Return},
    };
    for (const Case& c : cases) {
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Down);
        ASSERT_EQ(window().focusWidget(), table) << c.clicked;
        QTest::mouseClick(control(ctl::kRxEdit), Qt::LeftButton);
        ASSERT_EQ(window().focusWidget(), control(ctl::kRxEdit)) << c.clicked;
        QTest::mouseClick(c.widget, Qt::LeftButton, {}, QPoint(c.widget->width() / 2, 4));
        ASSERT_EQ(window().focusWidget(), table) << c.clicked;
        QTest::keyClick(table, c.key);
        if (c.key == Qt::Key_Tab) {
            EXPECT_EQ(window().focusWidget(), control(ctl::kSaveAs)) << c.clicked;
        } else {
            EXPECT_FALSE(window().isVisible()) << c.clicked;
            EXPECT_EQ(window().result(), ctl::kIdOk) << c.clicked;
        }
    }
}

}  // namespace
