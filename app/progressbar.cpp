// SPDX-License-Identifier: GPL-3.0-or-later
#include "progressbar.h"

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

void ScaledProgressBar::show_()
{
    m_catchUp.stop();
    m_shown.start();
    // The bar's minimum is 1; a maximum at or below it (an empty image) shows an empty bar.
    const int lo = unitsPerStep;
    const int hi = std::max(lo + 1, int(std::lround(m_max * unitsPerStep)));
    // Drawn in the window's next pass with everything else, not at once: a bar that is
    // covered or hidden before then costs no drawing at all.
    setUpdatesEnabled(false);
    setRange(lo, hi);
    setValue(std::clamp(int(std::lround(m_value * unitsPerStep)), lo, hi));
    setUpdatesEnabled(true);
}
