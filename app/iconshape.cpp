// SPDX-License-Identifier: GPL-3.0-or-later
// The shapes of the program's icon.
#include "iconshape.h"

#include <QPainter>

void paintIcon(QPainter &p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);

    p.setBrush(QColor(0xc8, 0xcc, 0xd4));
    for (int i = 0; i < 6; ++i) {
        const int y = 11 + 7 * i;
        p.drawRoundedRect(QRectF(6, y, 10, 4), 1, 1);
        p.drawRoundedRect(QRectF(48, y, 10, 4), 1, 1);
    }

    p.setBrush(QColor(0x24, 0x34, 0x4f));
    p.drawRoundedRect(QRectF(13, 5, 38, 54), 4, 4);

    // Pin-1 notch: the lower half of a circle on the top edge.
    p.setBrush(QColor(0x5a, 0x6b, 0x88));
    p.drawChord(QRectF(27, 0, 10, 10), 180 * 16, 180 * 16);

    QPen v(QColor(0xf5, 0xc2, 0x42), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(v);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(21, 20), QPointF(32, 46), QPointF(43, 20)}));
}
