#include "panel/artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace marvalo {
namespace {

// A square wave: bits on a serial line.
QPainterPath squareWave(QRectF area, int pulses) {
    QPainterPath path;
    const qreal step = area.width() / (2 * pulses);
    qreal x = area.left();
    path.moveTo(x, area.bottom());
    for (int i = 0; i < pulses; ++i) {
        path.lineTo(x, area.top());
        path.lineTo(x + step, area.top());
        path.lineTo(x + step, area.bottom());
        path.lineTo(x + 2 * step, area.bottom());
        x += 2 * step;
    }
    return path;
}

}  // namespace

QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setBrush(QColor(20, 20, 20));
    painter.setPen(QPen(QColor(90, 90, 90), s / 24));
    painter.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.12, s * 0.12);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 0, 0), s / 12, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawPath(squareWave(QRectF(s * 0.18, s * 0.3, s * 0.64, s * 0.4), 2));
    return pixmap;
}

QPixmap drawBadge(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);
    painter.setBrush(QColor(20, 20, 20));
    painter.setPen(QPen(QColor(120, 120, 120), 1));
    painter.drawRoundedRect(area, 4, 4);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawPath(squareWave(area.adjusted(6, 7, -6, -7), 3));
    return pixmap;
}

}  // namespace marvalo
