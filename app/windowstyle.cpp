// SPDX-License-Identifier: GPL-3.0-or-later
// The program's look: the design's face, and the style set once at start.
#include "windowstyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

namespace {
// An icon of the style's, read from the style when first drawn.
class DeferredIconEngine : public QIconEngine {
public:
    DeferredIconEngine(QStyle *style, QStyle::StandardPixmap which) : m_style(style), m_which(which) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QIconEngine *clone() const override { return new DeferredIconEngine(m_style, m_which); }

private:
    const QIcon &icon()
    {
        if (m_icon.isNull())
            m_icon = (m_style ? m_style.data() : QApplication::style())->standardIcon(m_which);
        return m_icon;
    }

    QPointer<QStyle> m_style;
    QStyle::StandardPixmap m_which;
    QIcon m_icon;
};

// Every menu bar asks for its overflow arrows when it is made, and the platform's style
// reads them through the image plug-ins then: milliseconds and a quarter of a megabyte at
// every start, for arrows the main window, whose menus always fit, never shows.
class WindowStyle : public QProxyStyle {
public:
    QIcon standardIcon(StandardPixmap which, const QStyleOption *option, const QWidget *widget) const override
    {
        if (which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton)
            return QIcon(new DeferredIconEngine(baseStyle(), which));
        return QProxyStyle::standardIcon(which, option, widget);
    }
};
}  // namespace

QFont designFace(qreal points)
{
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("MS Sans Serif"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    // Latin text is drawn glyph by glyph, as the design's system drew it; a script that
    // needs shaping (a file name in Arabic, say) is still shaped.
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setPointSizeF(points);
    return f;
}

void setUpLook(QApplication &app)
{
    QApplication::setStyle(new WindowStyle);
    // Menus and message boxes in the window's own face, at the platform's size: one face
    // to find and load at start instead of two.
    app.setFont(designFace(QApplication::font().pointSizeF()));
}
