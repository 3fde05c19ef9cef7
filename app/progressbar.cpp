#include "progressbar.h"

#include <algorithm>
#include <cmath>

ScaledProgressBar::ScaledProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setTextVisible(false);
    show_();
}

void ScaledProgressBar::setMaximumValue(double maximum)
{
    m_max = maximum;
    show_();
}

void ScaledProgressBar::setCurrentValue(double value)
{
    m_value = value;
    show_();
}

void ScaledProgressBar::show_()
{
    // The bar's minimum is 1; a maximum at or below it (an empty image) shows an empty bar.
    const int lo = unitsPerStep;
    const int hi = std::max(lo + 1, int(std::lround(m_max * unitsPerStep)));
    setRange(lo, hi);
    setValue(std::clamp(int(std::lround(m_value * unitsPerStep)), lo, hi));
}
