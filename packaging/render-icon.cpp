// render-icon: saves the program's icon, which is drawn in code, as PNG files for the desktop's icon
// theme. Run at build time with QT_QPA_PLATFORM=offscreen.
//
//   render-icon DIR SIZE...   writes DIR/SIZExSIZE/apps/vantor-radio-config.png for each SIZE

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <cstdio>

#include "ui/MainWindow.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: render-icon DIR SIZE...\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QIcon icon = ProgramIcon();
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "render-icon: '%s' is not a size in pixels\n", argv[i]);
            return 2;
        }
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        if (pixmap.size() != QSize(size, size)) {
            std::fprintf(stderr, "render-icon: the icon came out %dx%d, not %dx%d\n", pixmap.width(),
                         pixmap.height(), size, size);
            return 1;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString path = dir + QStringLiteral("/vantor-radio-config.png");
        if (!QDir().mkpath(dir) || !pixmap.save(path, "PNG")) {
            std::fprintf(stderr, "render-icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
