// The real window offscreen talking to the simulated device: what an operator does, and what they see.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/SimulatedDevice.h"
#include "ui/LogConsole.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"
#include "ui/StopSignals.h"

namespace {

using testsupport::Bytes;

// Input as the window system delivers it: queued, and handled whenever the window's thread next runs its
// events (a QTest click, by contrast, is handled at once).
using Queued = QWindowSystemInterface::AsynchronousDelivery;

void QueueClick(QWidget* target) {
    QWindow* window = target->window()->windowHandle();
    const QPointF local = target->mapTo(target->window(), QPointF(target->rect().center()));
    const QPointF global = target->mapToGlobal(QPointF(target->rect().center()));
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                                     QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton, Qt::LeftButton,
                                                     QEvent::MouseButtonRelease);
}

void QueueKey(QWidget* window, int key) {
    QWindowSystemInterface::handleKeyEvent<Queued>(window->windowHandle(), QEvent::KeyPress, key,
                                                   Qt::NoModifier);
    QWindowSystemInterface::handleKeyEvent<Queued>(window->windowHandle(), QEvent::KeyRelease, key,
                                                   Qt::NoModifier);
}

class DeviceWindowTest : public ::testing::Test {
protected:
    explicit DeviceWindowTest(std::vector<std::string> faults = {}) : device({}, faults) {}
    void SetUp() override {
        controls.Prepare(dialog);
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }
    MainWindow& window() { return controls.Window(); }
    template <class T = QWidget>
    T* control(int id) {
        return qobject_cast<T*>(window().Control(id));
    }

    testsupport::SimulatedDevice device;
    QtDialogControls controls;
    RadioConfigDialog dialog{controls};
};

TEST_F(DeviceWindowTest, ChoosingTbdAndClickingDispSetWritesItToTheDevice) {
    auto* list = control<QComboBox>(ctl::kDispList);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);  // NONE
    QTest::keyClick(list, Qt::Key_Down);  // TBD
    ASSERT_EQ(list->currentText(), "TBD");
    QTest::mouseClick(control(ctl::kDispSet), Qt::LeftButton);
    EXPECT_EQ(device.Requests(), (std::vector<Bytes>{{0x35, 0x01, 0x02}}));
    EXPECT_EQ(window().Console()->Shown(),
              "Sending 'DISP' button write request: 2\n'DISP' button Write Response:\n"
              "'DISP' button Write Successful\n");
    EXPECT_TRUE(control(ctl::kDispSet)->isEnabled());
}

TEST_F(DeviceWindowTest, GetButtonsFillTheWindowFromTheDevice) {
    QTest::mouseClick(control(ctl::kSerialNumberRead), Qt::LeftButton);
    QTest::mouseClick(control(ctl::kDtmfDelayGet), Qt::LeftButton);
    QTest::mouseClick(control(ctl::kRadioMfgGet), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(ctl::kSerialNumberEdit)->text(), "SIM00001");
    EXPECT_EQ(control<QLineEdit>(ctl::kDtmfDelayEdit)->text(), "5");
    EXPECT_EQ(control<QComboBox>(ctl::kRadioMfgList)->currentText(), "KENWOOD");
}

// A second click on the button and an Enter made while the command runs are dropped, not handled once it
// has ended (which would send the request again, or run the window's OK action from whatever control
// the focus had been pushed to). The focus is back on the button, so Space runs it again.
TEST_F(DeviceWindowTest, InputDuringACommandIsDroppedAndTheFocusComesBack) {
    controls.SetCurSel(ctl::kDispList, 1);
    const std::vector<std::pair<int, Bytes>> cases{
        {ctl::kDispSet, {0x35, 0x01, 0x02}},
        {ctl::kDispGet, {0x35, 0x02}},
        {ctl::kSerialNumberRead, {0x37, 0x02}},
    };
    for (const auto& [id, request] : cases) {
        QWidget* button = control(id);
        const std::size_t before = device.Requests().size();
        QTimer::singleShot(0, [&] {
            QueueClick(button);
            QueueKey(&window(), Qt::Key_Return);
        });
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::qWait(50);
        const auto sent = [&] {
            const std::vector<Bytes> all = device.Requests();
            return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        };
        EXPECT_EQ(sent(), std::vector<Bytes>{request}) << id;
        EXPECT_TRUE(window().isVisible()) << id;
        EXPECT_EQ(window().focusWidget(), button) << id;

        QTest::keyClick(button, Qt::Key_Space);
        EXPECT_EQ(sent(), (std::vector<Bytes>{request, request})) << id;
    }
}

// A Read All in the real window: its progress shows, the window keeps working, and both Stop and a stop
// signal end the run before its next request; the signal then closes the window without a question.
TEST_F(DeviceWindowTest, AReadAllShowsItsProgressAndEndsOnStopOrASignal) {
    for (const bool bySignal : {false, true}) {
        const StopSignals stop([this] { window().CloseWhenAllowed(); });
        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box) box->button(QMessageBox::Yes)->click();
        });
        const std::size_t before = device.Requests().size();
        QTest::mouseClick(control(ctl::kReadAll), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return device.Requests().size() >= before + 6; }, 20000));
        auto* progress = control<QProgressBar>(ctl::kTransferProgress);
        EXPECT_TRUE(progress->isVisible());
        // The worker hands its progress over without waiting: the bar shows it a moment later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return progress->value() >= 1; }, 20000));
        EXPECT_FALSE(control(ctl::kReadAll)->isEnabled());
        QTest::mouseClick(control(ctl::kClearScreen), Qt::LeftButton);  // the window still works
        if (bySignal) {
            ::raise(SIGTERM);
        } else {
            QTest::mouseClick(control(ctl::kStop), Qt::LeftButton);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.TransferRunning(); }, 20000));
        const std::string& log = dialog.LogContents();
        const auto stopped = log.rfind("Read All stopped\r\nHome numbers not read: ");
        EXPECT_NE(stopped, std::string::npos) << log;
        EXPECT_TRUE(log.ends_with(" to 500\r\n")) << log;
        EXPECT_FALSE(progress->isVisible());
        EXPECT_FALSE(control(ctl::kStop)->isEnabled());
        EXPECT_TRUE(control(ctl::kReadAll)->isEnabled());
        EXPECT_EQ(window().isVisible(), !bySignal);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // no question was asked
    }
}

class SilentDeviceWindowTest : public DeviceWindowTest {
protected:
    SilentDeviceWindowTest() : DeviceWindowTest({"37:silence"}) {}
};

// A text read waits about two seconds for a device that never answers. The window keeps painting all
// the while (its opening line shows at once) but takes no input and cannot be closed.
TEST_F(SilentDeviceWindowTest, WindowKeepsPaintingWhileATextReadWaits) {
    int paintsDuringWait = 0;
    bool closedDuringWait = true;
    QString shownDuringWait;
    class PaintCounter : public QObject {
    public:
        explicit PaintCounter(int& count) : m_count(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++m_count;
            return false;
        }

    private:
        int& m_count;
    } counter(paintsDuringWait);
    QTimer::singleShot(500, [&] {
        window().Console()->viewport()->installEventFilter(&counter);
        window().Console()->viewport()->update();
        shownDuringWait = window().Console()->Shown();
        closedDuringWait = window().close();
    });
    QTimer::singleShot(1000, [&] { window().Console()->viewport()->update(); });
    QTest::mouseClick(control(ctl::kSerialNumberRead), Qt::LeftButton);
    window().Console()->viewport()->removeEventFilter(&counter);

    EXPECT_EQ(shownDuringWait, "Sending Serial Number read request:\n");
    EXPECT_GE(paintsDuringWait, 1);
    EXPECT_FALSE(closedDuringWait);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(dialog.LogContents(),
              "Sending Serial Number read request:\r\nTimed out waiting for response\r\n");
    EXPECT_TRUE(control(ctl::kSerialNumberRead)->isEnabled());
}

// A stop signal during a command closes the window once the command has ended, as the close box would.
TEST_F(SilentDeviceWindowTest, StopSignalClosesTheWindowAfterTheRunningCommand) {
    const StopSignals stop([this] { window().CloseWhenAllowed(); });
    ASSERT_TRUE(stop.Installed());
    bool visibleAfterSignal = false;
    QTimer::singleShot(100, [&] {
        ::raise(SIGTERM);
        QTest::qWait(100);
        visibleAfterSignal = window().isVisible();
    });
    QTest::mouseClick(control(ctl::kSerialNumberRead), Qt::LeftButton);
    EXPECT_TRUE(visibleAfterSignal);
    EXPECT_TRUE(dialog.LogContents().ends_with("Timed out waiting for response\r\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window().isVisible(); }));
    EXPECT_EQ(window().result(), ctl::kIdCancel);
    EXPECT_FALSE(dialog.Link().IsOpen());
}

}  // namespace
