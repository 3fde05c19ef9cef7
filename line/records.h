// SPDX-License-Identifier: GPL-3.0-or-later
// The events of a run (one JSON object each, told to the Teller: voralith-cli --json prints
// them) and the log of every chip (--log FILE). Each result names its site (the device as
// given) and its round, so that a run over several boards or many chips reads the same. The
// sites' threads record at once: every call takes the lock, so lines and counts stay whole.
#pragma once

#include "appendlog.h"
#include "operations.h"
#include "outcome.h"
#include "store.h"
#include "teller.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonValue>
#include <QStringList>
#include <mutex>

// One JSON object with its keys in the order they were added.
class JsonLine {
public:
    JsonLine &add(const char *key, const QJsonValue &value);
    JsonLine &add(const char *key, const JsonLine &object) { return raw(key, object.text()); }
    // A whole number as it is, beyond the 53 bits a double holds exactly.
    JsonLine &number(const char *key, quint64 value) { return raw(key, QByteArray::number(value)); }
    JsonLine &append(const JsonLine &other);
    QByteArray text() const { return '{' + m_body + '}'; }
    bool isEmpty() const { return m_body.isEmpty(); }

private:
    JsonLine &raw(const char *key, const QByteArray &json);
    QByteArray m_body;
};

// "2026-12-07T21:03:04.123+00:00": local time with its offset from UTC.
QString isoTime(const QDateTime &time);
// "identify", "blank", ... as the events name the steps.
QString jsonStep(Step step);
// Upper-case hex without 0x, at least `digits` long.
QString jsonHex(qint64 value, int digits = 1);
// "length", "sum", "crc32" of an image's bytes; {"path", "length", "sum", "crc32"}.
JsonLine sumsFields(const QByteArray &bytes);
JsonLine imageObject(const QString &path, const QByteArray &bytes);

class Records {
public:
    explicit Records(Teller &t);
    // --log: empty when the log is open for appending, else why not. `stopHandle` ends a
    // wait for a pipe's reader (-1: none).
    Status openLog(const QString &path, int stopHandle = -1) { return m_log.open(path, stopHandle); }
    const QString &logPath() const { return m_logPath; }
    // The run's name, as every record names it.
    const QString &run() const { return m_run; }
    void setLogPath(const QString &shown) { m_logPath = shown; }
    // What opening the log found amiss but mended (a last line without its line end).
    const QString &logWarning() const { return m_log.warning(); }
    // --store: every result goes there too, committed before the site goes on.
    void setStore(LineStore *store) { m_store = store; }

    // `image` and `serial` (the --serial settings) when the command has them.
    // `extra`: further keys (the job and what overrides it).
    void start(const QString &command, const QStringList &sites, const JsonLine &image, const JsonLine &serial = {},
               const JsonLine &extra = {});
    // Site `index`, named `site`: a step begins.
    void step(const QString &site, int index, int round, Step step);
    // `inner` (a bar) with progress events beside it, at most ten a second.
    Progress progress(const QString &site, int index, int round, Step step, const Progress &inner);
    // A chip's result in `round` (`outcome` decides the count); kept in the log too, with
    // `image`, when given, the sums of what went into the chip (not the command's image).
    // Fails when the log could not keep it.
    Status result(const JsonLine &result, int index, int round, const QString &outcome, const JsonLine &image = {});
    // A serial number taken for the chip in `site`'s socket, told and kept in the log before
    // that chip is written. Fails when the log could not keep it.
    Status serial(const QString &site, int index, int round, quint64 number);
    // Why a command was refused before it reached a board.
    void refused(const QString &message, int status);
    void summary(int status);
    // --count: the lot's size, so that a round and the summary say how many are still to go.
    void setLot(int chips) { m_lot = chips; }
    // --repeat: the end of a round, with the counts of all sites so far.
    void round(int round);
    // Any other object (ports' devices, list's rows).
    void event(const char *name, const JsonLine &fields);

private:
    JsonLine begin(const char *event) const;
    JsonLine counts() const;
    void put(const JsonLine &line, LineEvent::Kind kind, int site = -1, int round = 0);
    Status appendToLog(const JsonLine &line);
    Teller &m_t;
    QString m_logPath;
    QString m_startTime;  // the run's start, as its start event tells it
    QString m_run;      // the run's name in every record, unique across processes and hosts
    JsonLine m_image;
    AppendLog m_log;
    LineStore *m_store = nullptr;
    std::recursive_mutex m_lock;
    bool m_started = false;
    int m_lot = 0;
    int m_rounds = 0, m_chips = 0, m_passed = 0, m_failed = 0, m_empty = 0;
};
