// Writes the program's icon, as the Qt window draws it, as a Windows icon file for the Windows window's
// resources: `vantor-write-icon ui-win32/vantor.ico`. Each size is a PNG image in the file.
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <cstdio>
#include <vector>

#include "ui/MainWindow.h"

namespace {

void PutLe(QByteArray& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantor-write-icon FILE.ico\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QIcon icon = ProgramIcon();
    const std::vector<int> sizes{16, 24, 32, 48, 64, 128};
    std::vector<QByteArray> images;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        const QImage image = icon.pixmap(size, size).toImage();
        if (image.width() != size || image.height() != size) {
            std::fprintf(stderr, "vantor-write-icon: no %dx%d image of the icon\n", size, size);
            return 1;
        }
        image.save(&buffer, "PNG");
        images.push_back(png);
    }
    QByteArray file;
    PutLe(file, 0, 2);  // reserved
    PutLe(file, 1, 2);  // an icon
    PutLe(file, static_cast<unsigned>(sizes.size()), 2);
    unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        PutLe(file, static_cast<unsigned>(sizes[i]), 1);
        PutLe(file, static_cast<unsigned>(sizes[i]), 1);
        PutLe(file, 0, 1);   // no palette
        PutLe(file, 0, 1);   // reserved
        PutLe(file, 1, 2);   // planes
        PutLe(file, 32, 2);  // bits per pixel
        PutLe(file, static_cast<unsigned>(images[i].size()), 4);
        PutLe(file, offset, 4);
        offset += static_cast<unsigned>(images[i].size());
    }
    for (const QByteArray& image : images) file.append(image);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        std::fprintf(stderr, "vantor-write-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
