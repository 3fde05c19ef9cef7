// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli: the device commands from a shell, a script or a Makefile, over the same
// core as the window. Parses its arguments, calls the operations, prints what they found,
// and tells the outcome by its exit status.
#include "checksums.h"
#include "deviceidentity.h"
#include "identify.h"
#include "image.h"
#include "intelhex.h"
#include "listing.h"
#include "outputfile.h"
#include "portscan.h"
#include "program.h"
#include "signals.h"
#include "terminal.h"
#include "version.h"
#include "workfolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#include <optional>

namespace {

enum Exit {
    Success = 0,
    Different = 1,  // a difference, data found, a byte that read back wrong
    Usage = 2,      // wrong use, a bad or refused file
    NoBoard = 3,    // no answer, no chip, an unknown or other chip, a port that cannot be opened
    PipeClosed = 141,  // the reader of standard output or error has gone, as a shell tells SIGPIPE
};

const char *const kCommands =
    "Commands:\n"
    "  identify        read the signature and name the chip\n"
    "  blank           check that the chip is erased\n"
    "  read FILE       read the whole chip into FILE (- for standard output)\n"
    "  write FILE      write FILE into the chip (it is not erased first)\n"
    "  verify FILE     compare the chip with FILE\n"
    "  erase           erase the chip\n"
    "  lock 1|2|3      program lock bits 1 to N\n"
    "  list FILE       show FILE as the window lists it (no board needed)\n"
    "  program FILE    identify, erase, blank check, write and verify, stopping at\n"
    "                  the first step that fails\n"
    "  ports           list the serial devices (with --port, that one), whether\n"
    "                  you may open each and whether another program holds it\n"
    "\n"
    "FILE is raw binary or Intel HEX: names ending in .hex, .ihx or .ihex, and files\n"
    "that hold HEX text, are taken as HEX, and read writes HEX to such names;\n"
    "--format decides instead, for a name that does not tell. After read, write,\n"
    "verify, list and program the image's length, its 16-bit sum and its CRC-32\n"
    "are printed.";

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
    "  143  stopped by SIGTERM; the port is closed and restored first\n";

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version.")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("The board's serial device, or ComN for port N as the window maps it (the "
                                           "section [Ports] of the settings file, else /dev/ttyS<N-1>)."),
                            QStringLiteral("DEVICE|ComN")};
    QCommandLineOption com{QStringLiteral("com"),
                           QStringLiteral("Port number N, as the window's Com N (default 2); N=DEVICE maps it to "
                                          "DEVICE for this run."),
                           QStringLiteral("N")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("Change the chip without asking first.")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print only failures.")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("FILE is raw binary (bin) or Intel HEX (hex), whatever its name."),
                              QStringLiteral("bin|hex")};
    QCommandLineOption chip{QStringLiteral("chip"), QStringLiteral("Refuse any other chip."),
                            QStringLiteral("89c51|89c52")};
    QCommandLineOption noErase{QStringLiteral("no-erase"),
                               QStringLiteral("program: do not erase first; the chip must be blank.")};
    QCommandLineOption repeat{QStringLiteral("repeat"),
                              QStringLiteral("program: one chip after another. After each, Enter programs the next; "
                                             "q or the end of input stops.")};
    QCommandLineOption probe{QStringLiteral("probe"),
                             QStringLiteral("ports: also identify a board on each port you may open (this sends bytes "
                                            "to the device).")};
};

class Cli {
public:
    Cli(const QCommandLineParser &p, const Options &o, Terminal &t) : m_p(p), m_o(o), m_t(t) {}
    int run(const QString &command, const QString &argument);
    // Ctrl+C, SIGTERM or output that cannot be written: the wait in hand ends, and the
    // command ends through its normal path (the port closed, a note of a broken-off
    // change kept).
    void stop() { m_link.requestStop(); }

private:
    bool stopped() const { return m_link.stopRequested() || stopsignals::stopStatus() != 0; }
    bool nextChip();
    int setUpPort();
    int openAndIdentify(const ChipInfo **chip);
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
        for (const UnfinishedChange &c : unfinishedChanges(WorkFolder::defaultLocation(), m_link.devicePath()))
            m_t.failure(halfWrittenWarning(c, QStringLiteral("voralith-cli erase")));
    }

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

    const QCommandLineParser &m_p;
    const Options &m_o;
    Terminal &m_t;
    SerialLink m_link;
    BoardCommands m_board{m_link};
    const ChipInfo *m_wanted = nullptr;
};

int Cli::setUpPort()
{
    m_link.setAudience(SerialLink::Audience::Shell);
    int number = 2;
    if (m_p.isSet(m_o.com)) {
        const QString com = m_p.value(m_o.com);
        QString device;
        bool ok = false;
        number = com.toInt(&ok);
        if (parsePortMapping(com, &number, &device)) {
            m_link.portMap().mapForThisRun(number, device);
        } else if (!ok || number < 1 || number > 255) {
            m_t.failure(QStringLiteral("--com takes a port number from 1 to 255, or N=DEVICE, not \"%1\".").arg(com));
            return Usage;
        }
    }
    if (m_p.isSet(m_o.port)) {
        static const QRegularExpression comN(QStringLiteral("^[Cc][Oo][Mm]([0-9]{1,3})$"));
        const QString port = m_p.value(m_o.port);
        const auto m = comN.match(port);
        if (m.hasMatch()) {
            number = m.captured(1).toInt();
            if (number < 1 || number > 255) {
                m_t.failure(QStringLiteral("--port ComN takes N from 1 to 255, not \"%1\".").arg(port));
                return Usage;
            }
        } else if (port.isEmpty()) {
            m_t.failure(QStringLiteral("--port needs a device or ComN; the name given is empty."));
            return Usage;
        } else {
            m_link.setGivenName(port);
            // A bare name that is no file here ("ttyUSB0") is left to the serial port, which
            // looks for it in /dev; anything else is a path from the current folder.
            const QFileInfo fi(port);
            const bool path = port.contains(QLatin1Char('/')) || fi.exists() || fi.isSymLink();
            m_link.portMap().mapForThisRun(number, path ? fi.absoluteFilePath() : port);
        }
    }
    m_link.setPortNumber(number);
    return Success;
}

int Cli::openAndIdentify(const ChipInfo **chip)
{
    if (Status s = m_link.ensureOpen(); !s)
        return boardFailure(s.message());
    tellUnfinishedChanges();
    const IdentifyOutcome id = identifyDevice(m_board);
    if (id.failure)
        return boardFailure(QStringLiteral("Identify stopped: %1.").arg(id.failure->message));
    QString why;
    if (checkChip(id, m_wanted, &why) != ChipCheck::Fine)
        return boardFailure(why + QLatin1Char('.'));
    *chip = id.chip;
    return Success;
}

int Cli::loadFile(const QString &path, Image *image)
{
    const std::optional<ImageFormat> format = givenFormat();
    auto loaded = format ? loadImage(path, *format) : loadImage(path);
    if (!loaded)
        return fileFailure(loaded.message());
    *image = loaded.value();
    return Success;
}

// The window writes what fits and leaves the rest out without a word; a script gets a
// refusal instead, before anything is sent.
// Write and verify: the file first (a bad one sends nothing), then the chip it must fit.
int Cli::loadForChip(const QString &path, Image *image, const ChipInfo **chip)
{
    if (int e = loadFile(path, image); e != Success)
        return e;
    if (Status s = requireData(*image); !s)
        return fileFailure(s.message());
    if (int e = openAndIdentify(chip); e != Success)
        return e;
    return fitsChip(*image, **chip);
}

int Cli::fitsChip(const Image &image, const ChipInfo &chip)
{
    if (image.bytes.size() <= chip.size)
        return Success;
    return fileFailure(QStringLiteral("%1 holds %2 bytes, more than the %3's %4: nothing was done.")
                           .arg(image.path)
                           .arg(image.bytes.size())
                           .arg(chipName(chip))
                           .arg(chip.size));
}

bool Cli::confirm(const QString &title, const QString &explanation)
{
    if (m_p.isSet(m_o.yes))
        return true;
    if (m_t.ask(title + QStringLiteral(": ") + confirmationText(explanation)))
        return true;
    m_t.failure(QStringLiteral("Nothing was changed. Give --yes to go on without the question."));
    return false;
}

int Cli::run(const QString &command, const QString &argument)
{
    if (m_p.isSet(m_o.chip)) {
        m_wanted = chipForName(m_p.value(m_o.chip));
        if (!m_wanted) {
            m_t.failure(QStringLiteral("--chip takes 89c51 or 89c52, not \"%1\".").arg(m_p.value(m_o.chip)));
            return Usage;
        }
    }
    if (m_p.isSet(m_o.format) && m_p.value(m_o.format) != QLatin1String("bin") &&
        m_p.value(m_o.format) != QLatin1String("hex")) {
        m_t.failure(QStringLiteral("--format takes bin or hex, not \"%1\".").arg(m_p.value(m_o.format)));
        return Usage;
    }
    if (command == QLatin1String("list"))
        return list(argument);
    if (int e = setUpPort(); e != Success)
        return e;
    if (command == QLatin1String("ports"))
        return ports();
    if (command == QLatin1String("identify"))
        return identify();
    if (command == QLatin1String("blank"))
        return blank();
    if (command == QLatin1String("read"))
        return read(argument);
    if (command == QLatin1String("write"))
        return write(argument);
    if (command == QLatin1String("verify"))
        return verify(argument);
    if (command == QLatin1String("erase"))
        return erase();
    if (command == QLatin1String("lock"))
        return lock(argument);
    return program(argument);
}

int Cli::identify()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    m_t.result(QString::fromLatin1(chip->signature) + QLatin1Char('\n') + QString::fromLatin1(chip->caption));
    return Success;
}

int Cli::blank()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    int dataAt = 0;
    const auto blank = blankCheck(m_board, chip->size, m_t.step(QStringLiteral("Blank check")), &dataAt);
    if (!blank)
        return boardFailure(blank.message());
    if (!blank.value()) {
        m_t.failure(QStringLiteral("Device contains data (in %1h to %2h).")
                        .arg(hexNumber(dataAt), hexNumber(dataAt + 3)));
        return Different;
    }
    m_t.result(QStringLiteral("Device is erased."));
    return Success;
}

int Cli::read(const QString &path)
{
    // A file that cannot be written is told before the chip is read, not after.
    if (Status s = checkOutput(path); !s)
        return fileFailure(s.message());
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    const auto data = readDevice(m_board, chip->size, m_t.step(QStringLiteral("Read")));
    if (!data)
        return boardFailure(data.message());
    const ImageFormat format = givenFormat().value_or(formatForName(path));
    // The image itself on standard output goes through the terminal's checked writes (a
    // reader that has gone ends the command quietly); its figures go beside it, not into it.
    if (isStandardOutput(path)) {
        if (!m_t.data(format == ImageFormat::IntelHex ? intelhex::format(data.value()) : data.value()))
            return Usage;
        m_t.note(path + QStringLiteral(": ") + sumsText(imageSums(data.value())));
        return Success;
    }
    if (Status s = saveImage(Image{data.value(), QString(), format}, path, format); !s)
        return fileFailure(s.message());
    printSums(path, data.value());
    return Success;
}

int Cli::write(const QString &path)
{
    Image image;
    const ChipInfo *chip = nullptr;
    if (int e = loadForChip(path, &image, &chip); e != Success)
        return e;
    if (!confirm(QStringLiteral("Write Data")))
        return Usage;
    auto change = ChipChange::begin(WorkFolder::defaultLocation(), m_link.devicePath(), QStringLiteral("Write"));
    if (!change)
        return fileFailure(change.message());
    const Progress bar = m_t.step(QStringLiteral("Write"));
    bar.maximum(image.bytes.size());
    const auto written = writeDevice(m_board, image.bytes, chip->size, bar, [this](const Mismatch &m) {
        m_t.failure(QStringLiteral("Error in %1h : write %2h read %3h")
                        .arg(hexNumber(m.address), hexNumber(m.written), hexNumber(m.read)));
    });
    if (!written)
        return boardFailure(written.message());
    change.value().completed();
    if (written.value().mismatches) {
        m_t.failure(QStringLiteral("Some errors are occurred."));
        return Different;
    }
    m_t.result(QStringLiteral("Device was succesfully programmed."));
    printSums(path, image.bytes);
    return Success;
}

int Cli::verify(const QString &path)
{
    Image image;
    const ChipInfo *chip = nullptr;
    if (int e = loadForChip(path, &image, &chip); e != Success)
        return e;
    const Progress bar = m_t.step(QStringLiteral("Verify"));
    bar.maximum(image.bytes.size() + 1);
    const auto result = verifyDevice(m_board, image.bytes, bar);
    if (!result)
        return boardFailure(result.message());
    if (const auto &d = result.value()) {
        m_t.failure(QStringLiteral("It isn't the same : %1 h expexted %2h read %3h")
                        .arg(hexNumber(d->address), hexNumber(d->expected), hexNumber(d->read)));
        return Different;
    }
    m_t.result(QStringLiteral("Equal."));
    printSums(path, image.bytes);
    return Success;
}

int Cli::erase()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    if (!confirm(QStringLiteral("Erase Chip")))
        return Usage;
    auto change = ChipChange::begin(WorkFolder::defaultLocation(), m_link.devicePath(), QStringLiteral("Chip Erase"));
    if (!change)
        return fileFailure(change.message());
    if (Status s = eraseDevice(m_board); !s)
        return boardFailure(s.message());
    change.value().completed();
    m_t.result(QStringLiteral("Chip erase sent."));
    return Success;
}

int Cli::lock(const QString &text)
{
    bool ok = false;
    const int bits = text.toInt(&ok);
    if (!ok || bits < 1 || bits > 3) {
        m_t.failure(QStringLiteral("lock takes 1, 2 or 3, not \"%1\".").arg(text));
        return Usage;
    }
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    if (!confirm(QStringLiteral("Program lock bits 1 to %1").arg(bits), lockBitsExplanation(bits)))
        return Usage;
    auto change = ChipChange::begin(WorkFolder::defaultLocation(), m_link.devicePath(),
                                    QStringLiteral("lock bit programming"));
    if (!change)
        return fileFailure(change.message());
    if (Status s = lockDevice(m_board, bits); !s)
        return boardFailure(s.message());
    change.value().completed();
    m_t.result(bits == 1 ? QStringLiteral("Lock bit 1 sent.") : QStringLiteral("Lock bits 1 to %1 sent.").arg(bits));
    return Success;
}

int Cli::list(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    QString rows = QString::fromLatin1(listing::format(image.bytes));
    rows.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (rows.endsWith(QLatin1Char('\n')))
        rows.chop(1);
    m_t.result(rows);
    printSums(path, image.bytes);
    return Success;
}

int Cli::program(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    if (Status s = requireData(image); !s)
        return fileFailure(s.message());
    if (Status s = m_link.open(); !s)
        return boardFailure(s.message());
    if (!confirm(QStringLiteral("Program")))
        return Usage;
    const bool repeat = m_p.isSet(m_o.repeat);
    ProgramOptions options;
    options.erase = !m_p.isSet(m_o.noErase);
    options.chip = m_wanted;
    auto progressFor = [this](ProgramStep step) { return m_t.step(stepName(step)); };
    auto exitFor = [](const ProgramOutcome &o) {
        switch (o.end) {
        case ProgramOutcome::Programmed:
            return int(Success);
        case ProgramOutcome::DataFound:
        case ProgramOutcome::WrongByte:
        case ProgramOutcome::Difference:
            return int(Different);
        case ProgramOutcome::TooLong:
            return int(Usage);
        default:
            return int(NoBoard);
        }
    };

    int programmed = 0, failed = 0, worst = Success;
    for (;;) {
        const int number = programmed + failed + 1;
        const QString chipLabel = repeat ? QStringLiteral("Chip %1: ").arg(number) : QString();
        ProgramOutcome outcome;
        if (Status s = m_link.ensureOpen(); !s) {
            outcome.end = ProgramOutcome::LinkFailure;
            outcome.message = s.message();
        } else {
            tellUnfinishedChanges();
            auto change = ChipChange::begin(WorkFolder::defaultLocation(), m_link.devicePath(),
                                            QStringLiteral("program"));
            if (!change) {
                // No chip can be programmed while the work folder takes no note.
                m_t.failure(chipLabel + change.message());
                if (!repeat)
                    return Usage;
                ++failed;
                worst = std::max(worst, int(Usage));
                break;
            }
            outcome = programDevice(m_board, image.bytes, options, progressFor);
            // Only an erase or a write that broke off leaves the chip in a state nobody knows.
            const bool broken = outcome.end == ProgramOutcome::LinkFailure &&
                                (outcome.step == ProgramStep::Erase || outcome.step == ProgramStep::Write);
            if (!broken)
                change.value().completed();
        }
        if (outcome.ok()) {
            ++programmed;
            m_t.result(chipLabel + QStringLiteral("programmed and verified (%1).").arg(chipName(*outcome.id.chip)));
            printSums(path, image.bytes);
        } else if (repeat && outcome.end == ProgramOutcome::NoChip) {
            m_t.failure(outcome.message);
        } else {
            ++failed;
            worst = std::max(worst, stopped() ? int(Usage) : exitFor(outcome));
            m_t.failure(chipLabel + outcome.message);
        }
        if (!repeat)
            return worst;
        if (stopped() || !nextChip())
            break;
    }
    const QString summary = QStringLiteral("Programmed: %1, failed: %2.").arg(programmed).arg(failed);
    if (failed)
        m_t.failure(summary);
    else
        m_t.result(summary);
    return failed ? worst : Success;
}

// Only an empty line programs the next chip: a word that is not one of the stops is asked
// again, since a chip programmed by mistake cannot be taken back.
bool Cli::nextChip()
{
    static const QStringList stops{QStringLiteral("q"),  QStringLiteral("quit"), QStringLiteral("exit"),
                                   QStringLiteral("n"),  QStringLiteral("no"),   QStringLiteral("stop")};
    for (;;) {
        m_t.prompt(QStringLiteral("Put the next chip in and press Enter; q and Enter stops. "));
        const auto line = m_t.readLine();
        if (!line || stopped())
            return false;
        const QString answer = line->trimmed().toLower();
        if (answer.isEmpty())
            return true;
        if (stops.contains(answer))
            return false;
        m_t.failure(QStringLiteral("Press Enter for the next chip, or q to stop."));
    }
}

int Cli::ports()
{
    // The ports the window knows as Com1 to Com4 and every port the settings map, so that
    // each device shows the Com numbers that lead to it.
    const QMap<int, QString> stored = PortMap::storedMappings();
    QMap<int, QString> coms = stored;
    for (int n = 1; n <= 4; ++n) {
        if (!coms.contains(n))
            coms.insert(n, PortMap::defaultDevice(n));
    }
    // --com N=DEVICE maps port N for this run, as the window's --com does.
    int mappedNumber = 0;
    QString mappedDevice;
    if (m_p.isSet(m_o.com) && parsePortMapping(m_p.value(m_o.com), &mappedNumber, &mappedDevice))
        coms.insert(mappedNumber, mappedDevice);
    QStringList extra = stored.values();
    if (mappedNumber && !extra.contains(mappedDevice))
        extra << mappedDevice;
    const QString given = m_link.devicePath();
    if (m_p.isSet(m_o.port) && !extra.contains(given))
        extra << given;
    QList<SerialDevice> devices = serialDevices(extra);
    // A name leads to a device listed under another name when both are the same device.
    auto leadsTo = [](const QString &name, const SerialDevice &d) {
        return name == d.path ||
               (!d.device.isEmpty() && DeviceIdentity::of(name).sameAs(DeviceIdentity::of(d.device)));
    };
    // With --port, only that device.
    if (m_p.isSet(m_o.port))
        devices.removeIf([&](const SerialDevice &d) { return !leadsTo(given, d); });
    if (devices.isEmpty()) {
        m_t.result(QStringLiteral("No serial devices were found."));
        return Success;
    }
    for (const SerialDevice &d : devices) {
        QStringList names;
        for (auto it = coms.cbegin(); it != coms.cend(); ++it) {
            if (leadsTo(it.value(), d))
                names << portLabel(it.key());
        }
        QString text = d.path;
        if (!d.device.isEmpty() && d.device != d.path)
            text += QStringLiteral(" -> ") + d.device;
        if (!names.isEmpty())
            text += QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')');
        if (d.device.isEmpty()) {
            m_t.result(text + QStringLiteral("\n  does not exist"));
            continue;
        }
        if (d.mayOpen)
            text += QStringLiteral("\n  may open: yes");
        else if (d.groupPending)
            text += QStringLiteral("\n  may open: not yet; you are in the group %1, which takes effect at your "
                                   "next login")
                        .arg(d.group);
        else
            text += QStringLiteral("\n  may open: no; join the group %1 (sudo usermod -aG %1 $USER), then log in "
                                   "again")
                        .arg(d.group);
        text += d.heldBy.isEmpty() ? QStringLiteral("\n  held: no")
                                   : QStringLiteral("\n  held: yes, by %1").arg(d.heldBy);
        // A held port is never probed: bytes sent to it reach the program that holds it too.
        if (m_p.isSet(m_o.probe)) {
            QString board;
            if (!d.mayOpen) {
                board = QStringLiteral("not probed (you may not open it)");
            } else if (!d.heldBy.isEmpty()) {
                board = QStringLiteral("not probed (held by another program)");
            } else {
                SerialLink link;
                link.setAudience(SerialLink::Audience::Shell);
                link.portMap().mapForThisRun(1, d.path);
                link.setPortNumber(1);
                if (Status s = link.open(); !s) {
                    board = s.message().section(QLatin1Char('\n'), 0, 0);
                } else {
                    BoardCommands commands(link);
                    const IdentifyOutcome id = identifyDevice(commands);
                    QString why;
                    if (id.failure)
                        board = id.failure->message;
                    else if (checkChip(id, nullptr, &why) == ChipCheck::Fine)
                        board = QString::fromLatin1(id.chip->signature) + QStringLiteral(", ") +
                                QString::fromLatin1(id.chip->caption);
                    else
                        board = why;
                }
            }
            text += QStringLiteral("\n  board: ") + board;
        }
        m_t.result(text);
    }
    return Success;
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

// The command named on the command line, with its checks; `stop` is set to stop it while
// it runs.
int runCommand(const QCommandLineParser &p, const Options &o, bool parsed, Terminal &t, std::function<void()> &stop)
{
    if (parsed && p.isSet(o.help)) {
        // The program's own name, not the path it was started by (the manual page is made from this).
        QString text = p.helpText();
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: voralith-cli"));
        t.print(text + QString::fromLatin1(kExitStatus));
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
    struct Known {
        const char *name;
        int arguments;
    };
    static const Known known[] = {{"identify", 0}, {"blank", 0}, {"read", 1},    {"write", 1},   {"verify", 1},
                                  {"erase", 0},    {"lock", 1},  {"list", 1},    {"program", 1}, {"ports", 0}};
    const QStringList args = p.positionalArguments();
    const QString command = args.value(0);
    const Known *k = nullptr;
    for (const Known &c : known) {
        if (command == QLatin1String(c.name))
            k = &c;
    }
    if (!k || args.size() != 1 + k->arguments) {
        t.failure(args.isEmpty() ? QStringLiteral("voralith-cli: no command given (see voralith-cli --help).")
                  : !k ? QStringLiteral("voralith-cli: unknown command \"%1\" (see voralith-cli --help).").arg(command)
                       : QStringLiteral("voralith-cli: %1 takes %2 (see voralith-cli --help).")
                             .arg(command, k->arguments ? QStringLiteral("one argument")
                                                        : QStringLiteral("no argument")));
        return Usage;
    }
    for (const auto &[option, only] : {std::pair{&o.noErase, "program"}, std::pair{&o.repeat, "program"},
                                       std::pair{&o.probe, "ports"}}) {
        if (p.isSet(*option) && command != QLatin1String(only)) {
            t.failure(QStringLiteral("voralith-cli: --%1 is for %2 only.").arg(option->names().constFirst(),
                                                                                QLatin1String(only)));
            return Usage;
        }
    }
    Cli cli(p, o, t);
    stop = [&cli] { cli.stop(); };
    const int status = cli.run(command, args.value(1));
    stop = [] {};
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
        QStringLiteral("Drives the programmer board of AT89C51/AT89C52 flash microcontrollers.\n\n") +
        QString::fromLatin1(kCommands));
    p.addOptions({o.help, o.version, o.port, o.com, o.yes, o.quiet, o.format, o.chip, o.noErase, o.repeat, o.probe});
    p.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("One of the commands above, with its argument."),
                            QStringLiteral("COMMAND [ARGUMENT]"));

    const bool parsed = p.parse(app.arguments());
    Terminal t(parsed && p.isSet(o.quiet));
    std::function<void()> stop = [] {};
    stopsignals::install([&stop] { stop(); });
    t.setOnBroken([&stop] { stop(); });
    int status = undecodableArgument(argc, argv, app.arguments(), t);
    if (status == Success)
        status = runCommand(p, o, parsed, t, stop);
    t.finish();
    return exitStatus(status, t);
}
