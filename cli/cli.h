// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's commands: one object per run holds the parsed options, the terminal, the
// records and the sites (one board each, given by --port), and the table of commands says
// how each is named, shown and run. What is asked and loaded is done once here; what is done
// to a chip is done by each site (site.h) in a thread of its own.
#pragma once

#include "checksums.h"
#include "image.h"
#include "job.h"
#include "options.h"
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

enum Exit {
    Success = 0,
    Different = 1,  // a difference, data found, a byte that read back wrong
    Usage = 2,      // wrong use, a bad or refused file
    NoBoard = 3,    // no answer, no chip, an unknown or other chip, a port that cannot be opened
    PipeClosed = 141,  // the reader of standard output or error has gone, as a shell tells SIGPIPE
};

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
class Site;
class Sites;
struct ChipInfo;
struct Outcome;

// The exit status of an outcome, by the table in --help.
int exitFor(const Outcome &o);

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

// One board's port as the options give it: how the site's link is set up in its thread.
struct SitePort {
    QString name;                       // the site as told and recorded: the device as given
    int number = 2;                     // the port number its link uses
    QList<QPair<int, QString>> mapped;  // the port numbers mapped for this run
    QString given;                      // --port DEVICE as typed; empty for ComN
    QString device;                     // the device it leads to
};

// What one site's program of one chip came to.
struct SiteChip {
    int status = 0;
    QString result;  // "passed", "failed" or "empty"
    bool noteRefused = false;
};

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

    // What the sites share, read-only while they run (the terminal and records lock).
    Terminal &terminal() { return m_t; }
    Records &records() { return m_r; }
    const ChipInfo *wanted() const { return m_wanted; }
    bool noErase() const { return m_p.isSet(m_o.noErase); }
    bool repeating() const { return m_p.isSet(m_o.repeat) || m_lot > 0; }
    // --lock: the lock bits each chip gets once verified (0: none).
    int lockBits() const { return m_lockBits; }
    QString commandName() const { return QString::fromLatin1(m_command->name); }
    bool stopped() const { return m_stopped || stopsignals::stopStatus() != 0; }
    // Whether any site started: a command that failed before was refused.
    bool sitesStarted() const { return m_sitesStarted; }
    // Once stopped: the status a site's work that the stop ended gives, the process's own
    // (130, 143, 141; 2 for output that could not be written), and the words for it.
    int stopStatus() const;
    QString stopReason() const;
    // --serial: where the number goes; nothing without it.
    const std::optional<SerialPlace> &serialPlace() const { return m_serialPlace; }
    // The command's image file as given.
    const QString &imagePath() const { return m_imagePath; }
    // A number for the chip in `site`'s socket: the counter holds the next one on the disk,
    // and the log this one, before it succeeds. A counter that cannot give one stops every
    // site before its next chip. `taken` gets the number once it is spent, also when the
    // log then fails, so that the chip's result names it.
    Status takeSerial(const QString &site, int round, std::optional<quint64> *taken);
    // A result that could not go into the log: said once, and no site starts another chip.
    void logFailed(const QString &why);
    bool logFailing() const { return m_logFailed; }

private:
    int setUpPorts();
    int setUpSerial();
    int setUpLot();
    // Before any site starts: the place fits the chip and the image leaves it erased, and
    // the counter file is sound.
    int checkSerial(const Image &image);
    int sameDeviceTwice();
    // `job` on every site at once, each in its thread; the highest status among them. The
    // sites are made on the first call and kept until the command ends.
    int onSites(const std::function<int(Site &)> &job);
    std::vector<int> onEachSite(const std::function<int(Site &)> &job, int active = -1);
    // With several sites, each site's result named; the highest status among them.
    int summarise(const std::vector<int> &statuses);
    // --json and --log: the command's start (once, with the image it was given when there
    // is one); a result for each site that had none, when the command ended before the sites.
    void begin(const JsonLine &image = {});
    void recordUnstarted(int status);
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
    struct Counts;
    int programChips(const Image &image);
    void tellRound(int round, const std::vector<SiteChip> &chips, const std::vector<Counts> &counts, int toGo);
    bool nextChip();

    const QCommandLineParser &m_p;
    const JobRun *m_job;
    const Options &m_o;
    Terminal &m_t;
    Records &m_r;
    const ChipInfo *m_wanted = nullptr;
    const Command *m_command = nullptr;
    bool m_deviceCommand = false;  // one that works on a chip: it gives results
    QList<SitePort> m_ports;
    std::unique_ptr<Sites> m_sites;
    bool m_sitesStarted = false;
    std::mutex m_sitesLock;  // a stop from another thread finds the sites whole
    std::atomic<bool> m_stopped = false;
    std::atomic<bool> m_logFailed = false;
    QString m_imagePath;
    int m_lockBits = 0;
    int m_lot = 0;  // --count: good chips wanted; 0 for no end but the user's
    std::optional<SerialPlace> m_serialPlace;
    std::unique_ptr<SerialCounter> m_counter;
    std::atomic<bool> m_serialFailed = false;
    std::once_flag m_logFailureTold;
};
