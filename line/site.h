// SPDX-License-Identifier: GPL-3.0-or-later
// One board of a command: its session, made in the thread the site runs in, the round in
// hand, and what it tells and records of each step and result. A site's failure, silence or
// lost port ends that site alone; it shares nothing with another site but the teller and
// the records, which lock.
#pragma once

#include "boardsession.h"
#include "line.h"
#include "records.h"

#include <QElapsedTimer>
#include <optional>

class Site {
public:
    Site(Line &line, int index, const SitePort &port);

    const QString &name() const { return m_name; }
    int index() const { return m_index; }
    // In the site's thread: the wait in hand ends, and so does every later one.
    void stop() { m_link.requestStop(m_line.stopReason()); }
    void newRound(int round);

    // Each command on this site's chip: its result told and recorded; the site's status.
    int identify();
    int blank();
    int read(const QString &path, ImageFormat format);
    int write(const Image &image);
    int verify(const Image &image);
    int erase();
    int lock(int bits);

    // program: one chip, its sentence after `label` ("Chip 2: "); its result recorded.
        SiteChip programChip(const Image &image, const QString &label);

    // The end of the site's part of a round: a round that ended with no outcome (a port
    // that would not open) gets its result from what was told; the site's line says how it
    // ended.
    void ends(int status);

private:
    bool stopped() const { return m_link.stopRequested() || m_line.stopped(); }
    // Each step shown by its name as it starts, its start and progress told as events.
    ProgressFor steps();
    void stepStarts(Step step);
    int openAndIdentify();
    // Write and verify: the chip identified, and `image` fits it.
    int identifyFor(const Image &image);
    // Tells an outcome: its result, or why it failed; the exit status it gives.
    int report(const Outcome &o);
    void record(const Outcome &o, int status, const JsonLine &extra = {});
    JsonLine resultHead(const QString &result, int status, const Outcome &o) const;
    void put(JsonLine line, const QString &result);
    void recordFailure(int status);
    void result(const QString &text) { m_t.result(text, m_index); }
    int failure(const QString &text, int status)
    {
        m_lastFailure = text;
        m_t.failure(text, m_index);
        return status;
    }
    // What ends as this program stopped it (its output failed) is no fault of the board.
    int boardFailure(const QString &text) { return failure(text, stopped() ? m_line.stopStatus() : int(NoBoard)); }
    void printSums(const QString &path, const QByteArray &bytes);
    // --serial: the chip must hold the number's place; the number taken just before the
    // chip's first byte is written, and put into `image`.
    Status serialFits(const ChipInfo &chip) const;
    Status takeSerial(QByteArray *image);
    // What is told after the chip's result: the number it got and the sums of what went in;
    // for a chip that failed, that its number is spent.
    void tellSerial(bool passed, const Image &image);
    // A Write, Chip Erase or program on this port that broke off (here or in the window)
    // left a record: the chip may be half-written. Told before the port is used again.
    void tellUnfinishedChanges();

    Line &m_line;
    Teller &m_t;
    const int m_index;
    const QString m_name;
    BoardSession m_session;
    SerialLink &m_link = m_session.link();
    int m_round = 1;
    QElapsedTimer m_roundTime;
    bool m_recorded = false;
    QString m_result;  // the round's result as recorded
    std::optional<Step> m_step;  // the step in hand
    Outcome m_id;                // the round's identification
    std::optional<quint64> m_serial;  // the round's serial number, once taken
    QByteArray m_chipImage;           // what was written into the chip, with its number
    QString m_lastFailure;
};
