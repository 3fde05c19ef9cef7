// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon, painted in code so that no image plug-in is needed; the shapes are
// those of voralith.svg (on the same 64-unit grid), which the desktop entry shows.
#include "frmabout.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace {
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

// Painted at the size asked for when it is asked for: nothing is kept. A set of images
// made up front (up to 256 pixels square) held a third of a megabyte per copy of the icon.
class VoralithIconEngine : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        painter->save();
        painter->translate(rect.topLeft());
        paintIcon(*painter, std::min(rect.width(), rect.height()));
        painter->restore();
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        p.end();
        return QPixmap::fromImage(image);
    }
    QIconEngine *clone() const override { return new VoralithIconEngine; }
    // The sizes a window manager is offered for title bars and task switchers.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }
};
}  // namespace

QIcon voralithIcon()
{
    return QIcon(new VoralithIconEngine);
}
