// SPDX-License-Identifier: GPL-3.0-or-later
// A production run over several boards: one site per board, each with its session in a
// thread of its own; the rounds of chips, the counts, the serial numbers and the record of
// every chip. The command line and the station window are front ends over it: they choose
// the settings, show what a Teller is told, and decide when the next round starts.
#pragma once

#include "image.h"
#include "portmap.h"
#include "records.h"
#include "serialnumber.h"
#include "store.h"
#include "teller.h"

#include <QList>
#include <QPair>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Site;
class Sites;
struct ChipInfo;
struct Outcome;

// A chip's, a site's and a run's status, as voralith-cli exits with it and every result
// records it.
enum Exit {
    Success = 0,
    Different = 1,  // a difference, data found, a byte that read back wrong
    Usage = 2,      // wrong use, a bad or refused file
    NoBoard = 3,    // no answer, no chip, an unknown or other chip, a port that cannot be opened
    PipeClosed = 141,  // the reader of standard output or error has gone, as a shell tells SIGPIPE
};
// The status of an outcome.
int exitFor(const Outcome &o);

// One board's port as given: how its site's link is set up in its thread.
struct SitePort {
    QString name;                       // the site as told and recorded: the device as given
    int number = 2;                     // the port number its link uses
    QList<QPair<int, QString>> mapped;  // the port numbers mapped for this run
    QString given;                      // --port DEVICE as typed; empty for ComN
    QString device;                     // the device it leads to
};

// The sites for `given` ("/dev/ttyUSB0", "Com3", ...; none: the port `com` names), with
// `com` ("N" or "N=DEVICE", as voralith-cli's --com; empty: port 2), each read as an option
// of that kind (its refusal is worded for it). Refused with the reason: a name of no port,
// one device given twice (also through a link or a ComN).
Result<QList<SitePort>> sitePorts(const QStringList &given, const QString &com = {},
                                  PortOption portKind = PortOption::CliPort, PortOption comKind = PortOption::CliCom);

struct LineSettings {
    QString command = QStringLiteral("program");  // as the results name it
    QList<SitePort> ports;
    const ChipInfo *wanted = nullptr;  // any other chip is refused
    bool erase = true;                 // program: erase before the blank check
    bool repeat = false;               // program: chips one after another; an empty socket is no failure
    int lockBits = 0;                  // program: lock bits 1 to this once verified
    int lot = 0;                       // program: good chips wanted (implies repeat); 0: no end
    std::optional<SerialPlace> serial; // program, write: a number in each chip
    QString serialFile;
    quint64 serialStart = 1, serialStep = 1;
    QString speaker;  // put before the run's own failures ("voralith-cli: ")
    // The counter and the record shared by several stations; null: the counter file alone.
    LineStore *store = nullptr;
};

// What one site's chip of a round came to.
struct SiteChip {
    int status = 0;
    QString result;  // "passed", "failed", "empty"; empty for a site the round left idle
    bool noteRefused = false;
    std::optional<quint64> serial;  // the number it was given
    QString message;                // why it failed, as told
};

struct SiteCounts {
    int passed = 0, failed = 0, empty = 0;
    void add(const SiteChip &chip);
    SiteCounts &operator+=(const SiteCounts &c);
};

// The end of a round of program.
struct RoundEnd {
    int round = 0;
    std::vector<int> statuses;       // each site's status, 0 for a site left idle
    std::vector<SiteChip> chips;    // each site's, in the order of the sites
    std::vector<SiteCounts> counts;  // each site's so far
    SiteCounts total;
    int toGo = -1;           // the lot's chips still wanted; -1 without a lot
    bool last = false;       // no further round may start: the lot is done, or the run must stop
    bool mustEnd = false;    // the same, but for a stop, after which resume() lets the run go on
    int worst = 0;           // the highest status of the run so far
};

class Line {
public:
    Line(LineSettings settings, Teller &teller, Records &records);
    ~Line();
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    const LineSettings &settings() const { return m_settings; }
    Teller &teller() { return m_teller; }
    Records &records() { return m_records; }

    // Before any site starts (nothing is sent): the serial number's place fits the chip
    // and `image` leaves it erased, and the counter file is sound for a round on every site.
    Status checkSerial(const Image &image);
    // The image the chips are given (its path names it in the records).
    void setImage(const Image &image) { m_image = image; }
    // The run's start event, once, before its first chip: the command, the sites, the image
    // and the serial settings, with `extra` keys after them.
    void start(const JsonLine &extra = {});

    // program: one round on every site at once (on no more than the lot still wants), the
    // result of each told and recorded; `done` runs in the calling thread, whose event loop
    // must run meanwhile, once every site has ended its chip.
    void startRound(std::function<void(const RoundEnd &)> done);
    // The same, waiting for it in a local event loop.
    RoundEnd programRound();
    bool running() const { return m_running; }
    int roundsDone() const { return m_round; }

    // Any other command on every site at once, each in its thread: `job` gets the site; each
    // site's status. The sites are made on the first use and kept until the run ends.
    std::vector<int> onEachSite(const std::function<int(Site &)> &job, int active = -1);
    bool sitesStarted() const { return m_sitesStarted; }
    // A command that ended before its sites started (a refused file, a question answered
    // no) still gives each site its result, saying `message`.
    void recordUnstarted(int status, const QString &message);

    // Every site's wait in hand ends, and no site starts another chip; `status` is what a
    // chip the stop broke off gives (130, 143, ...) and `why` words it ("stopped by
    // SIGTERM"). From any thread.
    void stop(int status = 2, const QString &why = {});
    // Between rounds, after a stop: the next round runs again (a station's operator stopped
    // one round, not the lot).
    void resume();
    bool stopped() const { return m_stopped; }
    int stopStatus() const { return m_stopStatus; }
    QString stopReason() const;

    // For the sites: the image as given, the number for a chip, and a record that failed.
    const QString &imagePath() const { return m_image.path; }
    // A number for the chip in `site`'s socket: the counter holds the next one on the disk,
    // and the log this one, before it succeeds. `taken` gets the number once it is spent,
    // also when the log then fails, so that the chip's result names it.
    Status takeSerial(const QString &site, int round, std::optional<quint64> *taken);
    // A result that could not go into the log: said once, and no site starts another chip.
    void logFailed(const QString &why);
    bool logFailing() const { return m_logFailed; }

private:
    void roundEnded(const std::vector<int> &statuses, bool ran);
    void makeSites();
    void runOnSites(const std::function<int(Site &)> &job, int active, std::function<void(std::vector<int>)> done);
    int siteIndex(const QString &name) const;

    LineSettings m_settings;
    Teller &m_teller;
    Records &m_records;
    Image m_image;
    std::unique_ptr<SerialCounter> m_counter;
    std::unique_ptr<Sites> m_sites;
    std::mutex m_sitesLock;  // a stop from another thread finds the sites whole
    bool m_sitesStarted = false;
    std::atomic<bool> m_stopped = false;
    std::atomic<int> m_stopStatus = 2;
    QString m_stopWhy;
    mutable std::mutex m_stopWhyLock;
    std::atomic<bool> m_logFailed = false;
    std::atomic<bool> m_serialFailed = false;
    std::once_flag m_logFailureTold;
    // The rounds of program.
    bool m_running = false;
    int m_round = 0;
    std::vector<SiteChip> m_chips;
    std::vector<SiteCounts> m_counts;
    int m_worst = 0;
    std::function<void(const RoundEnd &)> m_done;
};
