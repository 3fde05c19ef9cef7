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

struct Terminal::Bar {
    QByteArray name;
    double maximum = 1;
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

void Terminal::result(const QString &text)
{
    endBar();
    if (m_quiet)
        return;
    put(m_json ? stderr : stdout, forTerminal(text + QLatin1Char('\n')));
}

void Terminal::print(const QString &text)
{
    put(stdout, text.toLocal8Bit());
}

void Terminal::failure(const QString &text)
{
    endBar();
    m_lastFailure = text;
    put(stderr, forTerminal(text + QLatin1Char('\n')));
}

void Terminal::note(const QString &text)
{
    if (!m_quiet)
        failure(text);
}

Progress Terminal::step(const QString &name)
{
    endBar();
    if (m_quiet)
        return {};
    if (!m_barsOnTerminal) {
        put(stderr, name.toLocal8Bit() + "...\n");
        return {};
    }
    auto bar = std::make_shared<Bar>();
    bar->name = name.toLocal8Bit().leftJustified(12);
    m_bar = bar;
    put(stderr, "\r" + bar->name);
    return Progress{[bar](double m) { bar->maximum = m; },
                    [this, bar](double v) {
                        if (!bar->open)
                            return;
                        const double frac = bar->maximum > 0 ? std::clamp(v / bar->maximum, 0.0, 1.0) : 1.0;
                        const int pct = int(frac * 100);
                        if (pct == bar->shown)
                            return;
                        bar->shown = pct;
                        const int filled = int(frac * barWidth);
                        put(stderr, "\r" + bar->name + " [" + QByteArray(filled, '#') +
                                        QByteArray(barWidth - filled, ' ') + "] " +
                                        QByteArray::number(pct).rightJustified(3) + '%');
                    }};
}

bool Terminal::ask(const QString &question)
{
    endBar();
    put(stderr, forTerminal(question + QStringLiteral(" [y/N] ")));
    const auto answer = readLine();
    if (!answer)
        put(stderr, "\n");
    const QString a = answer.value_or(QString()).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes");
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

void Terminal::prompt(const QString &text)
{
    endBar();
    if (!m_typed)
        return;
    put(stderr, forTerminal(text));
}
