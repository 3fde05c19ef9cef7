// SPDX-License-Identifier: GPL-3.0-or-later
// Output, questions and progress bars of voralith-cli.
#include "terminal.h"

#include <cstdio>
#include <iostream>
#include <string>
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

Terminal::Terminal(bool quiet)
    : m_quiet(quiet), m_barsOnTerminal(isatty(STDERR_FILENO)), m_typed(isatty(STDIN_FILENO))
{
}

Terminal::~Terminal()
{
    endBar();
}

void Terminal::endBar()
{
    if (m_bar && m_bar->open && m_barsOnTerminal)
        std::fputs("\n", stderr);
    if (m_bar)
        m_bar->open = false;
    m_bar.reset();
}

void Terminal::result(const QString &text)
{
    endBar();
    if (m_quiet)
        return;
    std::fputs(forTerminal(text + QLatin1Char('\n')).constData(), stdout);
    std::fflush(stdout);
}

void Terminal::failure(const QString &text)
{
    endBar();
    std::fflush(stdout);
    std::fputs(forTerminal(text + QLatin1Char('\n')).constData(), stderr);
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
        std::fprintf(stderr, "%s...\n", name.toLocal8Bit().constData());
        return {};
    }
    auto bar = std::make_shared<Bar>();
    bar->name = name.toLocal8Bit();
    m_bar = bar;
    std::fprintf(stderr, "\r%-12s", bar->name.constData());
    return Progress{[bar](double m) { bar->maximum = m; },
                    [bar](double v) {
                        if (!bar->open)
                            return;
                        const double frac = bar->maximum > 0 ? std::clamp(v / bar->maximum, 0.0, 1.0) : 1.0;
                        const int pct = int(frac * 100);
                        if (pct == bar->shown)
                            return;
                        bar->shown = pct;
                        const int filled = int(frac * barWidth);
                        std::fprintf(stderr, "\r%-12s [%s%s] %3d%%", bar->name.constData(),
                                     QByteArray(filled, '#').constData(),
                                     QByteArray(barWidth - filled, ' ').constData(), pct);
                        std::fflush(stderr);
                    }};
}

bool Terminal::ask(const QString &question)
{
    endBar();
    std::fflush(stdout);
    std::fputs(forTerminal(question + QStringLiteral(" [y/N] ")).constData(), stderr);
    std::fflush(stderr);
    const auto answer = readLine();
    if (!answer)
        std::fputs("\n", stderr);
    const QString a = answer.value_or(QString()).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes");
}

std::optional<QString> Terminal::readLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    return QString::fromLocal8Bit(line.c_str());
}

void Terminal::prompt(const QString &text)
{
    endBar();
    if (!m_typed)
        return;
    std::fputs(forTerminal(text).constData(), stderr);
    std::fflush(stderr);
}
