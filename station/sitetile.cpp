// SPDX-License-Identifier: GPL-3.0-or-later
// A site's tile, drawn in one pass of plain rectangles and text.
#include "sitetile.h"

#include "windowstyle.h"

#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr int margin = 10;
constexpr int barHeight = 16;

// Saturated enough to tell apart across a room, each with the text colour that reads on it.
struct Colours {
    QColor back, text, edge;
};
Colours coloursOf(SiteTile::Look look)
{
    switch (look) {
    case SiteTile::Look::Ready: return {QColor(0xEC, 0xEF, 0xF1), QColor(0x37, 0x47, 0x4F), QColor(0xB0, 0xBE, 0xC5)};
    case SiteTile::Look::Working: return {Qt::white, QColor(0x21, 0x21, 0x21), QColor(0x15, 0x65, 0xC0)};
    case SiteTile::Look::Passed: return {QColor(0x2E, 0x7D, 0x32), Qt::white, QColor(0x1B, 0x5E, 0x20)};
    case SiteTile::Look::Failed: return {QColor(0xC6, 0x28, 0x28), Qt::white, QColor(0x8E, 0x00, 0x00)};
    case SiteTile::Look::Empty: return {QColor(0xFF, 0xB3, 0x00), QColor(0x21, 0x21, 0x21), QColor(0xC6, 0x84, 0x00)};
    }
    return {};
}

// `text` in lines of at most `width`, no more than `most` of them, the last one elided.
QStringList wrapped(const QString &text, const QFontMetrics &m, int width, int most)
{
    QStringList lines;
    QString line;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString tried = line.isEmpty() ? words[i] : line + QLatin1Char(' ') + words[i];
        if (line.isEmpty() || m.horizontalAdvance(tried) <= width) {
            line = tried;
            continue;
        }
        if (lines.size() == most - 1) {
            line = tried + QLatin1Char(' ') + words.mid(i + 1).join(QLatin1Char(' '));
            break;
        }
        lines << line;
        line = words[i];
    }
    if (!line.isEmpty())
        lines << m.elidedText(line, Qt::ElideRight, width);
    return lines;
}
}  // namespace

SiteTile::SiteTile(int number, const QString &device, QWidget *parent)
    : QWidget(parent), m_number(number), m_device(device)
{
    // Everything is drawn over the whole tile: nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setToolTip(device);
}

void SiteTile::newRound(int round)
{
    m_round = round;
    m_look = Look::Working;
    m_step.clear();
    m_detail.clear();
    m_serial.clear();
    m_done = m_total = 0;
    update();
}

void SiteTile::stepStarts(const QString &step)
{
    m_step = step + QStringLiteral("…");
    m_done = m_total = 0;
    update();
}

bool SiteTile::progress(qint64 done, qint64 total)
{
    const int before = barFill(m_done, m_total);
    m_done = done;
    m_total = total;
    return barFill(m_done, m_total) != before;
}

void SiteTile::serialTaken(const QString &number)
{
    m_serial = QStringLiteral("serial %1").arg(number);
    update();
}

void SiteTile::setChip(const QString &chip)
{
    if (chip == m_chip)
        return;
    m_chip = chip;
    update();
}

void SiteTile::ends(Look look, const QString &detail, const QString &serial)
{
    m_look = look;
    m_detail = detail;
    m_serial = serial;
    m_step.clear();
    ++(look == Look::Passed ? m_passed : look == Look::Empty ? m_empty : m_failed);
    setToolTip(detail.isEmpty() ? m_device : m_device + QStringLiteral("\n") + detail);
    update();
}

void SiteTile::tell(const QString &text)
{
    setToolTip(toolTip() + QStringLiteral("\n") + text);
}

QString SiteTile::resultText() const
{
    switch (m_look) {
    case Look::Ready: return QStringLiteral("READY");
    case Look::Working: return {};
    case Look::Passed: return QStringLiteral("PASSED");
    case Look::Failed: return QStringLiteral("FAILED");
    case Look::Empty: return QStringLiteral("EMPTY");
    }
    return {};
}

QString SiteTile::countsText() const
{
    QString text = QStringLiteral("passed %1   failed %2").arg(m_passed).arg(m_failed);
    if (m_empty)
        text += QStringLiteral("   empty %1").arg(m_empty);
    return text;
}

QString SiteTile::headText() const
{
    return QStringLiteral("Site %1  %2").arg(m_number).arg(m_device);
}

QColor SiteTile::background() const
{
    return coloursOf(m_look).back;
}

QColor SiteTile::foreground() const
{
    return coloursOf(m_look).text;
}

QRect SiteTile::barRect() const
{
    return {margin, height() / 2 + 4, width() - 2 * margin, barHeight};
}

int SiteTile::barFill(qint64 done, qint64 total) const
{
    const int inner = barRect().width() - 2;
    return total > 0 ? int(qBound<qint64>(0, done, total) * inner / total) : 0;
}

void SiteTile::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const Colours c = coloursOf(m_look);
    const QRect bar = barRect();
    if (m_look == Look::Working && event->rect() == bar) {
        // A step of the bar: its two parts only.
        const int fill = barFill(m_done, m_total);
        p.fillRect(bar.adjusted(1, 1, -1, -1), QColor(0xE0, 0xE0, 0xE0));
        p.fillRect(QRect(bar.left() + 1, bar.top() + 1, fill, bar.height() - 2), c.edge);
        return;
    }
    p.fillRect(rect(), palette().window());
    p.fillRect(rect().adjusted(2, 2, -2, -2), c.back);
    p.setPen(QPen(c.edge, m_look == Look::Working ? 3 : 1));
    p.drawRect(rect().adjusted(2, 2, -3, -3));
    p.setPen(c.text);

    const int w = width() - 2 * margin;
    QFont head = designFace(11);
    head.setBold(true);
    p.setFont(head);
    const QFontMetrics hm(head);
    const QString site = QStringLiteral("Site %1  ").arg(m_number);
    p.drawText(margin, margin + hm.ascent(), site);
    // A long device name keeps its tail, which tells the adapters apart.
    QFont plain = designFace(11);
    p.setFont(plain);
    const QFontMetrics pm(plain);
    const int siteWidth = hm.horizontalAdvance(site);
    p.drawText(margin + siteWidth, margin + hm.ascent(), pm.elidedText(m_device, Qt::ElideLeft, w - siteWidth));
    int y = margin + hm.height() + 2;
    if (!m_chip.isEmpty())
        p.drawText(margin, y + pm.ascent(), m_chip);

    const int bottom = height() - margin;
    // The counts at the foot, the serial number above them.
    p.drawText(margin, bottom - pm.descent(), countsText());
    if (!m_serial.isEmpty())
        p.drawText(margin, bottom - pm.height() - 4 - pm.descent(), pm.elidedText(m_serial, Qt::ElideRight, w));

    if (m_look == Look::Working) {
        QFont step = designFace(17);
        p.setFont(step);
        const QFontMetrics sm(step);
        p.drawText(margin, bar.top() - 6 - sm.descent(), sm.elidedText(m_step, Qt::ElideRight, w));
        if (!m_step.isEmpty()) {
            p.fillRect(bar, QColor(0x9E, 0x9E, 0x9E));
            p.fillRect(bar.adjusted(1, 1, -1, -1), QColor(0xE0, 0xE0, 0xE0));
            p.fillRect(QRect(bar.left() + 1, bar.top() + 1, barFill(m_done, m_total), bar.height() - 2), c.edge);
        }
        return;
    }
    // The result as large as the tile allows: it is read from across the room. The reason
    // beneath it takes what room is left, up to three lines, but never the word's.
    const QString big = resultText();
    const int top = y + pm.height() + 4;
    const int room = bottom - 2 * pm.height() - 8 - top;
    QFont large = designFace(12);
    large.setBold(true);
    const int fit = int(w / (0.78 * std::max<qsizetype>(big.size(), 5)));
    large.setPixelSize(std::max(14, std::min(fit, m_detail.isEmpty() ? room * 7 / 10 : room * 45 / 100)));
    const int bigHeight = QFontMetrics(large).height();
    const int most = m_detail.isEmpty() ? 0 : std::clamp((room - bigHeight - 4) / pm.height(), 1, 3);
    const QStringList detail = wrapped(m_detail, pm, w, most);
    const int detailHeight = int(detail.size()) * pm.height();
    p.setFont(large);
    if (m_look == Look::Ready)
        p.setPen(QColor(0x90, 0xA4, 0xAE));
    const QRect bigRect(margin, top, w, room - detailHeight);
    p.drawText(bigRect, Qt::AlignCenter, big);
    p.setPen(c.text);
    p.setFont(plain);
    for (qsizetype i = 0; i < detail.size(); ++i)
        p.drawText(margin, bigRect.bottom() + 1 + int(i) * pm.height() + pm.ascent(), detail[i]);
}
