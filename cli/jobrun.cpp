// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli --job: the job's options put before the command line's, so that the parser
// reads both as one command line and what is typed beside --job wins.
#include "cli.h"

#include <QFileInfo>

Result<JobRun> withJob(const QCommandLineParser &p, const QList<QCommandLineOption> &options,
                       const QStringList &arguments, const QString &jobPath)
{
    JobKeys known;
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constLast();
        // Not an option of a job: what to show, or the job itself.
        if (QStringList{QStringLiteral("help"), QStringLiteral("version"), QStringLiteral("job"), QStringLiteral("probe")}
                .contains(name))
            continue;
        known.keys << name;
        if (option.valueName().isEmpty())
            known.flags << name;
    }
    Result<Job> loaded = loadJob(jobPath, known);
    if (!loaded)
        return loaded.failure();
    JobRun run;
    run.job = loaded.value();
    QStringList fromJob;
    for (const auto &[key, value] : run.job.options) {
        if (p.isSet(key)) {
            if (!run.overrides.contains(key))
                run.overrides << key;
            continue;
        }
        fromJob << (known.flags.contains(key) ? QStringLiteral("--") + key : QStringLiteral("--%1=%2").arg(key, value));
    }
    run.arguments = arguments.mid(0, 1) + fromJob + arguments.mid(1);
    // program's FILE is the job's image unless one is given.
    if (p.positionalArguments().size() == 1)
        run.arguments << run.job.image;
    else
        run.overrides << QStringLiteral("image");
    return run;
}
