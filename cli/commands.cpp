// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's table of commands and the commands that work on one chip; program is in
// production.cpp, ports in portfinder.cpp.
#include "cli.h"
#include "identify.h"
#include "listing.h"
#include "outputfile.h"
#include "portmap.h"
#include "wording.h"

#include <algorithm>

namespace {

const Command kCommands[] = {
    {"identify", nullptr, "read the signature and name the chip", [](Cli &c, const QString &) { return c.identify(); },
     true},
    {"blank", nullptr, "check that the chip is erased", [](Cli &c, const QString &) { return c.blank(); }, true},
    {"read", "FILE", "read the whole chip into FILE (- for standard output)",
     [](Cli &c, const QString &a) { return c.read(a); }, true},
    {"write", "FILE", "write FILE into the chip (it is not erased first)",
     [](Cli &c, const QString &a) { return c.write(a); }, true},
    {"verify", "FILE", "compare the chip with FILE", [](Cli &c, const QString &a) { return c.verify(a); }, true},
    {"erase", nullptr, "erase the chip", [](Cli &c, const QString &) { return c.erase(); }, true},
    {"lock", "1|2|3", "program lock bits 1 to N", [](Cli &c, const QString &a) { return c.lock(a); }, true},
    {"list", "FILE", "show FILE as the window lists it (no board needed)",
     [](Cli &c, const QString &a) { return c.list(a); }, false},
    {"program", "FILE",
     "identify, erase, blank check, write and verify, stopping at\n"
     "the first step that fails",
     [](Cli &c, const QString &a) { return c.program(a); }, true, {"no-erase", "repeat"}},
    {"ports", nullptr,
     "list the serial devices (with --port, that one), whether\n"
     "you may open each and whether another program holds it",
     [](Cli &c, const QString &) { return c.ports(); }, true, {"probe"}},
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

int Cli::run(const Command &command, const QString &argument)
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
    const QString name = QString::fromLatin1(command.name);
    m_command = &command;
    m_deviceCommand = command.needsPort && name != QLatin1String("ports");
    if (m_p.isSet(m_o.log) && !m_deviceCommand) {
        m_t.failure(QStringLiteral("voralith-cli: --log is for the commands that work on a chip, not %1.").arg(name));
        return Usage;
    }
    if (command.needsPort) {
        if (int e = setUpPort(); e != Success)
            return e;
    }
    // No chip is worked on without its record: a log that cannot be opened stops the
    // command before anything is sent.
    if (m_p.isSet(m_o.log)) {
        if (const QString why = m_r.openLog(m_p.value(m_o.log)); !why.isEmpty()) {
            m_t.failure(QStringLiteral("voralith-cli: the log %1 cannot be opened: %2.").arg(m_p.value(m_o.log), why));
            return Usage;
        }
    }
    newRound(1);
    // A command given an image starts once it has loaded it, to name it.
    if (!command.argument || QLatin1String(command.argument) != QLatin1String("FILE") || name == QLatin1String("read"))
        begin();
    int status = command.run(*this, argument);
    if (m_deviceCommand && !m_recorded && status != Success)
        recordFailure(status);
    return m_logFailed ? std::max(status, int(Usage)) : status;
}

int Cli::setUpPort()
{
    m_link.setNaming(SerialLink::Naming::ByDevice);
    int number = 2;
    if (m_p.isSet(m_o.com)) {
        const PortRequest com = parsePortOption(PortOption::CliCom, m_p.value(m_o.com));
        if (com.refused()) {
            m_t.failure(com.refusal);
            return Usage;
        }
        number = com.number;
        if (!com.device.isEmpty())
            m_link.portMap().mapForThisRun(number, com.device);
    }
    if (m_p.isSet(m_o.port)) {
        const PortRequest port = parsePortOption(PortOption::CliPort, m_p.value(m_o.port));
        if (port.refused()) {
            m_t.failure(port.refusal);
            return Usage;
        }
        if (port.number)
            number = port.number;
        if (!port.device.isEmpty()) {
            m_link.setGivenName(m_p.value(m_o.port));
            m_link.portMap().mapForThisRun(number, port.device);
        }
    }
    m_link.setPortNumber(number);
    return Success;
}

int exitFor(const Outcome &o)
{
    switch (o.kind) {
    case Outcome::Done:
        return Success;
    case Outcome::DataFound:
    case Outcome::WrongByte:
    case Outcome::Difference:
        return Different;
    case Outcome::TooLong:
    case Outcome::NoteRefused:
        return Usage;
    default:
        return NoBoard;
    }
}

int Cli::report(const Outcome &o)
{
    const QString text = wording::text(o, Audience::Shell);
    const int status = exitFor(o);
    record(o, status == NoBoard && stopped() ? int(Usage) : status);
    if (status == Success) {
        if (!text.isEmpty())
            m_t.result(text);
        return Success;
    }
    if (status == NoBoard)
        return boardFailure(text);
    m_t.failure(text);
    return status;
}

int Cli::openAndIdentify(const ChipInfo **chip)
{
    if (Status s = m_session.open(); !s)
        return boardFailure(wording::failure(s.failure(), Audience::Shell));
    tellUnfinishedChanges();
    stepStarts(Step::Identify);
    m_id = m_session.identify(m_wanted);
    if (!m_id.ok())
        return report(m_id);
    *chip = m_id.chip;
    return Success;
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
    begin(imageObject(path, image->bytes));
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
    return fileFailure(wording::tooLong(image.path, image.bytes.size(), chip));
}

bool Cli::confirm(const QString &title, const QString &explanation)
{
    if (m_p.isSet(m_o.yes))
        return true;
    if (m_r.json()) {
        m_t.failure(QStringLiteral("Nothing was changed: --json asks no question. Give --yes to go on."));
        return false;
    }
    if (m_t.ask(title + QStringLiteral(": ") + confirmationText(explanation)))
        return true;
    m_t.failure(QStringLiteral("Nothing was changed. Give --yes to go on without the question."));
    return false;
}

int Cli::identify()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    return report(m_id);
}

int Cli::blank()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    return report(m_session.blankCheck(steps()));
}

int Cli::read(const QString &path)
{
    if (m_r.json() && isStandardOutput(path))
        return fileFailure(QStringLiteral("voralith-cli: with --json standard output carries only JSON; read into a "
                                          "file."));
    // A file that cannot be written is told before the chip is read, not after.
    if (Status s = checkOutput(path); !s)
        return fileFailure(s.message());
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    const Outcome read = m_session.read(steps());
    if (!read.ok())
        return report(read);
    const ImageFormat format = givenFormat().value_or(formatForName(path));
    // The image itself on standard output goes through the terminal's checked writes (a
    // reader that has gone ends the command quietly); its figures go beside it, not into it.
    if (isStandardOutput(path)) {
        if (!m_t.data(encodeImage(read.data, format)))
            return Usage;
        m_t.note(path + QStringLiteral(": ") + sumsText(imageSums(read.data)));
        return Success;
    }
    if (Status s = saveImage(Image{read.data, QString(), format}, path, format); !s)
        return fileFailure(s.message());
    record(read, Success, JsonLine().add("file", path).append(sumsFields(read.data)));
    printSums(path, read.data);
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
    const int status = report(m_session.write(image.bytes, steps(image.bytes.size()), [this](const Mismatch &m) {
        m_t.failure(wording::wrongByte(m));
    }));
    if (status == Success)
        printSums(path, image.bytes);
    return status;
}

int Cli::verify(const QString &path)
{
    Image image;
    const ChipInfo *chip = nullptr;
    if (int e = loadForChip(path, &image, &chip); e != Success)
        return e;
    const int status = report(m_session.verify(image.bytes, steps(image.bytes.size() + 1)));
    if (status == Success)
        printSums(path, image.bytes);
    return status;
}

int Cli::erase()
{
    const ChipInfo *chip = nullptr;
    if (int e = openAndIdentify(&chip); e != Success)
        return e;
    if (!confirm(QStringLiteral("Erase Chip")))
        return Usage;
    stepStarts(Step::Erase);
    return report(m_session.erase());
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
    stepStarts(Step::Lock);
    return report(m_session.lock(bits));
}

int Cli::list(const QString &path)
{
    Image image;
    if (int e = loadFile(path, &image); e != Success)
        return e;
    // The start names the image and its sums; the rows are for a person.
    if (m_r.json())
        return Success;
    QString rows = QString::fromLatin1(listing::format(image.bytes));
    rows.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (rows.endsWith(QLatin1Char('\n')))
        rows.chop(1);
    m_t.result(rows);
    printSums(path, image.bytes);
    return Success;
}
