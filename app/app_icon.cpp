#include "app/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kelvaro::app {
namespace {

// A rounded blue tile with a white sound wave turning into an arrow, on a 64-unit grid.
QPixmap Paint(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2f, 0x80, 0xed));
    tile.setColorAt(1, QColor(0x1b, 0x4f, 0xa8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    QPen pen(Qt::white, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath wave;
    wave.moveTo(10, 32);
    wave.cubicTo(14, 14, 18, 14, 22, 32);
    wave.cubicTo(26, 50, 30, 50, 34, 32);
    wave.lineTo(50, 32);
    painter.drawPath(wave);
    painter.drawLine(QPointF(43, 24), QPointF(51, 32));
    painter.drawLine(QPointF(43, 40), QPointF(51, 32));
    return pixmap;
}

}  // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Paint(size));
    return icon;
}

}  // namespace kelvaro::app
