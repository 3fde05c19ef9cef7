// SPDX-License-Identifier: GPL-3.0-or-later
// One site's tile: its device, the chip found, the step in hand with its bar, the last result
// in large text on a colour that reads across a room, the serial number and the site's counts.
// Drawn by itself, so that a bar's step repaints only the bar.
#pragma once

#include <QColor>
#include <QWidget>

class SiteTile : public QWidget {
    Q_OBJECT
public:
    enum class Look { Ready, Working, Passed, Failed, Empty };

    SiteTile(int number, const QString &device, QWidget *parent = nullptr);

    int round() const { return m_round; }
    // A round's first event for this site: the last result gives way to the work in hand.
    void newRound(int round);
    void stepStarts(const QString &step);
    // The bar's new figures; true when its edge moved, and showBar() is then due.
    bool progress(qint64 done, qint64 total);
    void showBar() { update(barRect()); }
    void serialTaken(const QString &number);
    void setChip(const QString &chip);
    // `detail`: the step and the reason of a failure in one line, or why a socket is empty.
    void ends(Look look, const QString &detail, const QString &serial);
    // A text for a person about this site (a half-written chip, a spent number): its tooltip.
    void tell(const QString &text);

    // What the tile shows, as words and colours.
    Look look() const { return m_look; }
    QString resultText() const;
    const QString &stepText() const { return m_step; }
    const QString &detailText() const { return m_detail; }
    const QString &serialText() const { return m_serial; }
    const QString &chipText() const { return m_chip; }
    QString countsText() const;
    QString headText() const;
    QColor background() const;
    QColor foreground() const;
    int barPercent() const { return m_total > 0 ? int(m_done * 100 / m_total) : 0; }

    QSize sizeHint() const override { return {240, 200}; }
    QSize minimumSizeHint() const override { return {200, 170}; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QRect barRect() const;
    int barFill(qint64 done, qint64 total) const;

    const int m_number;
    const QString m_device;
    int m_round = 0;
    Look m_look = Look::Ready;
    QString m_chip, m_step, m_detail, m_serial;
    qint64 m_done = 0, m_total = 0;
    int m_passed = 0, m_failed = 0, m_empty = 0;
};
