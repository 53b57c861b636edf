// What the window keeps between runs: the real window offscreen, its settings file in a folder of the test's.
#include <gtest/gtest.h>

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogControls.h"
#include "ui/RememberedSettings.h"

namespace {

// One run of the window as far as its settings go: what was kept comes back as it opens, and Save keeps
// what it holds as it closes.
struct WindowRun {
    explicit WindowRun(bool remember = true) : settings(remember) {
        controls.Prepare(dialog);
        settings.Restore(controls);
    }
    std::string Edit(int id) { return controls.GetDlgItemText(id); }
    MainWindow& Window() { return controls.Window(); }
    void Save() { settings.Save(controls); }

    QtDialogControls controls;
    RadioConfigDialog dialog{controls};
    RememberedSettings settings;
};

class RememberedSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
        ASSERT_TRUE(QDir().mkpath(config.path() + "/vantor-radio-config"));
    }

    // The settings file as something else left it. QSettings reads a file it has read before again only
    // when its size or time has changed, so each file written here has a time of its own.
    void Keep(const QByteArray& contents) {
        static int written = 0;
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(out.write(contents), contents.size());
        ASSERT_TRUE(out.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(++written),
                                    QFileDevice::FileModificationTime));
    }

    // The settings file, the value of the window's geometry (Qt's own bytes) left out.
    std::string KeptText() const {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) return "(no file)";
        QList<QByteArray> lines = in.readAll().split('\n');
        for (QByteArray& line : lines) {
            if (line.startsWith("geometry=")) line = "geometry=...";
        }
        return lines.join('\n').toStdString();
    }

    QTemporaryDir config;
    const QString file = config.path() + "/vantor-radio-config/vantor-radio-config.ini";
};

// Serial Port, Baud, the window's size and the last folder come back in the next run; a damaged or
// missing settings file leaves the start values; disabled, nothing is kept.
TEST_F(RememberedSettingsTest, KeptRestoredAndPassedOverWhenDamaged) {
    {  // none kept yet
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), "1");
        EXPECT_EQ(run.Edit(ctl::kBaudEdit), "19200");
        run.controls.SetDlgItemText(ctl::kSerialPortEdit, "7");
        run.controls.SetDlgItemText(ctl::kBaudEdit, "9600");
        run.controls.SetFolder(config.path());
        run.Window().resize(run.Window().size() + QSize(200, 100));
        run.Save();
    }
    {
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), "7");
        EXPECT_EQ(run.Edit(ctl::kBaudEdit), "9600");
        EXPECT_EQ(run.controls.Folder().toStdString(), config.path().toStdString());
        EXPECT_EQ(run.Window().size(), run.Window().minimumSize() + QSize(200, 100));
    }
    {  // disabled: the start values, and nothing written
        WindowRun run(false);
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), "1");
        run.controls.SetDlgItemText(ctl::kSerialPortEdit, "3");
        run.Save();
    }
    {
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), "7");
    }
    for (const QByteArray& damaged : {QByteArray("port=COM7\nbaud=-5\ngeometry=@ByteArray(\\x1\\x2)\n"),
                                      QByteArray("\x01\xff[[[\n=\n", 9)}) {
        Keep(damaged);
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), "1");
        EXPECT_EQ(run.Edit(ctl::kBaudEdit), "19200");
        EXPECT_EQ(run.Window().size(), run.Window().minimumSize());
    }
}

// A kept Serial Port or Baud comes back only as the edit could hold it and the port could be opened with
// it: the digits the edit takes, a port number of 1 to 2^32 - 1 (as the link reads it), a speed of 1 to
// 2^31 - 1 (as the window reads the edit). Anything else leaves the start value.
TEST_F(RememberedSettingsTest, APortOrBaudTheEditsCouldNotHoldIsPassedOver) {
    struct Case {
        QByteArray port;  // as written in the file
        QByteArray baud;
        std::string shownPort;
        std::string shownBaud;
    };
    const std::vector<Case> cases{
        {"7", "9600", "7", "9600"},
        {"1000000000", "1000000000", "1000000000", "1000000000"},  // ten digits
        {"4294967295", "2147483647", "4294967295", "2147483647"},  // the largest
        {"4294967296", "2147483648", "1", "19200"},                // one more
        {"99999999999", "99999999999", "1", "19200"},
        {"007", "0019200", "007", "0019200"},  // the edit takes them, and they name port 7 at 19200
        {"0", "0", "1", "19200"},
        {"-1", "-1", "1", "19200"},
        {"+7", "+9600", "1", "19200"},
        {"\" 7\"", "\"9600 \"", "1", "19200"},
        {"COM7", "fast", "1", "19200"},
        {"7.0", "9600.0", "1", "19200"},
        {"\"\"", "\"\"", "1", "19200"},
    };
    for (const Case& c : cases) {
        Keep("[General]\nport=" + c.port + "\nbaud=" + c.baud + "\n");
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), c.shownPort) << c.port.toStdString();
        EXPECT_EQ(run.Edit(ctl::kBaudEdit), c.shownBaud) << c.baud.toStdString();
    }
}

// A size or place kept from a larger screen, or from another arrangement of screens, comes back inside
// the screen's free area, with room for the window system's frame: no larger than that area, never
// smaller than the window's least size, and as large as it was where it fits.
TEST_F(RememberedSettingsTest, ASizeOrPlaceThatDoesNotFitTheScreenIsBroughtOntoIt) {
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize least = WindowRun(false).Window().minimumSize();
    // A window system's frame takes less than this from each side of the free area.
    constexpr int kFrameAtMost = 64;
    ASSERT_LT(least.width(), free.width() - 2 * kFrameAtMost);
    ASSERT_LT(least.height(), free.height() - 2 * kFrameAtMost);
    struct Case {
        const char* what;
        QRect kept;
        bool maximised;
    };
    const QPoint inside = free.topLeft() + QPoint(kFrameAtMost, kFrameAtMost);
    const std::vector<Case> cases{
        {"larger than the screen", {inside, QSize(6000, 5000)}, false},
        {"taller than the screen", {inside, QSize(least.width() + 50, 5000)}, false},
        {"wider than the screen, off its left",
         {free.topLeft() + QPoint(-3000, 70), QSize(6000, least.height())},
         false},
        {"off the bottom right", {free.bottomRight() - QPoint(40, 40), least}, false},
        {"off the top left", {free.topLeft() - QPoint(5000, 4000), least}, false},
        {"maximised, larger than the screen", {inside, QSize(6000, 5000)}, true},
        {"on the screen", {inside, least + QSize(20, 10)}, false},
    };
    for (const Case& c : cases) {
        {
            WindowRun before;
            before.Window().setGeometry(c.kept);
            if (c.maximised) before.Window().setWindowState(Qt::WindowMaximized);
            before.Save();
        }
        WindowRun run;
        MainWindow& window = run.Window();
        // Maximised it has the screen's size whatever was kept; the kept size is the one it is restored to.
        EXPECT_EQ(window.windowState(), c.maximised ? Qt::WindowMaximized : Qt::WindowNoState) << c.what;
        const QRect placed = c.maximised ? window.normalGeometry() : window.geometry();
        EXPECT_TRUE(free.contains(placed)) << c.what;
        for (const auto& [shown, kept, room, leastOne] :
             {std::tuple{placed.width(), c.kept.width(), free.width(), least.width()},
              std::tuple{placed.height(), c.kept.height(), free.height(), least.height()}}) {
            EXPECT_LE(shown, std::min(kept, room)) << c.what;
            EXPECT_GE(shown, std::max(leastOne, std::min(kept, room - 2 * kFrameAtMost))) << c.what;
        }
        if (free.adjusted(kFrameAtMost, kFrameAtMost, -kFrameAtMost, -kFrameAtMost).contains(c.kept)) {
            EXPECT_EQ(placed, c.kept) << c.what;
        }
    }
}

// A geometry record written by hand in Qt's layout (version 3): its frame, the size and place to restore
// to, the screen, maximised, full screen, that screen's width, then the size and place.
QByteArray GeometryRecord(const QRect& normal, bool maximised, const QRect& placed) {
    QByteArray record;
    QDataStream out(&record, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << quint32{0x1D9D0CB} << quint16{3} << quint16{0} << placed << normal << qint32{0} << quint8{maximised}
        << quint8{0} << qint32(QGuiApplication::primaryScreen()->geometry().width()) << placed;
    return record;
}

// A record whose corners lie at the ends of what it can hold, far enough apart that a width or height
// reckoned in an int overflows, still gives a window of at least its least size on the screen.
TEST_F(RememberedSettingsTest, ARecordOfCornersAtTheEndsGivesAUsableWindow) {
    constexpr int kLow = std::numeric_limits<int>::min();
    constexpr int kHigh = std::numeric_limits<int>::max();
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize least = WindowRun(false).Window().minimumSize();
    struct Case {
        const char* what;
        QRect kept;
    };
    const std::vector<Case> cases{
        {"all of the plane", QRect(QPoint(kLow, kLow), QPoint(kHigh, kHigh))},
        {"all of the plane but its ends", QRect(QPoint(kLow + 1, kLow + 1), QPoint(kHigh - 1, kHigh - 1))},
        {"corners the wrong way round", QRect(QPoint(kHigh, kHigh), QPoint(kLow, kLow))},
        {"from the far left to the middle", QRect(QPoint(kLow, 0), QPoint(100, 600))},
    };
    for (const Case& c : cases) {
        for (const bool maximised : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (maximised ? ", maximised" : ""));
            QSettings kept(file, QSettings::IniFormat);
            kept.clear();
            kept.setValue("geometry", GeometryRecord(c.kept, maximised, c.kept));
            kept.sync();
            WindowRun run;
            MainWindow& window = run.Window();
            const QRect placed = window.windowState() == Qt::WindowNoState ? window.geometry()
                                                                           : window.normalGeometry();
            EXPECT_TRUE(free.contains(placed));
            EXPECT_GE(placed.width(), least.width());
            EXPECT_GE(placed.height(), least.height());
        }
    }
}

// What the window keeps is all the file holds once it has closed: groups and keys of something else, or
// a damaged file, are not written back.
TEST_F(RememberedSettingsTest, OnlyWhatTheWindowKeepsIsWrittenBack) {
    struct Case {
        const char* what;
        QByteArray kept;
        std::string written;
    };
    const std::vector<Case> cases{
        {"unknown groups and keys",
         "[General]\nport=7\ncolour=blue\n[Printer]\nport=LPT1\n[Vantor]\nbaud=300\n",
         "[General]\nbaud=19200\ngeometry=...\nport=7\n"},
        {"a damaged file", QByteArray("\x01\xff[[[\n=\n", 9),
         "[General]\nbaud=19200\ngeometry=...\nport=1\n"},
        // Read as damaged, yet QSettings would write its folder back after the window's values.
        {"a group's name left open before the window's group", "[Genera\n[General]\nfolder=/srv/tables\nport=7\n",
         "[General]\nbaud=19200\ngeometry=...\nport=1\n"},
    };
    for (const Case& c : cases) {
        Keep(c.kept);
        WindowRun(true).Save();
        EXPECT_EQ(KeptText(), c.written) << c.what;
    }
}

// A settings file of the window holds a few hundred bytes; one larger than 64 KiB is none of its own. It
// is passed over, leaving the start values, and replaced by the window's own when it closes.
TEST_F(RememberedSettingsTest, AFileTooLargeToBeOursIsPassedOverAndReplaced) {
    const QByteArray ours = "[General]\nport=7\nbaud=9600\n";
    // Comment lines fill the file up to its size.
    const auto filled = [&](qsizetype size) {
        QByteArray contents = ours;
        while (contents.size() < size) {
            const qsizetype line = std::min<qsizetype>(size - contents.size(), 4096);
            contents += line == 1 ? QByteArray("\n") : ";" + QByteArray(line - 2, 'x') + "\n";
        }
        return contents;
    };
    struct Case {
        qsizetype size;
        bool read;
    };
    for (const Case& c : {Case{64 * 1024, true}, Case{64 * 1024 + 1, false}, Case{32 * 1024 * 1024, false}}) {
        const QByteArray contents = filled(c.size);
        ASSERT_EQ(contents.size(), c.size);
        Keep(contents);
        WindowRun run;
        EXPECT_EQ(run.Edit(ctl::kSerialPortEdit), c.read ? "7" : "1") << c.size;
        EXPECT_EQ(run.Edit(ctl::kBaudEdit), c.read ? "9600" : "19200") << c.size;
        run.Save();
        EXPECT_EQ(KeptText(), c.read ? "[General]\nbaud=9600\ngeometry=...\nport=7\n"
                                     : "[General]\nbaud=19200\ngeometry=...\nport=1\n")
            << c.size;
    }
}

// Two windows open at once: the one that closes last, with no folder of its own, leaves the folder the
// other kept.
TEST_F(RememberedSettingsTest, AnEmptyFolderNeverWipesTheKeptOne) {
    WindowRun first;  // nothing kept yet
    {
        WindowRun second;
        second.controls.SetFolder(config.path());
        second.Save();
    }
    ASSERT_EQ(first.controls.Folder().toStdString(), "");
    first.Save();
    EXPECT_EQ(WindowRun().controls.Folder().toStdString(), config.path().toStdString());
}

}  // namespace
