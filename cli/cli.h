// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's commands: one object per run holds the parsed options, the terminal and the
// link to the board, and the table of commands says how each is named, shown and run.
#pragma once

#include "boardsession.h"
#include "checksums.h"
#include "image.h"
#include "options.h"
#include "records.h"
#include "wholechip.h"
#include "wording.h"
#include "seriallink.h"
#include "signals.h"
#include "terminal.h"
#include "workfolder.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <optional>
#include <span>

enum Exit {
    Success = 0,
    Different = 1,  // a difference, data found, a byte that read back wrong
    Usage = 2,      // wrong use, a bad or refused file
    NoBoard = 3,    // no answer, no chip, an unknown or other chip, a port that cannot be opened
    PipeClosed = 141,  // the reader of standard output or error has gone, as a shell tells SIGPIPE
};

class Cli;

// The exit status of an outcome, by the table in --help.
int exitFor(const Outcome &o);

struct Command {
    const char *name;
    const char *argument;  // the argument's name in the help; nullptr when it takes none
    const char *help;      // its lines in the help, parted by \n
    int (*run)(Cli &cli, const QString &argument);
    bool needsPort;        // --port and --com are taken before it runs
    const char *only[2];   // the options that are for this command only, without their dashes
};

// Every command, in the order the help shows them.
std::span<const Command> commands();
// The help's "Commands:" section and what it says of FILE, made from the table.
QString commandsHelp();

class Cli {
public:
    Cli(const QCommandLineParser &p, const Options &o, Terminal &t, Records &r) : m_p(p), m_o(o), m_t(t), m_r(r) {}
    // The options every command takes checked, the port set up if the command needs it, and
    // the command run; its exit status.
    int run(const Command &command, const QString &argument);
    // Ctrl+C, SIGTERM or output that cannot be written: the wait in hand ends, and the
    // command ends through its normal path (the port closed, a note of a broken-off
    // change kept).
    void stop() { m_link.requestStop(); }

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

private:
    bool stopped() const { return m_link.stopRequested() || stopsignals::stopStatus() != 0; }
    int setUpPort();
    int openAndIdentify(const ChipInfo **chip);
    // Each step shown by its name as it starts; `maximum`, when given, is its bar's end.
    // With --json each step's start and progress are told too.
    ProgressFor steps(double maximum = 0)
    {
        return [this, maximum](Step step) {
            stepStarts(step);
            const Progress bar = m_r.progress(site(), m_round, step, m_t.step(stepName(step)));
            if (maximum > 0)
                bar.maximum(maximum);
            return bar;
        };
    }
    // Tells an outcome: its result, or why it failed; the exit status it gives.
    int report(const Outcome &o);

    // --json and --log: the command's start (once, with the image it was given when there is
    // one), a step that starts, and the result of the round in hand.
    QString site() const { return m_link.portName(); }
    void begin(const JsonLine &image = {});
    void stepStarts(Step step)
    {
        m_step = step;
        m_r.step(site(), m_round, step);
    }
    void record(const Outcome &o, int status, const JsonLine &extra = {});
    // A round that ended with no outcome (a refused file, a port that would not open, a
    // question not asked): its result from what was told.
    void recordFailure(int status);
    JsonLine resultHead(const QString &result, int status, const Outcome &o) const;
    void newRound(int round)
    {
        m_round = round;
        m_roundTime.start();
        m_recorded = false;
        m_step.reset();
        m_id = Outcome();
    }
    // The format --format gives (checked to be bin or hex before any command runs).
    std::optional<ImageFormat> givenFormat() const
    {
        if (!m_p.isSet(m_o.format))
            return std::nullopt;
        return m_p.value(m_o.format) == QLatin1String("hex") ? ImageFormat::IntelHex : ImageFormat::Binary;
    }
    int loadFile(const QString &path, Image *image);
    int fitsChip(const Image &image, const ChipInfo &chip);
    int loadForChip(const QString &path, Image *image, const ChipInfo **chip);
    void printSums(const QString &path, const QByteArray &bytes)
    {
        m_t.result(path + QStringLiteral(": ") + sumsText(imageSums(bytes)));
    }
    int boardFailure(const QString &text)
    {
        // What ends as this program stopped it (its output failed) is no fault of the board.
        const bool ours = stopped();
        m_t.failure(text);
        return ours ? Usage : NoBoard;
    }
    int fileFailure(const QString &text)
    {
        m_t.failure(text);
        return Usage;
    }
    bool confirm(const QString &title, const QString &explanation = {});
    // A Write, Chip Erase or program on this port that broke off (here or in the window)
    // left a record: the chip may be half-written. Told before the port is used again.
    void tellUnfinishedChanges()
    {
        for (const UnfinishedChange &c : m_session.unfinishedChanges())
            m_t.failure(wording::halfWritten(c, Audience::Shell));
    }

    // program: one chip, or with --repeat one after another.
    int programChips(const QString &path, const Image &image);
    Outcome programChip(const Image &image, const BoardSession::ProgramOptions &options);
    bool nextChip();

    const QCommandLineParser &m_p;
    const Options &m_o;
    Terminal &m_t;
    Records &m_r;
    BoardSession m_session{WorkFolder::defaultLocation()};
    SerialLink &m_link = m_session.link();
    const ChipInfo *m_wanted = nullptr;
    const Command *m_command = nullptr;
    bool m_deviceCommand = false;  // one that works on a chip: it gives results
    int m_round = 1;
    QElapsedTimer m_roundTime;
    bool m_recorded = false;
    bool m_logFailed = false;
    std::optional<Step> m_step;  // the step in hand
    Outcome m_id;                // the round's identification
};
