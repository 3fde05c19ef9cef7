// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli: the device commands from a shell, a script or a Makefile, over the same
// core as the window. Parses its arguments, picks the command from the table in
// commands.cpp, and tells the outcome by its exit status.
#include "cli.h"
#include "version.h"

#include <QCoreApplication>
#include <algorithm>
#include <functional>

namespace {

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
                                            o.serialStart, o.serialStep, o.serialCounter, o.store, o.station,
                                            o.lock, o.count, o.job, o.probe, o.since, o.counter};
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
