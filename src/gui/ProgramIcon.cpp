#include "gui/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarnvel::gui {

namespace {

// Drawn on a 64 x 64 grid, as the SVG.
QPixmap drawIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Shell.
    p.setPen(QPen(QColor(0x20, 0x24, 0x2a), 2));
    p.setBrush(QColor(0x3a, 0x40, 0x48));
    p.drawRoundedRect(QRectF(4, 12, 56, 40), 5, 5);
    // Label.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0xe4, 0xd8));
    p.drawRoundedRect(QRectF(10, 16, 44, 12), 2, 2);
    p.setBrush(QColor(0xc0, 0x30, 0x30));
    p.drawRect(QRectF(10, 25, 44, 3));
    // Window with the two reels.
    p.setBrush(QColor(0x18, 0x1c, 0x20));
    p.drawRoundedRect(QRectF(14, 32, 36, 14), 4, 4);
    for (qreal x : {23.0, 41.0}) {
        p.setBrush(QColor(0x8a, 0x6a, 0x40));
        p.drawEllipse(QPointF(x, 39), 5.5, 5.5);
        p.setBrush(QColor(0xf0, 0xf0, 0xf0));
        p.drawEllipse(QPointF(x, 39), 2.2, 2.2);
    }
    return pm;
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace tarnvel::gui
