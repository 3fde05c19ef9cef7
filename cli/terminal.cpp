// SPDX-License-Identifier: GPL-3.0-or-later
// Output, questions and progress bars of voralith-cli.
#include "terminal.h"

#include "signals.h"

#include <cerrno>
#include <cstring>
#include <utility>
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define STDIN_FILENO 0
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

namespace {
constexpr int barWidth = 30;

// Texts of the core separate their paragraphs with CR LF, as the window's message boxes
// want them; a terminal wants LF.
QByteArray forTerminal(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return t.toLocal8Bit();
}
}  // namespace

struct Terminal::SiteLine {
    QByteArray step;  // the step in hand, padded
    int shown = -1;   // its percent, -1 before the first
    QByteArray end;   // the site's last word, once it has one
};

struct Terminal::Bar {
    QByteArray name;
    int shown = -1;  // percent drawn last
    bool open = true;
};

Terminal::Terminal(bool quiet, bool json)
    : m_quiet(quiet), m_json(json), m_barsOnTerminal(!json && isatty(STDERR_FILENO)), m_typed(isatty(STDIN_FILENO))
{
}

Terminal::~Terminal()
{
    endBar();
    if (m_typed)
        stopsignals::echoTypedInput(true);
}

bool Terminal::put(std::FILE *stream, const QByteArray &bytes)
{
    if (stream == stdout ? m_outBroken : m_errBroken)
        return false;
    errno = 0;
    const std::size_t written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    if (written == std::size_t(bytes.size()) && std::fflush(stream) == 0 && !std::ferror(stream))
        return true;
    fail(stream, errno ? errno : EIO);
    return false;
}

void Terminal::fail(std::FILE *stream, int error)
{
    (stream == stdout ? m_outBroken : m_errBroken) = true;
    // A reader that has gone (voralith-cli list x.hex | head -1) wants nothing more: no word.
    if (error == EPIPE)
        m_pipeClosed = true;
    else if (stream == stdout)
        put(stderr, QStringLiteral("voralith-cli: standard output could not be written: %1.\n")
                        .arg(QString::fromLocal8Bit(std::strerror(error)))
                        .toLocal8Bit());
    if (m_onBroken)
        m_onBroken();
}

void Terminal::finish()
{
    const std::lock_guard hold(m_lock);
    endBar();
    for (std::FILE *stream : {stdout, stderr}) {
        if (!(stream == stdout ? m_outBroken : m_errBroken) && (std::fflush(stream) != 0 || std::ferror(stream)))
            fail(stream, errno ? errno : EIO);
    }
}

void Terminal::endBar()
{
    if (m_bar && m_bar->open && m_barsOnTerminal)
        put(stderr, "\n");
    if (m_bar)
        m_bar->open = false;
    m_bar.reset();
}

void Terminal::setSites(const QStringList &names)
{
    const std::lock_guard hold(m_lock);
    m_sites = names;
    m_siteLines.assign(std::size_t(names.size()), SiteLine());
    m_linesDrawn = 0;
}

QByteArray Terminal::named(const QString &text, int site) const
{
    QByteArray bytes = forTerminal(text);
    if (site < 0 || m_sites.size() < 2)
        return bytes + '\n';
    const QByteArray name = m_sites.at(site).toLocal8Bit() + ": ";
    QByteArray out;
    for (const QByteArray &line : bytes.split('\n'))
        out += line.isEmpty() ? QByteArray("\n") : name + line + '\n';
    return out;
}

void Terminal::tell(std::FILE *stream, const QByteArray &text)
{
    if (!live() || m_linesDrawn == 0) {
        put(stream, text);
        return;
    }
    // Up to the first site's line, everything below it cleared.
    put(stderr, "\x1b[" + QByteArray::number(m_linesDrawn) + "F\x1b[J");
    m_linesDrawn = 0;
    put(stream, text);
    drawSiteLines();
}

QByteArray Terminal::siteLines() const
{
    // A line longer than the terminal would wrap, and the lines would no longer be found
    // where they were drawn: the device's name gives way to the step and its bar, keeping
    // its tail (where /dev/serial/by-id names differ), and the site's number tells apart
    // two names cut alike.
    const int columns = std::max(20, stopsignals::terminalColumns() - 1);
    const int numberWidth = int(QByteArray::number(m_sites.size()).size());
    constexpr int stepAndBar = 12 + 2 + barWidth / 2 + 2 + 4;
    qsizetype width = 0;
    for (const QString &name : m_sites)
        width = std::max(width, name.toLocal8Bit().size());
    width = std::min(width, qsizetype(std::max(8, columns - numberWidth - 1 - 2 - stepAndBar)));
    QByteArray all;
    for (std::size_t i = 0; i < m_siteLines.size(); ++i) {
        const SiteLine &s = m_siteLines[i];
        QByteArray name = m_sites.at(qsizetype(i)).toLocal8Bit();
        if (name.size() > width)
            name = "..." + name.right(width - 3);
        QByteArray line = QByteArray::number(qsizetype(i) + 1).rightJustified(numberWidth) + ' ' +
                          name.leftJustified(width) + "  ";
        if (!s.end.isEmpty()) {
            line += s.end;
        } else {
            line += s.step;
            if (s.shown >= 0) {
                const int filled = s.shown * (barWidth / 2) / 100;
                line += " [" + QByteArray(filled, '#') + QByteArray(barWidth / 2 - filled, ' ') + "] " +
                        QByteArray::number(s.shown).rightJustified(3) + '%';
            }
        }
        all += "\x1b[2K" + line.left(columns) + '\n';
    }
    return all;
}

void Terminal::drawSiteLines()
{
    QByteArray out;
    if (m_linesDrawn)
        out = "\x1b[" + QByteArray::number(m_linesDrawn) + 'F';
    out += siteLines();
    m_linesDrawn = int(m_siteLines.size());
    put(stderr, out);
}

void Terminal::siteEnds(int site, const QString &word)
{
    const std::lock_guard hold(m_lock);
    if (!live() || site < 0 || std::size_t(site) >= m_siteLines.size())
        return;
    m_siteLines[std::size_t(site)].end = word.toLocal8Bit();
    drawSiteLines();
}

void Terminal::closeSiteLines()
{
    const std::lock_guard hold(m_lock);
    m_linesDrawn = 0;
    m_siteLines.assign(m_siteLines.size(), SiteLine());
}

void Terminal::result(const QString &text, int site)
{
    const std::lock_guard hold(m_lock);
    endBar();
    if (m_quiet)
        return;
    tell(m_json ? stderr : stdout, named(text, site));
}

void Terminal::print(const QString &text)
{
    const std::lock_guard hold(m_lock);
    put(stdout, text.toLocal8Bit());
}

void Terminal::failure(const QString &text, int site)
{
    const std::lock_guard hold(m_lock);
    endBar();
    m_lastFailure = text;
    tell(stderr, named(text, site));
}

void Terminal::note(const QString &text, int site)
{
    if (!m_quiet)
        failure(text, site);
}

Progress Terminal::step(const QString &name, int site)
{
    const std::lock_guard hold(m_lock);
    endBar();
    if (m_quiet)
        return {};
    if (live() && site >= 0)
        return siteStep(name, site);
    if (!m_barsOnTerminal || m_sites.size() > 1) {
        put(stderr, named(name + QStringLiteral("..."), site));
        return {};
    }
    auto bar = std::make_shared<Bar>();
    bar->name = name.toLocal8Bit().leftJustified(12);
    m_bar = bar;
    put(stderr, "\r" + bar->name);
    return Progress{[this, bar](qint64 done, qint64 total) {
                        const std::lock_guard hold(m_lock);
                        if (!bar->open)
                            return true;
                        const double frac = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 1.0;
                        const int pct = int(frac * 100);
                        if (pct == bar->shown)
                            return true;
                        bar->shown = pct;
                        const int filled = int(frac * barWidth);
                        put(stderr, "\r" + bar->name + " [" + QByteArray(filled, '#') +
                                        QByteArray(barWidth - filled, ' ') + "] " +
                                        QByteArray::number(pct).rightJustified(3) + '%');
                        return true;
                    }};
}

// A site's step on its own line: the line drawn again when its percent moves.
Progress Terminal::siteStep(const QString &name, int site)
{
    SiteLine &line = m_siteLines[std::size_t(site)];
    line = SiteLine();
    line.step = name.toLocal8Bit().leftJustified(12);
    drawSiteLines();
    return Progress{[this, site](qint64 done, qint64 total) {
        const std::lock_guard hold(m_lock);
        SiteLine &l = m_siteLines[std::size_t(site)];
        const double frac = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 1.0;
        const int pct = int(frac * 100);
        if (pct == l.shown || !l.end.isEmpty() || m_linesDrawn == 0)
            return true;
        l.shown = pct;
        drawSiteLines();
        return true;
    }};
}

bool Terminal::ask(const QString &question)
{
    const QString a = answered(question + QStringLiteral(" [y/N] "), true).value_or(QString()).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes");
}

std::optional<QString> Terminal::answered(const QString &text, bool always)
{
    // Only what is typed once the question is shown answers it: keys pressed while a round
    // ran (Enter pressed twice) would start the next round on the same chips. Thrown away
    // before the question appears, so that nothing typed after it is.
    if (m_typed) {
        stopsignals::discardTypedInput();
        m_input.clear();
        stopsignals::echoTypedInput(true);
    }
    {
        const std::lock_guard hold(m_lock);
        endBar();
        if (always || m_typed)
            put(stderr, forTerminal(text));
    }
    const auto line = readLine();
    if (m_typed)
        stopsignals::echoTypedInput(false);
    // What follows starts on a line of its own, not after the question or a "^C".
    if (!line && (always || m_typed)) {
        const std::lock_guard hold(m_lock);
        put(stderr, "\n");
    }
    return line;
}

void Terminal::hideTyping()
{
    if (m_typed)
        stopsignals::echoTypedInput(false);
}

std::optional<QString> Terminal::readLine()
{
    // A question or prompt that could not be shown is not waited on: the command ends.
    if (broken())
        return std::nullopt;
    for (;;) {
        if (const qsizetype end = m_input.indexOf('\n'); end >= 0) {
            const QByteArray line = m_input.left(end);
            m_input.remove(0, end + 1);
            return QString::fromLocal8Bit(line);
        }
        if (m_inputEnded) {
            if (m_input.isEmpty())
                return std::nullopt;
            return QString::fromLocal8Bit(std::exchange(m_input, {}));
        }
        char chunk[4096];
        const long long got = stopsignals::readInput(chunk, sizeof chunk);
        if (got > 0) {
            m_input.append(chunk, qsizetype(got));
            continue;
        }
        m_inputEnded = true;
        // A line half typed when a stop came is no answer.
        if (got < 0)
            m_input.clear();
    }
}

std::optional<QString> Terminal::prompted(const QString &text)
{
    return answered(text, false);
}
