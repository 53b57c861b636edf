// The real window offscreen talking to the simulated device: what an operator does, and what they see.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/SimulatedDevice.h"
#include "ui/LogConsole.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"

namespace {

using testsupport::Bytes;

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

}  // namespace
