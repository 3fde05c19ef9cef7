// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's commands: one object per run holds the parsed options, the terminal and the
// production line (line.h: its sites, one board each, given by --port), and the table of
// commands says how each is named, shown and run. What is asked and loaded is done once
// here; what is done to a chip is done by the line's sites, each in a thread of its own.
#pragma once

#include "checksums.h"
#include "image.h"
#include "job.h"
#include "line.h"
#include "options.h"
#include "pgstore.h"
#include "records.h"
#include "serialnumber.h"
#include "signals.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

class Cli;

// --job: the job, the arguments to parse with its options in, and the options the command
// line gave beside it that override the job's (`image` for a FILE given).
struct JobRun {
    Job job;
    QStringList arguments;
    QStringList overrides;
};
Result<JobRun> withJob(const QCommandLineParser &p, const QList<QCommandLineOption> &options,
                       const QStringList &arguments, const QString &jobPath);

class Cli;

struct Command {
    const char *name;
    const char *argument;  // the argument's name in the help; nullptr when it takes none
    const char *help;      // its lines in the help, parted by \n
    int (*run)(Cli &cli, const QString &argument);
    bool needsPort;        // --port and --com are taken before it runs
    const char *only[10];   // the options that are for this command (and others that list them) only, no dashes
};

// Every command, in the order the help shows them.
std::span<const Command> commands();
// The help's "Commands:" section and what it says of FILE, made from the table.
QString commandsHelp();

// The help, with the program's own name in its first line and the exit statuses after it.
QString helpText(const QCommandLineParser &p);
// An argument that is not valid text here is refused (told on `t`): Usage, else Success.
int undecodableArgument(int argc, char **argv, const QStringList &given, Terminal &t);
// The command the arguments name, with its argument count and the options that are for
// another command checked; nullptr once what is wrong is told.
const Command *pickCommand(const QCommandLineParser &p, Terminal &t);

class Cli {
public:
    Cli(const QCommandLineParser &p, const Options &o, Terminal &t, Records &r, const JobRun *job = nullptr);
    ~Cli();
    // The options every command takes checked, the ports set up if the command needs them,
    // and the command run; its exit status.
    int run(const Command &command, const QString &argument);
    // Ctrl+C, SIGTERM or output that cannot be written: each site's wait in hand ends, and
    // the command ends through its normal path (the ports closed, a note of a broken-off
    // change kept). From any thread.
    void stop();

    int identify();
    int blank();
    int read(const QString &path);
    int write(const QString &path);
    int verify(const QString &path);
    int erase();
    int lock(const QString &bits);
    int list(const QString &path);
    int program(const QString &path);
    int ports();
    int store(const QString &what);

    // Once stopped: the status a site's work that the stop ended gives, the process's own
    // (130, 143, 141; 2 for output that could not be written), and the words for it.
    int stopStatus() const;
    QString stopReason() const;
    // Whether any site started: a command that failed before was refused.
    bool sitesStarted() const { return m_sitesStarted; }
    QString commandName() const { return QString::fromLatin1(m_command->name); }

private:
    bool stopped() const { return m_stopped || stopsignals::stopStatus() != 0; }
    int setUpPorts();
    int setUpSerial();
    int setUpLot();
    // --store: the store opened and its tables and counter checked, before anything is sent.
    int setUpStore(const QString &argument);
    // The results the store missed told, and a store lost during the run its status (3).
    int endStore(int status);
    // The line for a command that works on a chip, once its options are checked.
    void makeLine();
    // Before the sites' first work: the terminal learns their names, and typing is hidden.
    void sitesBegin();
    // `job` on every site at once, each in its thread; the highest status among them. The
    // sites are made on the first call and kept until the command ends.
    int onSites(const std::function<int(Site &)> &job);
    // With several sites, each site's result named; the highest status among them.
    int summarise(const std::vector<int> &statuses);
    // --json and --log: the command's start (once, with the image it was given when there
    // is one).
    void begin(const Image *image = nullptr);
    // The format --format gives (checked to be bin or hex before any command runs).
    std::optional<ImageFormat> givenFormat() const
    {
        if (!m_p.isSet(m_o.format))
            return std::nullopt;
        return m_p.value(m_o.format) == QLatin1String("hex") ? ImageFormat::IntelHex : ImageFormat::Binary;
    }
    int loadFile(const QString &path, Image *image);
    // Write, verify and program: the file loaded and holding data, before any board is used.
    int loadImageFor(const QString &path, Image *image);
    // Write and program: the image loaded, its serial number's place checked, and the
    // question (`title`) answered, before any site starts.
    int prepareChange(const QString &path, const QString &title, Image *image);
    int fileFailure(const QString &text)
    {
        m_t.failure(text);
        return Usage;
    }
    bool confirm(const QString &title, const QString &explanation = {});

    // program: one chip on each site, or with --repeat round after round.
    int programChips();
    void tellRound(const RoundEnd &end);
    bool nextChip();

    const QCommandLineParser &m_p;
    const JobRun *m_job;
    const Options &m_o;
    Terminal &m_t;
    Records &m_r;
    const Command *m_command = nullptr;
    bool m_deviceCommand = false;  // one that works on a chip: it gives results
    LineSettings m_settings;       // what the options give the line
    std::unique_ptr<PgStore> m_store;  // made before the line, which uses it, and ended after it
    std::unique_ptr<Line> m_line;
    bool m_sitesStarted = false;
    std::mutex m_lineLock;  // a stop from another thread finds the line whole
    std::atomic<bool> m_stopped = false;
};
