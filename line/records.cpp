// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON lines of voralith-cli and the log of every chip.
#include "records.h"

#include "checksums.h"
#include "version.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSysInfo>
#include <QJsonDocument>
#include <memory>

JsonLine &JsonLine::raw(const char *key, const QByteArray &json)
{
    if (!m_body.isEmpty())
        m_body += ',';
    m_body += QJsonDocument(QJsonArray{QString::fromLatin1(key)}).toJson(QJsonDocument::Compact).chopped(1).mid(1) +
              ':' + json;
    return *this;
}

JsonLine &JsonLine::add(const char *key, const QJsonValue &value)
{
    // A lone value is written as the one element of an array, without its brackets.
    return raw(key, QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1));
}

JsonLine &JsonLine::append(const JsonLine &other)
{
    if (!m_body.isEmpty() && !other.m_body.isEmpty())
        m_body += ',';
    m_body += other.m_body;
    return *this;
}

QString isoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString jsonStep(Step step)
{
    switch (step) {
    case Step::Identify: return QStringLiteral("identify");
    case Step::Erase: return QStringLiteral("erase");
    case Step::BlankCheck: return QStringLiteral("blank");
    case Step::Read: return QStringLiteral("read");
    case Step::Write: return QStringLiteral("write");
    case Step::Verify: return QStringLiteral("verify");
    case Step::Lock: return QStringLiteral("lock");
    }
    return {};
}

QString jsonHex(qint64 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

JsonLine imageObject(const QString &path, const QByteArray &bytes)
{
    return JsonLine().add("path", path).append(sumsFields(bytes));
}

JsonLine sumsFields(const QByteArray &bytes)
{
    const ImageSums sums = imageSums(bytes);
    return JsonLine()
        .add("length", qint64(sums.length))
        .add("sum", jsonHex(sums.sum, 4))
        .add("crc32", jsonHex(sums.crc32, 8));
}

Records::Records(Teller &t) : m_t(t), m_startTime(isoTime(QDateTime::currentDateTime()))
{
    // Two stations may start in the same millisecond, and two runs on one host never share
    // a process number while both live.
    m_run = QStringLiteral("%1 %2 %3")
                .arg(m_startTime, QSysInfo::machineHostName())
                .arg(QCoreApplication::applicationPid());
}

JsonLine Records::begin(const char *event) const
{
    return JsonLine().add("event", QString::fromLatin1(event)).add("time", isoTime(QDateTime::currentDateTime()));
}

void Records::put(const JsonLine &line, LineEvent::Kind kind, int site, int round)
{
    m_t.event(LineEvent{kind, site, round, line.text()});
}

void Records::event(const char *name, const JsonLine &fields)
{
    const std::lock_guard hold(m_lock);
    put(begin(name).append(fields), LineEvent::Other);
}

void Records::start(const QString &command, const QStringList &sites, const JsonLine &image, const JsonLine &serial,
                    const JsonLine &extra)
{
    const std::lock_guard hold(m_lock);
    if (m_started)
        return;
    m_started = true;
    m_image = image;
    // Its time is the run's start, which every log line of this command names in its run.
    JsonLine line = JsonLine().add("event", QStringLiteral("start")).add("time", m_startTime);
    line.add("command", command).add("sites", QJsonArray::fromStringList(sites))
        .add("version", QStringLiteral(VORALITH_VERSION_STRING));
    if (!image.isEmpty())
        line.add("image", image);
    if (!serial.isEmpty())
        line.add("serial", serial);
    line.add("run", m_run).append(extra);
    put(line, LineEvent::Start);
}

void Records::step(const QString &site, int index, int round, Step step)
{
    const std::lock_guard hold(m_lock);
    put(begin("step").add("site", site).add("round", round).add("step", jsonStep(step)), LineEvent::Step, index, round);
}

Progress Records::progress(const QString &site, int index, int round, Step step, const Progress &inner)
{
    auto last = std::make_shared<QElapsedTimer>();
    return Progress{[this, inner, last, site, index, round, step](qint64 done, qint64 total) {
        const bool goOn = inner(done, total);
        // The step's own state, in its site's thread: the lock only for a line.
        if (last->isValid() && last->elapsed() < 100)
            return goOn;
        last->start();
        const std::lock_guard hold(m_lock);
        put(begin("progress").add("site", site).add("round", round).add("step", jsonStep(step))
                 .add("done", done).add("total", total),
            LineEvent::Progress, index, round);
        return goOn;
    }};
}

Status Records::result(const JsonLine &result, int index, int round, const QString &outcome, const JsonLine &image)
{
    JsonLine record;
    {
        const std::lock_guard hold(m_lock);
        m_rounds = std::max(m_rounds, round);
        ++m_chips;
        ++(outcome == QLatin1String("passed") ? m_passed : outcome == QLatin1String("empty") ? m_empty : m_failed);
        JsonLine line = begin("result").append(result);
        if (!image.isEmpty())
            line.add("image", image);
        put(line, LineEvent::Result, index, round);
        if (!m_log.isOpen() && !m_store)
            return {};
        record = line;
        record.add("run", m_run);
        // A chip given the command's image: the image of the start.
        if (image.isEmpty() && m_image.isEmpty())
            record.add("image", QJsonValue());
        else if (image.isEmpty())
            record.add("image", m_image);
    }
    Status logged = m_log.isOpen() ? appendToLog(record) : Status();
    // The store gets the line the log keeps, also when the log failed (which is told first).
    if (m_store) {
        if (Status s = m_store->recordResult(QJsonDocument::fromJson(record.text()).object()); !s && logged)
            return s;
    }
    return logged;
}

Status Records::serial(const QString &site, int index, int round, quint64 number)
{
    JsonLine line;
    {
        const std::lock_guard hold(m_lock);
        line = begin("serial").add("site", site).add("round", round).number("serial", number).add("run", m_run);
        put(line, LineEvent::Serial, index, round);
    }
    return m_log.isOpen() ? appendToLog(line) : Status();
}

// Outside the lock: a line's one write on a file opened for appending lands whole beside
// another site's, and one site's wait for the disk holds up no other site's output.
Status Records::appendToLog(const JsonLine &line)
{
    return m_log.append(line.text() + '\n');
}

void Records::refused(const QString &message, int status)
{
    const std::lock_guard hold(m_lock);
    QString text = message;
    put(begin("refused").add("message", text.replace(QLatin1String("\r\n"), QLatin1String("\n"))).add("status", status),
        LineEvent::Refused);
}

JsonLine Records::counts() const
{
    JsonLine line = JsonLine().add("passed", m_passed).add("failed", m_failed).add("empty", m_empty);
    if (m_lot)
        line.add("to_go", std::max(0, m_lot - m_passed));
    return line;
}

void Records::round(int round)
{
    const std::lock_guard hold(m_lock);
    put(begin("round").add("round", round).append(counts()), LineEvent::Round, -1, round);
}

void Records::summary(int status)
{
    const std::lock_guard hold(m_lock);
    JsonLine line = begin("summary").add("rounds", m_rounds).add("passed", m_passed).add("failed", m_failed)
                        .add("empty", m_empty).add("status", status).add("chips", m_chips);
    if (m_lot)
        line.add("to_go", std::max(0, m_lot - m_passed));
    put(line, LineEvent::Summary);
}
