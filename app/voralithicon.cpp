// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon, without an image plug-in: its pixels kept in the program at the sizes
// a window manager asks for, painted from its shapes at any other.
#include "iconshape.h"
#include "windowstyle.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

#ifdef VORALITH_STORED_ICON
#include "voralithicon_pixels.h"
#endif

namespace {
QImage storedImage(int size)
{
#ifdef VORALITH_STORED_ICON
    for (const StoredIcon &icon : kStoredIcons)
        if (icon.size == size)
            return QImage(reinterpret_cast<const uchar *>(icon.pixels), size, size, size * 4,
                          QImage::Format_ARGB32_Premultiplied);
#endif
    Q_UNUSED(size);
    return {};
}

// The sizes kept in the program are drawn from its pixels; any other size is painted when
// it is asked for. Nothing is kept: a set of images made up front (up to 256 pixels square)
// held a third of a megabyte per copy of the icon.
class VoralithIconEngine : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect.topLeft(), pixmap(rect.size(), mode, state));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        QImage image = storedImage(side);
        if (image.isNull()) {
            image = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter p(&image);
            paintIcon(p, side);
        }
        return QPixmap::fromImage(image);
    }
    QIconEngine *clone() const override { return new VoralithIconEngine; }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : kStoredIconSizes)
            sizes.append(QSize(side, side));
        return sizes;
    }
};
}  // namespace

QIcon voralithIcon()
{
    return QIcon(new VoralithIconEngine);
}
