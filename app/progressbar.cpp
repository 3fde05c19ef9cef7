// SPDX-License-Identifier: GPL-3.0-or-later
#include "progressbar.h"

#include <QEvent>
#include <QProxyStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <cmath>

ScaledProgressBar::ScaledProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setTextVisible(false);
    m_catchUp.setSingleShot(true);
    connect(&m_catchUp, &QTimer::timeout, this, &ScaledProgressBar::show_);
    show_();
}

void ScaledProgressBar::setMaximumValue(double maximum)
{
    m_max = maximum;
    show_();
}

void ScaledProgressBar::setCurrentValue(double value)
{
    // Before the bar starts again, the step it had reached is shown.
    if (value <= 1 && m_catchUp.isActive())
        show_();
    m_value = value;
    // The start and the end of a run are always shown; a step within a frame of the last
    // one shown waits for the next frame, and a later step takes its place.
    if (value <= 1 || value >= m_max || m_shown.hasExpired(frameMs))
        show_();
    else if (!m_catchUp.isActive())
        m_catchUp.start(frameMs);
}

int ScaledProgressBar::edgeAt(int units, int width) const
{
    const qint64 span = std::max<qint64>(1, qint64(maximum()) - minimum());
    return int((qint64(units) - minimum()) * width / span);
}

namespace {
// How many pixels either side of the edge of the filled part a step changes, for the styles
// known to fill the bar from its start up to the value with every other column looking the
// same whatever the value and the time (Qt's Fusion and Windows; the platform styles may
// animate the filled part); 0 for any other, whose bar is drawn whole.
int edgeReach(const QStyle *style, int chunk)
{
    if (const auto *proxy = qobject_cast<const QProxyStyle *>(style))
        style = proxy->baseStyle();
    const QString name = style->name();
    if (name.compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0)
        return 4;  // a rounded end, and a shadow two pixels past it
    if (name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0)
        return chunk + 2;  // a whole chunk appears at once
    return 0;
}
}  // namespace

void ScaledProgressBar::initStyleOption(QStyleOptionProgressBar *option) const
{
    if (isTextVisible()) {
        QProgressBar::initStyleOption(option);
        return;
    }
    // As Qt fills it in, but for the text, which is never shown here: formatting it anew
    // for every step taken and every step drawn was a twentieth of the window's processor
    // time in a paced Read.
    option->initFrom(this);
    if (orientation() == Qt::Horizontal)
        option->state |= QStyle::State_Horizontal;
    option->minimum = minimum();
    option->maximum = maximum();
    option->progress = value();
    option->textAlignment = alignment();
    option->textVisible = false;
    option->invertedAppearance = invertedAppearance();
    option->bottomToTop = textDirection() == QProgressBar::BottomToTop;
}

void ScaledProgressBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        m_measures.reset();
    QProgressBar::changeEvent(event);
}

void ScaledProgressBar::resizeEvent(QResizeEvent *event)
{
    m_measures.reset();
    QProgressBar::resizeEvent(event);
}

const ScaledProgressBar::Measures &ScaledProgressBar::measures()
{
    if (!m_measures) {
        QStyleOptionProgressBar opt;
        initStyleOption(&opt);
        Measures m;
        m.filled = style()->subElementRect(QStyle::SE_ProgressBarContents, &opt, this);
        m.chunk = style()->pixelMetric(QStyle::PM_ProgressBarChunkWidth, &opt, this);
        m.reach = edgeReach(style(), m.chunk);
        m_measures = m;
        // In those styles the bar fills in itself the plain window colour it lies on: a
        // step's repaint then leaves the frame and the window beneath it alone (nearly a
        // quarter of what drawing a step took).
        setAutoFillBackground(m.reach > 0);
    }
    return *m_measures;
}

void ScaledProgressBar::show_()
{
    m_catchUp.stop();
    m_shown.start();
    // The bar's minimum is 1; a maximum at or below it (an empty image) shows an empty bar.
    const int lo = unitsPerStep;
    const int hi = std::max(lo + 1, int(std::lround(m_max * unitsPerStep)));
    const int units = std::clamp(int(std::lround(m_value * unitsPerStep)), lo, hi);
    if (lo == minimum() && hi == maximum() && orientation() == Qt::Horizontal) {
        // Within a run the bar looks the same until its edge moves a pixel (a byte of an
        // AT89C52 is a twenty-sixth of one): a value short of that is not taken yet.
        const Measures &m = measures();
        const int from = edgeAt(value(), m.filled.width()), to = edgeAt(units, m.filled.width());
        if (from == to)
            return;
        // A step of a few pixels redraws the columns about the edge alone, in the next pass:
        // drawing the whole bar took most of the window's processor time in a paced Read.
        // A step that short the bar itself does not draw at once.
        if (units != lo && units != hi && std::abs(to - from) < m.chunk && m.reach > 0) {
            QRect columns(m.filled.left() + std::min(from, to) - m.reach, 0, std::abs(to - from) + 2 * m.reach + 1,
                          height());
            if ((layoutDirection() == Qt::RightToLeft) != invertedAppearance())
                columns.moveLeft(m.filled.left() + m.filled.right() - columns.right());
            setValue(units);
            update(columns);
            return;
        }
    }
    // Drawn in the window's next pass with everything else, not at once: a bar that is
    // covered or hidden before then costs no drawing at all.
    setUpdatesEnabled(false);
    setRange(lo, hi);
    setValue(units);
    setUpdatesEnabled(true);
}
