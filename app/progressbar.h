// SPDX-License-Identifier: GPL-3.0-or-later
// ProgressBar1: a progress bar whose maximum and value may be fractional (the listing's
// maximum is length / 8 + 1, 3.5 for 20 bytes). Qt holds whole numbers, so the bar counts
// in eighths. A value past the maximum (an image grown since it was listed) is kept but
// shown as full, never as a bar that stops moving. Values come far faster than a screen
// shows them (a step per byte read, per listed row): the bar takes at most one a frame, and
// is drawn again only when its edge moves by a pixel, and then only about the edge.
#pragma once

#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>

#include <optional>

class ScaledProgressBar : public QProgressBar {
    Q_OBJECT
public:
    static constexpr int unitsPerStep = 8;
    static constexpr int frameMs = 16;  // about 60 frames a second
    explicit ScaledProgressBar(QWidget *parent = nullptr);

    void setMaximumValue(double maximum);
    void setCurrentValue(double value);
    double maximumValue() const { return m_max; }
    double currentValue() const { return m_value; }

protected:
    void initStyleOption(QStyleOptionProgressBar *option) const override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Where the style fills the bar, and how many pixels about the edge of the filled part
    // a step changes (0: the bar is drawn whole); taken again when its size or style changes.
    struct Measures {
        QRect filled;
        int chunk = 0;
        int reach = 0;
    };
    const Measures &measures();
    void show_();
    // Where the filled part ends, in pixels from its start, for `units` of the bar's range.
    int edgeAt(int units, int width) const;
    std::optional<Measures> m_measures;
    double m_max = 100;
    double m_value = 1;
    QElapsedTimer m_shown;  // since the bar last took a value
    QTimer m_catchUp;       // the last value, when no later one comes within the frame
};
