// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's table of commands, its sites set up and run, and what each command checks,
// loads and asks before its sites start; program is in production.cpp, ports in
// portfinder.cpp, --serial in serials.cpp, what a site does in site.cpp.
#include "cli.h"
#include "deviceidentity.h"
#include "site.h"
#include "wholechip.h"
#include "identify.h"
#include "listing.h"
#include "outputfile.h"
#include "portmap.h"
#include "wording.h"

#include <QJsonArray>
#include <algorithm>
#include <limits>
#include <csignal>

namespace {

const Command kCommands[] = {
    {"identify", nullptr, "read the signature and name the chip", [](Cli &c, const QString &) { return c.identify(); },
     true},
    {"blank", nullptr, "check that the chip is erased", [](Cli &c, const QString &) { return c.blank(); }, true},
    {"read", "FILE", "read the whole chip into FILE (- for standard output)",
     [](Cli &c, const QString &a) { return c.read(a); }, true},
    {"write", "FILE", "write FILE into the chip (it is not erased first)",
     [](Cli &c, const QString &a) { return c.write(a); }, true,
     {"serial", "serial-file", "serial-start", "serial-step", "serial-counter"}},
    {"verify", "FILE", "compare the chip with FILE", [](Cli &c, const QString &a) { return c.verify(a); }, true},
    {"erase", nullptr, "erase the chip", [](Cli &c, const QString &) { return c.erase(); }, true},
    {"lock", "1|2|3", "program lock bits 1 to N", [](Cli &c, const QString &a) { return c.lock(a); }, true},
    {"list", "FILE", "show FILE as the window lists it (no board needed)",
     [](Cli &c, const QString &a) { return c.list(a); }, false},
    {"program", "FILE",
     "identify, erase, blank check, write and verify, stopping at\n"
     "the first step that fails",
     [](Cli &c, const QString &a) { return c.program(a); }, true,
     {"no-erase", "repeat", "serial", "serial-file", "serial-start", "serial-step", "serial-counter", "lock", "count",
      "job"}},
    {"ports", nullptr,
     "list the serial devices (with --port, the ones named), whether\n"
     "you may open each and whether another program holds it",
     [](Cli &c, const QString &) { return c.ports(); }, true, {"probe"}},
    {"store", "WHAT URL",
     "init: make the store's tables at URL, or bring them up to\n"
     "date; report: chips and numbers by station and site",
     [](Cli &c, const QString &a) { return c.store(a); }, false, {"since", "counter"}},
};

const char *const kFiles =
    "FILE is raw binary or Intel HEX: names ending in .hex, .ihx or .ihex, and files\n"
    "that hold HEX text, are taken as HEX, and read writes HEX to such names;\n"
    "--format decides instead, for a name that does not tell. After read, write,\n"
    "verify, list and program the image's length, its 16-bit sum and its CRC-32\n"
    "are printed.";

}  // namespace

std::span<const Command> commands()
{
    return kCommands;
}

QString commandsHelp()
{
    // The name and argument in a column 16 wide, the help beside it, its further lines under it.
    constexpr int width = 16;
    QString text = QStringLiteral("Commands:\n");
    for (const Command &c : kCommands) {
        QString usage = QString::fromLatin1(c.name);
        if (c.argument)
            usage += QLatin1Char(' ') + QString::fromLatin1(c.argument);
        const QString indent = QLatin1Char('\n') + QString(2 + width, QLatin1Char(' '));
        text += QStringLiteral("  ") + usage.leftJustified(width) +
                QString::fromLatin1(c.help).replace(QLatin1Char('\n'), indent) + QLatin1Char('\n');
    }
    return text + QLatin1Char('\n') + QString::fromLatin1(kFiles);
}

Cli::Cli(const QCommandLineParser &p, const Options &o, Terminal &t, Records &r, const JobRun *job)
    : m_p(p), m_job(job), m_o(o), m_t(t), m_r(r)
{
}

Cli::~Cli() = default;

int Cli::run(const Command &command, const QString &argument)
{
    if (m_p.isSet(m_o.chip)) {
        m_settings.wanted = chipForName(m_p.value(m_o.chip));
        if (!m_settings.wanted) {
            m_t.failure(QStringLiteral("--chip takes 89c51 or 89c52, not \"%1\".").arg(m_p.value(m_o.chip)));
            return Usage;
        }
    }
    if (m_p.isSet(m_o.format) && m_p.value(m_o.format) != QLatin1String("bin") &&
        m_p.value(m_o.format) != QLatin1String("hex")) {
        m_t.failure(QStringLiteral("--format takes bin or hex, not \"%1\".").arg(m_p.value(m_o.format)));
        return Usage;
    }
    if (int e = setUpSerial(); e != Success)
        return e;
    if (int e = setUpLot(); e != Success)
        return e;
    if (m_job) {
        if (!m_job->overrides.isEmpty())
            m_t.note(QStringLiteral("voralith-cli: the command line overrides the job's %1.")
                         .arg(m_job->overrides.join(QLatin1String(", "))));
        if (!m_job->job.crc32)
            m_t.note(QStringLiteral("voralith-cli: the job %1 gives no crc32: the image is not checked against it.")
                         .arg(m_job->job.path));
    }
    const QString name = QString::fromLatin1(command.name);
    m_command = &command;
    m_deviceCommand = command.needsPort && name != QLatin1String("ports");
    if (m_p.isSet(m_o.log) && !m_deviceCommand) {
        m_t.failure(QStringLiteral("voralith-cli: --log is for the commands that work on a chip, not %1.").arg(name));
        return Usage;
    }
    if (command.needsPort) {
        if (int e = setUpPorts(); e != Success)
            return e;
    }
    // No chip is worked on without its record: a log that cannot be opened stops the
    // command before anything is sent.
    if (m_p.isSet(m_o.log)) {
        m_r.setLogPath(m_p.value(m_o.log));
        if (Status s = m_r.openLog(m_p.value(m_o.log), stopsignals::stopHandle()); !s) {
            m_t.failure(QStringLiteral("voralith-cli: the log %1 cannot be opened: %2.")
                            .arg(m_p.value(m_o.log), s.failure().message));
            return Usage;
        }
        if (!m_r.logWarning().isEmpty())
            m_t.failure(QStringLiteral("voralith-cli: ") + m_r.logWarning());
    }
    if (int e = setUpStore(argument); e != Success)
        return e;
    if (m_deviceCommand)
        makeLine();
    // A command given an image starts once it has loaded it, to name it.
    if (!command.argument || QLatin1String(command.argument) != QLatin1String("FILE") || name == QLatin1String("read"))
        begin();
    int status = command.run(*this, argument);
    // A command that ended before its sites started still gives each site its result.
    if (m_line && !m_line->sitesStarted() && status != Success) {
        begin();
        m_line->recordUnstarted(status, m_t.lastFailure());
    }
    const bool logFailed = m_line && m_line->logFailing();
    m_sitesStarted = m_line && m_line->sitesStarted();
    std::unique_ptr<Line> ending;
    {
        const std::lock_guard hold(m_lineLock);
        ending = std::move(m_line);
    }
    ending.reset();
    status = logFailed ? std::max(status, int(Usage)) : status;
    return m_store ? endStore(status) : status;
}

void Cli::makeLine()
{
    m_settings.command = commandName();
    m_settings.erase = !m_p.isSet(m_o.noErase);
    m_settings.repeat = m_p.isSet(m_o.repeat) || m_settings.lot > 0;
    m_settings.speaker = QStringLiteral("voralith-cli: ");
    auto line = std::make_unique<Line>(m_settings, m_t, m_r);
    const std::lock_guard hold(m_lineLock);
    m_line = std::move(line);
    if (m_stopped)
        m_line->stop(stopStatus(), stopReason());
}

int Cli::setUpLot()
{
    auto number = [this](const QCommandLineOption &option, int least, int most, int *value) {
        if (!m_p.isSet(option))
            return true;
        const QString text = m_p.value(option);
        bool ok = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        *value = ok ? text.toInt(&ok) : 0;
        if (ok && *value >= least && *value <= most)
            return true;
        m_t.failure(most == 3 ? QStringLiteral("voralith-cli: --%1 takes 1, 2 or 3, not \"%2\".")
                                    .arg(option.names().constFirst(), text)
                              : QStringLiteral("voralith-cli: --%1 takes a whole number from 1 up, not \"%2\".")
                                    .arg(option.names().constFirst(), text));
        return false;
    };
    return number(m_o.lock, 1, 3, &m_settings.lockBits) &&
                   number(m_o.count, 1, std::numeric_limits<int>::max(), &m_settings.lot)
               ? Success
               : Usage;
}

int Cli::setUpPorts()
{
    const Result<QList<SitePort>> ports =
        sitePorts(m_p.values(m_o.port), m_p.isSet(m_o.com) ? m_p.value(m_o.com) : QString());
    if (!ports) {
        // The option's own refusal speaks as the option; the sites' as the program.
        m_t.failure(ports.failure().kind == Failure::PortInUse ? QStringLiteral("voralith-cli: ") + ports.message()
                                                                : ports.message());
        return Usage;
    }
    m_settings.ports = ports.value();
    return Success;
}

int Cli::stopStatus() const
{
    if (const int bySignal = stopsignals::stopStatus())
        return bySignal;
    return m_t.pipeClosed() ? int(PipeClosed) : int(Usage);
}

QString Cli::stopReason() const
{
    switch (stopsignals::stopStatus()) {
    case 0: break;
    case 128 + SIGTERM: return QStringLiteral("stopped by SIGTERM");
    default: return QStringLiteral("stopped by the user");
    }
    return m_t.pipeClosed() ? QStringLiteral("stopped as the reader of its output had gone")
         : m_t.broken()     ? QStringLiteral("stopped as its output could not be written")
                            : QStringLiteral("stopped by the user");
}

void Cli::stop()
{
    m_stopped = true;
    const std::lock_guard hold(m_lineLock);
    if (m_line)
        m_line->stop(stopStatus(), stopReason());
    if (m_store)
        m_store->stop();
}

void Cli::sitesBegin()
{
    if (m_line->sitesStarted())
        return;
    QStringList names;
    for (const SitePort &port : m_settings.ports)
        names << port.name;
    m_t.setSites(names);
    m_t.hideTyping();
}

int Cli::onSites(const std::function<int(Site &)> &job)
{
    sitesBegin();
    const std::vector<int> statuses = m_line->onEachSite([&job](Site &site) {
        site.newRound(1);
        return job(site);
    });
    return summarise(statuses);
}

int Cli::summarise(const std::vector<int> &statuses)
{
    const int worst = *std::max_element(statuses.begin(), statuses.end());
    if (statuses.size() < 2)
        return worst;
    m_t.closeSiteLines();
    const auto passed = std::count(statuses.begin(), statuses.end(), int(Success));
    QString text = QStringLiteral("Passed: %1 of %2.").arg(passed).arg(statuses.size());
    for (std::size_t i = 0; i < statuses.size(); ++i)
        text += QStringLiteral("\n  %1: %2").arg(m_settings.ports.at(qsizetype(i)).name,
                                                statuses[i] == Success ? QStringLiteral("passed")
                                                                       : QStringLiteral("failed (exit %1)").arg(statuses[i]));
    if (worst == Success)
        m_t.result(text);
    else
        m_t.failure(text);
    return worst;
}

void Cli::begin(const Image *image)
{
    JsonLine extra;
    if (m_job)
        extra.add("job", m_job->job.path).add("overrides", QJsonArray::fromStringList(m_job->overrides));
    if (m_line) {
        if (image)
            m_line->setImage(*image);
        m_line->start(extra);
        return;
    }
    // list and ports: ports names the devices it was given.
    QStringList sites;
    if (m_command->needsPort && m_p.isSet(m_o.port))
        for (const SitePort &port : m_settings.ports)
            sites << port.name;
    m_r.start(commandName(), sites, image ? imageObject(image->path, image->bytes) : JsonLine(), {}, extra);
}

int Cli::loadFile(const QString &path, Image *image)
{
    const std::optional<ImageFormat> format = givenFormat();
    auto loaded = format ? loadImage(path, *format) : loadImage(path);
    if (!loaded) {
        begin();
        return fileFailure(loaded.message());
    }
    *image = loaded.value();
    image->path = path;
    begin(image);
    return Success;
}

int Cli::loadImageFor(const QString &path, Image *image)
{
    if (int e = loadFile(path, image); e != Success)
        return e;
    if (Status s = requireData(*image); !s)
        return fileFailure(s.message());
    return Success;
}

int Cli::prepareChange(const QString &path, const QString &title, Image *image)
{
    if (int e = loadImageFor(path, image); e != Success)
        return e;
    // A lot is programmed with the image its job names, or not at all.
    if (m_job) {
        if (Status s = checkJobImage(m_job->job, path, imageSums(image->bytes).crc32); !s)
            return fileFailure(s.message());
    }
    if (Status s = m_line->checkSerial(*image); !s)
        return fileFailure(s.message());
    return confirm(title) ? Success : Usage;
}

// Asked once for the whole command, before any site starts.
bool Cli::confirm(const QString &title, const QString &explanation)
{
    if (m_p.isSet(m_o.yes))
        return true;
    if (m_t.json()) {
        m_t.failure(QStringLiteral("Nothing was changed: --json asks no question. Give --yes to go on."));
        return false;
    }
    if (m_t.ask(title + QStringLiteral(": ") + wording::confirmationText(explanation)))
        return true;
    m_t.failure(QStringLiteral("Nothing was changed. Give --yes to go on without the question."));
    return false;
}

int Cli::identify()
{
    return onSites([](Site &s) { return s.identify(); });
}

int Cli::blank()
{
    return onSites([](Site &s) { return s.blank(); });
}

int Cli::read(const QString &path)
{
    if (m_settings.ports.size() > 1)
        return fileFailure(QStringLiteral("voralith-cli: read takes one --port: it reads one chip into one file."));
    if (m_t.json() && isStandardOutput(path))
        return fileFailure(QStringLiteral("voralith-cli: with --json standard output carries only JSON; read into a "
                                          "file."));
    // A file that cannot be written is told before the chip is read, not after.
    if (Status s = checkOutput(path); !s)
        return fileFailure(s.message());
    const ImageFormat format = givenFormat().value_or(formatForName(path));
    return onSites([&](Site &s) { return s.read(path, format); });
}

int Cli::write(const QString &path)
{
    Image image;
    if (int e = prepareChange(path, QStringLiteral("Write Data"), &image); e != Success)
        return e;
    return onSites([&image](Site &s) { return s.write(image); });
}

int Cli::verify(const QString &path)
{
    Image image;
    if (int e = loadImageFor(path, &image); e != Success)
        return e;
    return onSites([&image](Site &s) { return s.verify(image); });
}

int Cli::erase()
{
    if (!confirm(QStringLiteral("Erase Chip")))
        return Usage;
    return onSites([](Site &s) { return s.erase(); });
}

int Cli::lock(const QString &text)
{
    bool ok = false;
    const int bits = text.toInt(&ok);
    if (!ok || bits < 1 || bits > 3) {
        m_t.failure(QStringLiteral("lock takes 1, 2 or 3, not \"%1\".").arg(text));
        return Usage;
    }
    if (!confirm(QStringLiteral("Program lock bits 1 to %1").arg(bits), wording::lockBitsExplanation(bits)))
        return Usage;
    return onSites([bits](Site &s) { return s.lock(bits); });
}

int Cli::list(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    // The start names the image and its sums; the rows are for a person.
    if (m_t.json())
        return Success;
    QString rows = QString::fromLatin1(listing::format(image.bytes));
    rows.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (rows.endsWith(QLatin1Char('\n')))
        rows.chop(1);
    m_t.result(rows);
    m_t.result(path + QStringLiteral(": ") + sumsText(imageSums(image.bytes)));
    return Success;
}
