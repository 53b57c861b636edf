#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/MainWindow.h"

namespace {

// A mast with a radio wave on either side, on a rounded tile.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x79));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    QPen mast(QColor(0xf2, 0xf2, 0xf2), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mast);
    painter.drawLine(QPointF(16, 13), QPointF(11, 27));
    painter.drawLine(QPointF(16, 13), QPointF(21, 27));
    painter.drawLine(QPointF(12.8, 22), QPointF(19.2, 22));
    painter.setBrush(QColor(0xff, 0xb3, 0x3b));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(16, 11), 2.6, 2.6);

    QPen wave(QColor(0xff, 0xb3, 0x3b), 1.8, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(wave);
    painter.setBrush(Qt::NoBrush);
    for (qreal r : {6.0, 10.0}) {
        const QRectF arc(16 - r, 11 - r, 2 * r, 2 * r);
        painter.drawArc(arc, 135 * 16, 90 * 16);  // left
        painter.drawArc(arc, -45 * 16, 90 * 16);  // right
    }
    return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
    return icon;
}
