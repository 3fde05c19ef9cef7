// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli: the device commands from a shell, a script or a Makefile, over the same
// core as the window. Parses its arguments, picks the command from the table in
// commands.cpp, and tells the outcome by its exit status.
#include "cli.h"
#include "version.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <functional>

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
    if (args.size() != (command->argument ? 2 : 1)) {
        t.failure(QStringLiteral("voralith-cli: %1 takes %2 (see voralith-cli --help).")
                      .arg(name, command->argument ? QStringLiteral("one argument") : QStringLiteral("no argument")));
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

// The command named on the command line, with its checks; `stop` is set to stop it while
// it runs. `worked` says whether it got as far as a board.
int runCommand(const QCommandLineParser &p, const Options &o, bool parsed, Terminal &t, Records &r,
               std::function<void()> &stop, bool *worked, const JobRun *job)
{
    if (parsed && p.isSet(o.help)) {
        t.print(helpText(p));
        return Success;
    }
    if (parsed && p.isSet(o.version)) {
        t.print(QStringLiteral("voralith-cli %1\n").arg(QStringLiteral(VORALITH_VERSION_STRING)));
        return Success;
    }
    if (!parsed) {
        t.failure(QStringLiteral("voralith-cli: %1 (see voralith-cli --help).").arg(p.errorText()));
        return Usage;
    }
    const Command *command = pickCommand(p, t);
    if (!command)
        return Usage;
    Cli cli(p, o, t, r, job);
    stop = [&cli] { cli.stop(); };
    const int status = cli.run(*command, p.positionalArguments().value(1));
    stop = [] {};
    *worked = cli.sitesStarted();
    return status;
}

// A stop by a signal ends as a shell tells a death by it, whatever the command found; a
// reader that has gone as SIGPIPE would; output that could not be written as wrong use,
// unless the command failed with a higher status.
int exitStatus(int status, const Terminal &t)
{
    if (const int bySignal = stopsignals::stopStatus())
        return bySignal;
    if (t.pipeClosed())
        return PipeClosed;
    if (t.broken())
        return std::max(status, int(Usage));
    return status;
}

}  // namespace

int main(int argc, char **argv)
{
    stopsignals::guardStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("voralith-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));

    Options o;
    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.setApplicationDescription(
        QStringLiteral("Drives the programmer board of AT89C51/AT89C52 flash microcontrollers.\n\n") + commandsHelp());
    const QList<QCommandLineOption> options{o.help, o.version, o.port, o.com, o.yes, o.quiet, o.format,
                                            o.chip, o.noErase, o.repeat, o.json, o.log, o.serial, o.serialFile,
                                            o.serialStart, o.serialStep, o.lock, o.count, o.job, o.probe};
    p.addOptions(options);
    p.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("One of the commands above, with its argument."),
                            QStringLiteral("COMMAND [ARGUMENT]"));

    bool parsed = p.parse(app.arguments());
    // --job: parsed again with the job's options before the command line's.
    std::optional<Result<JobRun>> job;
    if (parsed && p.isSet(o.job)) {
        job = withJob(p, options, app.arguments(), p.value(o.job));
        if (*job)
            parsed = p.parse(job->value().arguments);
    }
    // A refused argument is told in JSON too when --json came before it.
    const bool json = parsed ? p.isSet(o.json) : app.arguments().contains(QStringLiteral("--json"));
    Terminal t(parsed && p.isSet(o.quiet), json);
    Records r(t);
    std::function<void()> stop = [] {};
    stopsignals::install([&stop] { stop(); });
    t.setOnBroken([&stop] { stop(); });
    int status = undecodableArgument(argc, argv, app.arguments(), t);
    if (status == Success && job && !*job) {
        t.failure(QStringLiteral("voralith-cli: ") + job->message());
        status = Usage;
    }
    bool worked = false;
    if (status == Success)
        status = runCommand(p, o, parsed, t, r, stop, &worked, job ? &job->value() : nullptr);
    // The summary is the last line, whatever ended the command; a command refused before
    // it reached a board says why just before it.
    status = exitStatus(status, t);
    if (status != Success && !worked)
        r.refused(t.lastFailure(), status);
    r.summary(status);
    t.finish();
    return exitStatus(status, t);
}
