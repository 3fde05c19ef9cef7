// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's arguments: the help as the manual page is made from it, names that are no
// text, and the command picked from the table with the options that are for others.
#include "cli.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

const char *const kExitStatus =
    "\nExit status:\n"
    "  0  success\n"
    "  1  a difference, data found, or a byte that read back wrong\n"
    "  2  wrong use, or a bad or refused file (also: a question answered no)\n"
    "     or output that could not be written (a full disk, a closed output)\n"
    "  3  no answer, no chip, an unknown chip (or not the one --chip names),\n"
    "     or a port that cannot be opened\n"
    "  130  stopped by Ctrl+C (SIGINT); the port is closed and restored first\n"
    "  141  the reader of standard output or error has gone (a pipe into head)\n"
    "  143  stopped by SIGTERM; the port is closed and restored first\n"
    "With several --port: 0 when every board succeeded, else the highest status\n"
    "among them.\n";

bool commandTakes(const Command &command, const char *option)
{
    return std::any_of(std::begin(command.only), std::end(command.only),
                       [option](const char *o) { return o && std::strcmp(o, option) == 0; });
}

const Command *findCommand(const QString &name)
{
    for (const Command &c : commands()) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

}  // namespace

// The program's own name in the help's first line, not the path it was started by (the
// manual page is made from the help).
QString helpText(const QCommandLineParser &p)
{
    QString text = p.helpText();
    const QString usage = QStringLiteral("Usage: ");
    if (text.startsWith(usage)) {
        qsizetype end = usage.size();
        while (end < text.size() && !text.at(end).isSpace())
            ++end;
        if (end > usage.size())
            text.replace(usage.size(), end - usage.size(), QStringLiteral("voralith-cli"));
    }
    return text + QString::fromLatin1(kExitStatus);
}

// A name that is not valid text here would be opened or made under another name: the
// arguments are taken exactly as given, or not at all.
int undecodableArgument(int argc, char **argv, const QStringList &given, Terminal &t)
{
    for (int i = 1; i < argc && i < given.size(); ++i) {
        const QByteArray raw(argv[i]);
        if (!given[i].contains(QChar::ReplacementCharacter) || QFile::encodeName(given[i]) == raw)
            continue;
        QString shown;
        for (char c : raw)
            shown += quint8(c) >= 0x20 && quint8(c) < 0x7F ? QString(QLatin1Char(c))
                                                           : QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
        t.failure(QStringLiteral("voralith-cli: \"%1\" is not valid UTF-8, so it cannot be used as it is; give "
                                 "the file a name in UTF-8.")
                      .arg(shown));
        return Usage;
    }
    return Success;
}

// The command the arguments name, with its argument count and the options that are for
// another command checked; nullptr once what is wrong is told.
const Command *pickCommand(const QCommandLineParser &p, Terminal &t)
{
    const QStringList args = p.positionalArguments();
    if (args.isEmpty()) {
        t.failure(QStringLiteral("voralith-cli: no command given (see voralith-cli --help)."));
        return nullptr;
    }
    const QString &name = args.constFirst();
    const Command *command = findCommand(name);
    if (!command) {
        t.failure(QStringLiteral("voralith-cli: unknown command \"%1\" (see voralith-cli --help).").arg(name));
        return nullptr;
    }
    // An argument of two words ("WHAT URL") is two arguments.
    const qsizetype wanted = command->argument ? 2 + QByteArray(command->argument).count(' ') : 1;
    if (args.size() != wanted) {
        t.failure(QStringLiteral("voralith-cli: %1 takes %2 (see voralith-cli --help).")
                      .arg(name, wanted == 1   ? QStringLiteral("no argument")
                                 : wanted == 2 ? QStringLiteral("one argument")
                                               : QStringLiteral("two arguments")));
        return nullptr;
    }
    // An option that is for some commands only, given to another.
    for (const Command &c : commands()) {
        for (const char *option : c.only) {
            if (!option || !p.isSet(QString::fromLatin1(option)) || commandTakes(*command, option))
                continue;
            QStringList takers;
            for (const Command &other : commands()) {
                if (commandTakes(other, option))
                    takers << QString::fromLatin1(other.name);
            }
            t.failure(QStringLiteral("voralith-cli: --%1 is for %2 only.")
                          .arg(QString::fromLatin1(option), takers.join(QLatin1String(" and "))));
            return nullptr;
        }
    }
    return command;
}

