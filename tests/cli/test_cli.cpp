// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli end to end against voralith-board on a pseudo-terminal: each command against
// each fault (exit status, what is told, nothing lost, the next run sound), then the commands
// as they go otherwise: the exact bytes the board received, what is printed, the exit status,
// the file written and the chip afterwards.
#include "boardtool.h"
#include "image.h"
#include "operations.h"
#include "ops/faults.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QDir>
#include <csignal>
#include <zlib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <cstdlib>

using namespace faults;
Q_DECLARE_METATYPE(faults::Op)

namespace {
const QByteArray kId = wire(Identify);

// The chip as it holds `image` from address 0, the rest erased.
QByteArray chip(const QByteArray &image = {}, int size = 8192)
{
    return image + QByteArray(size - image.size(), char(0xFF));
}
QString has(const QString &text) { return QRegularExpression::escape(text); }
QString exact(const QString &text) { return "^" + has(text) + "$"; }

// How a standard stream of voralith-cli fails, set up in the child before it starts.
enum Output { Full, Closed, ReaderGone, FileFills };
void breakStream(int fd, Output how, const char *file)
{
    int pipeEnds[2];
    switch (how) {
    case Full: ::dup2(::open("/dev/full", O_WRONLY), fd); break;
    case Closed: ::close(fd); break;
    case ReaderGone:
        if (::pipe(pipeEnds) == 0) {
            ::dup2(pipeEnds[1], fd);
            ::close(pipeEnds[0]);
        }
        break;
    case FileFills: {
        const rlimit cap{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &cap);
        ::signal(SIGXFSZ, SIG_IGN);
        ::dup2(::open(file, O_WRONLY | O_CREAT | O_TRUNC, 0600), fd);
        break;
    }
    }
}

// A run against a board (its options, its chip): arguments ("--port DEVICE" first unless
// given), input file, typed input; exit status, output and error patterns, the bytes the
// board received, the chip afterwards (a file read must hold it); a standard stream that
// fails (1 or 2) and how; whether the work folder cannot be made (its parent is a file).
struct Row {
    QStringList board;
    QByteArray chipImage;
    QStringList args;
    QString inName;
    QByteArray input, typed;
    int code = 0;
    QString out, err;
    QByteArray wire, memory = chip();
    int fd = 0;
    Output broken = Full;
    bool noWorkFolder = false;
};

struct Run {
    int code = -1;
    QString out, err;
};
Run cli(const QString &dir, const QStringList &args, const QByteArray &typed = {},
        const std::function<void()> &inChild = {})
{
    QProcess p;
    p.setWorkingDirectory(dir);
    if (inChild)
        p.setChildProcessModifier(inChild);
    p.start(QStringLiteral(VORALITH_CLI_PATH), args);
    p.write(typed);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// `image` padded with FF up to `at`, with `bytes` there.
QByteArray withSerialAt(QByteArray image, int at, const QByteArray &bytes)
{
    image = image.leftJustified(at, char(0xFF));
    return image + bytes;
}
// The sums line's figures, as zlib and a 16-bit sum give them.
QString sumsOf(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size()));
    return QStringLiteral("%1 bytes, sum 0x%2, CRC-32 0x%3")
        .arg(bytes.size())
        .arg(QString::number(sum & 0xFFFF, 16).toUpper().rightJustified(4, '0'),
             QString::number(crc, 16).toUpper().rightJustified(8, '0'));
}

QString crcOf(const QByteArray &bytes)
{
    return sumsOf(bytes).section("0x", -1).toUpper();
}

// The board options that set up a fault case.
QStringList toolOptions(const BoardConfig &b)
{
    QStringList o;
    for (const auto &[name, value] : {std::pair{"--silent-after", b.silentAfter}, {"--stray-after", b.strayAfter},
                                      {"--double-reply", b.doubleReply}, {"--drop-reply", b.dropReply},
                                      {"--vanish-after", b.vanishAfter}, {"--late", b.lateMs ? b.lateMs : -1}})
        if (value >= 0)
            o << QString::fromLatin1(name) << QString::number(value);
    if (b.paced)
        o << "--paced";
    if (b.strayByte >= 0)
        o << "--stray-byte" << QString::number(b.strayByte, 16);
    if (b.wrongAddress >= 0)
        o << "--wrong-byte" << QStringLiteral("%1=%2").arg(b.wrongAddress, 0, 16).arg(b.wrongValue, 0, 16);
    if (b.slowReply >= 0)
        o << "--slow-reply" << QStringLiteral("%1=%2").arg(b.slowReply).arg(b.slowMs);
    return o;
}

const QStringList kArgs[] = {{"identify"},         {"blank"},          {"read", "out.bin"},
                             {"verify", "in.bin"}, {"--yes", "write", "in.bin"}, {"--yes", "erase"},
                             {"--yes", "lock", "1"}, {"--yes", "program", "in.bin"}};
const char *const kFine[] = {"^1E 51 FF\nDevice : Atmel 89C51 \\(Vpp=12V\\)\n$", "^Device is erased\\.\n$",
                             "^out\\.bin: 4096 bytes, sum 0x", "^Equal\\.\nin\\.bin: 64 bytes",
                             "^Device was succesfully programmed\\.\nin\\.bin: 64 bytes", "^Chip erase sent\\.\n$",
                             "^Lock bit 1 sent\\.\n$", "^programmed and verified \\(AT89C51\\)\\.\nin\\.bin: 64 bytes"};

// The exit status and what standard error must say.
QPair<int, QString> expected(Op op, const Case &c)
{
    const QString wrong = hexNumber(quint8(image().at(wrongAt)));
    const QString differs[] = {{}, "Device contains data at 20h (read 0h).", {},
                               "It isn't the same : 20 h expexted " + wrong + "h read 0h",
                               "Error in 20h : write " + wrong + "h read 0h\nSome errors are occurred.", {}, {},
                               "Blank check: Device contains data at 20h (read 0h) after the erase: the chip did not erase."};
    switch (c.seen) {
    case Fine: return {0, {}};
    case Differs: return {differs[op].isEmpty() ? 0 : 1, has(differs[op])};
    case NoChip: return {3, "^(No chip in the socket|Device not present or defective)"};
    default: return {3, op == Identify ? QStringLiteral("^Identify stopped: the serial port .* was lost") : endPattern(op, c)};
    }
}

// A pseudo-terminal for voralith-cli's standard streams, `columns` wide: what it shows is
// read as it comes (so that it never fills and holds the program up), and can be typed into.
struct Pty {
    int master = -1;
    QByteArray slave, shown;
    explicit Pty(unsigned short columns)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slave = ::ptsname(master);
        const winsize size{24, columns, 0, 0};
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    ~Pty() { ::close(master); }
    // Standard output and error on the terminal, and standard input with `input`.
    void attach(QProcess &p, bool input)
    {
        p.setChildProcessModifier([this, input] {
            ::setsid();
            const int terminal = ::open(slave.constData(), O_RDWR);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                if (fd != STDIN_FILENO || input)
                    ::dup2(terminal, fd);
        });
    }
    void type(const QByteArray &keys) { QCOMPARE(::write(master, keys.constData(), size_t(keys.size())), keys.size()); }
    // Reads for up to `ms`, or until `text` has been shown `times` times.
    bool readUntil(const QByteArray &text, int times, int ms = 30000)
    {
        for (QDeadlineTimer limit(ms); !limit.hasExpired();) {
            if (shown.count(text) >= times)
                return true;
            if (!readSome(100))
                continue;
        }
        return shown.count(text) >= times;
    }
    void readUntilEnd(QProcess &p)
    {
        for (QDeadlineTimer limit(60000); !limit.hasExpired();) {
            if (readSome(20))
                continue;
            if (p.state() == QProcess::NotRunning || p.waitForFinished(1))
                break;
        }
        while (readSome(20)) {
        }
    }
    bool readSome(int ms)
    {
        pollfd ready{master, POLLIN, 0};
        char chunk[4096];
        if (::poll(&ready, 1, ms) <= 0)
            return false;
        const ssize_t got = ::read(master, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        shown.append(chunk, got);
        return true;
    }
    // The screen as a terminal shows it at the end (the cursor sequences the program uses).
    QStringList screen() const
    {
        QStringList rows{QString()};
        int row = 0;
        for (qsizetype i = 0; i < shown.size(); ++i) {
            const char ch = shown.at(i);
            if (ch == '\x1b') {
                const auto m = QRegularExpression("^\\x1b\\[(\\d*)([FKJ])").match(QString::fromLatin1(shown.mid(i, 12)));
                if (!m.hasMatch())
                    return {"unknown sequence: " + QString::fromLatin1(shown.mid(i, 12))};
                if (m.captured(2) == "F")
                    row = std::max(0, row - m.captured(1).toInt());
                else if (m.captured(2) == "K")
                    rows[row].clear();
                else
                    rows = rows.mid(0, row + 1), rows[row].clear();
                i += m.capturedLength() - 1;
            } else if (ch == '\n') {
                if (++row == rows.size())
                    rows << QString();
            } else if (ch != '\r') {
                rows[row] += QLatin1Char(ch);
            }
        }
        while (!rows.isEmpty() && rows.last().isEmpty())
            rows.removeLast();
        return rows;
    }
};
}  // namespace
Q_DECLARE_METATYPE(Row)

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));  // the [Ports] written here
        // The notes of broken-off writes too: another run's, on a pseudo-terminal of the
        // same name, are not this run's.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_config.path()));
        useShortLimits();
    }

    void faults_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("fault");
        for (Op op : {Identify, Blank, Read, Verify, Write, Erase, Lock, Program})
            for (int f = 0; f < FaultCount; ++f)
                QTest::addRow("%s, %s", opNames[op], faultNames[f]) << op << f;
    }
    void faults()
    {
        QFETCH(Op, op);
        QFETCH(int, fault);
        const Case c = make(op, Fault(fault), true);
        QTemporaryDir dir;
        const QByteArray previous(100, 'P');
        writeFile(dir.filePath("chip.bin"), content(op));
        writeFile(dir.filePath("in.bin"), image());
        writeFile(dir.filePath("out.bin"), previous);
        BoardTool b(QStringList{"--chip", "89c51", "--image", dir.filePath("chip.bin"), "--link", dir.filePath("board")} +
                    toolOptions(c.board));
        const QStringList args = QStringList{"--port", b.path} + kArgs[op];
        const Run run = cli(dir.path(), args);
        const auto [code, err] = expected(op, c);
        QVERIFY2(QRegularExpression(code ? err : kFine[op], QRegularExpression::MultilineOption)
                     .match(code ? run.err : run.out).hasMatch(), qPrintable(run.out + run.err));
        QCOMPARE(run.code, code);
        // Nothing lost: the file read into is written only with a whole and sound read.
        const QByteArray asRead = c.seen == Differs ? content(op).replace(wrongAt, 1, "\0", 1) : content(op);
        QCOMPARE(readAll(dir.filePath("out.bin")), op == Read && code == 0 ? asRead : previous);
        QCOMPARE(readAll(dir.filePath("in.bin")), image());

        // The board sound again, once it has sent what was on its way: the same command works.
        ::kill(b.proc.processId(), SIGUSR1);
        QByteArray said;
        while (!said.contains("healed") && b.proc.waitForReadyRead(10000))
            said += b.proc.readAllStandardOutput();
        QVERIFY(said.contains("healed"));
        // Under the device's other name: a note left under the first is told all the same.
        const Run again = cli(dir.path(), QStringList{"--port", QFile::symLinkTarget(b.path)} + kArgs[op]);
        QVERIFY2(again.code == 0 && QRegularExpression(kFine[op]).match(again.out).hasMatch(), qPrintable(again.err));
        const bool broken = op == Write && c.seen != Fine && c.seen != Differs && c.seen != NoChip;
        QCOMPARE(again.err.contains("A Write on " + b.path + ", started "), broken);
        QCOMPARE(again.err.contains("did not finish, so the chip there may be half-written."), broken);
    }

    void commands_data()
    {
        QTest::addColumn<Row>("row");
        const QStringList c51{"--chip", "89c51"};
        const QByteArray every = pattern(256);  // every byte value through the line: CR, LF, XON and XOFF too
        const QByteArray hexText = ":0300000041424337\r\n:00000001FF\r\n";
        const QString sumsABC = "in.hex: 3 bytes, sum 0x00C6, CRC-32 0xA3830348\n";
        const QString sums256 = "in.bin: 256 bytes, sum 0x7F80, CRC-32 0xA4EAD1C8\n";  // as zlib and a sum give
        const QString steps = "Identify...\nErase...\nBlank check...\nWrite...\nVerify...\n";
        const QByteArray programWire = kId + "E" + wire(Blank, {}, 8192) + wire(Write, every) + wire(Verify, every);
        auto row = [](const char *name, const Row &r) { QTest::newRow(name) << r; };

        // Each command as it goes when all is well: the exact bytes, the sums, the file written.
        row("identify through Com3 of the settings",
            {{}, {}, {"--port", "Com3", "identify"}, {}, {}, {}, 0, exact("1E 52 FF\nDevice : Atmel 89C52 (Vpp=12V)\n"),
             "", kId});
        row("read into HEX", {c51, every, {"read", "out.hex"}, {}, {}, {}, 0,
                              has("out.hex: 4096 bytes, sum 0x"), "", kId + wire(Read),
                              chip(every, 4096)});
        row("write HEX", {{}, {}, {"--yes", "write", "in.hex"}, "in.hex", hexText, {}, 0,
                          exact("Device was succesfully programmed.\n" + sumsABC), "", kId + wire(Write, "ABC"), chip("ABC")});
        row("verify, quiet, raw binary that reads like HEX",
            {{}, hexText, {"--quiet", "--format", "bin", "verify", "in.dat"}, "in.dat", hexText, {}, 0, exact(""),
             exact(""), kId + wire(Verify, hexText), chip(hexText)});
        row("erase", {{}, every, {"--yes", "erase"}, {}, {}, {}, 0, exact("Chip erase sent.\n"), "", kId + "E"});
        row("lock 3", {{}, {}, {"--yes", "lock", "3"}, {}, {}, {}, 0, exact("Lock bits 1 to 3 sent.\n"), "", kId + "111"});
        row("list", {{}, {}, {"list", "in.hex"}, "in.hex", hexText, {}, 0,
                     exact("0000  41 42 43                ABC     \n" + sumsABC), "", {}});
        row("program, every byte value", {{}, QByteArray(10, 0), {"--yes", "program", "in.bin"}, "in.bin", every, {},
                                          0, exact("programmed and verified (AT89C52).\n" + sums256), exact(steps),
                                          programWire, chip(every)});
        // Lock bits as the last step, right after the verify's last reply; never on a chip
        // that failed.
        row("program --lock 2",
            {{}, {}, {"--yes", "--lock", "2", "program", "in.bin"}, "in.bin", every, {}, 0,
             has("programmed, verified and locked with lock bits 1 to 2 (AT89C52).\n"), exact(steps + "Lock bits...\n"),
             programWire + "11", chip(every)});
        row("program --lock 3, a chip that does not erase",
            {{"--wrong-byte", "20=00"}, {}, {"--yes", "--lock", "3", "program", "in.bin"}, "in.bin", every, {}, 1,
             exact(""), has("Blank check: Device contains data at 20h (read 0h) after the erase"),
             kId + "E" + wire(Blank, {}, 0x24), chip()});
        // What stops a command short of changing the chip.
                row("program --no-erase on a chip with data",
            {{}, every, {"--yes", "--no-erase", "program", "in.bin"}, "in.bin", every, {}, 1, exact(""),
             has("Blank check: Device contains data at 0h (read 1h): nothing was written. Erase the chip first.\n"),
             kId + "Z" + "RIRIRIRI", chip(every)});
        row("program, another chip than asked",
            {{}, {}, {"--yes", "--chip", "89c51", "program", "in.bin"}, "in.bin", every, {}, 3, exact(""),
             has("The chip is an AT89C52 (signature 1E 52 FF), not the AT89C51 asked for: nothing was written."), kId});
        // A serial number in the chip: each format at its edge, the largest that fits written,
        // one more refused before anything is sent; an image that ends before it is padded.
        const QString serialSteps = "Identify...\nErase...\nBlank check...\nWrite...\nVerify...\n";
        for (const auto &[name, place, start, bytes] :
             {std::tuple<const char *, const char *, const char *, QByteArray>{"be", "10:2", "258", "\x01\x02"},
              {"le, largest of 3 bytes", "10:3:le", "16777215", "\xFF\xFF\xFF"},
              {"le", "10:3:le", "66051", "\x03\x02\x01"},
              {"bcd, largest of 2 bytes", "10:2:bcd", "9999", "\x99\x99"},
              {"ascii, largest of 3 digits", "10:3:ascii", "999", "999"},
              {"ascii, zero-padded", "10:5:ascii", "42", "00042"},
              {"be, 8 bytes", "10:8", "18446744073709551614", QByteArray(7, char(0xFF)) + "\xFE"}}) {
            const QByteArray chipImage = withSerialAt("ABC", 0x10, bytes);
            QTest::addRow("program --serial %s", name)
                << Row{{}, {}, {"--yes", "--serial", place, "--serial-file", "ctr", "--serial-start", start, "program",
                                "in.bin"},
                       "in.bin", "ABC", {}, 0,
                       exact("programmed and verified (AT89C52).\nin.bin with serial number " + QString(start) + ": " +
                             sumsOf(chipImage) + "\n"),
                       exact(serialSteps),
                       kId + "E" + wire(Blank, {}, 8192) + paddedWrite(chipImage, 3) + wire(Verify, chipImage),
                       chip(chipImage)};
        }
        for (const auto &[name, place, start, told] :
             {std::tuple<const char *, const char *, const char *, const char *>{
                  "be", "10:2", "65536", "The serial number 65536 does not fit 2 bytes as be (at most 65535)."},
              {"bcd", "10:2:bcd", "10000", "The serial number 10000 does not fit 2 bytes as bcd (at most 9999)."},
              {"ascii", "10:3:ascii", "1000", "The serial number 1000 does not fit 3 digits as ascii (at most 999)."},
              {"a place in the image's data", "1:2", "1",
               "in.bin holds data at 1h, where the serial number goes (1h to 2h): the number is put only where the "
               "image is erased (FF)."},
              {"beyond the chip asked for", "1FFE:4", "1", "The serial number at 1FFEh to 2001h lies beyond the 8192 "
                                                          "bytes of the largest chip."}})
            QTest::addRow("program --serial, refused: %s", name)
                << Row{{}, {}, {"--yes", "--serial", place, "--serial-file", "ctr", "--serial-start", start, "program",
                                "in.bin"},
                       "in.bin", "ABC", {}, 2, exact(""), exact(QString(told) + "\n"), {}};
        row("program --serial, refused by the chip in the socket",
            {c51, {}, {"--yes", "--serial", "1FFC:4", "--serial-file", "ctr", "program", "in.bin"}, "in.bin", "ABC", {}, 2,
             exact(""),
             has("The serial number at 1FFCh to 1FFFh lies beyond the 4096 bytes of the AT89C51 in the socket. Nothing "
                 "was written.\n"),
             kId, chip({}, 4096)});
        const QByteArray atEnd = withSerialAt("ABC", 0x1FFE, QByteArray("\x00\x07", 2));
        row("write --serial at the chip's end",
            {{}, {}, {"--yes", "--serial", "1FFE:2", "--serial-file", "ctr", "--serial-start", "7", "write", "in.bin"},
             "in.bin", "ABC", {}, 0,
             exact("Device was succesfully programmed.\nin.bin with serial number 7: " + sumsOf(atEnd) + "\n"), "",
             kId + paddedWrite(atEnd, 3), chip(atEnd)});
        // Production: one chip after another until q or the end of input.
        row("program --repeat, two chips, then q",
            {{}, {}, {"--yes", "--repeat", "program", "in.bin"}, "in.bin", every, "\nq\n", 0,
             exact("Chip 1: programmed and verified (AT89C52).\n" + sums256 +
                   "Chip 2: programmed and verified (AT89C52).\n" + sums256 + "Programmed: 2, failed: 0.\n"),
             exact(steps.repeated(2)), programWire.repeated(2), chip(every)});
        row("program --repeat, empty socket, end of input",
            {{"--chip", "none"}, {}, {"--yes", "--repeat", "program", "in.bin"}, "in.bin", every, {}, 0,
             exact("Programmed: 0, failed: 0.\n"),
             exact("Identify...\nNo chip in the socket (signature FF FF FF): nothing was written.\n"), kId});
        // The prompt: an empty line (spaces too) programs the next chip, a word that stops in
        // any case ends, any other is asked again and programs nothing.
        for (const auto &[name, typed, chips] :
             {std::tuple<const char *, QByteArray, int>{"spaces, then Quit", "  \nQuit\n", 2}, {"EXIT", "EXIT\n", 1},
              {"n", "n\n", 1}, {"no", "no\n", 1}, {"stop", "stop\n", 1}, {"yes asked again, then q", "yes\nq\n", 1}}) {
            QString out;
            for (int n = 1; n <= chips; ++n)
                out += QStringLiteral("Chip %1: programmed and verified (AT89C52).\n").arg(n) + sums256;
            const QString again = typed.startsWith("yes") ? "Press Enter for the next chip, or q to stop.\n" : "";
            QTest::addRow("program --repeat, %s", name)
                << Row{{}, {}, {"--yes", "--repeat", "program", "in.bin"}, "in.bin", every, typed, 0,
                       exact(out + QStringLiteral("Programmed: %1, failed: 0.\n").arg(chips)),
                       exact(steps.repeated(chips) + again), programWire.repeated(chips), chip(every)};
        }
        // Refusals: wrong use and bad files send nothing; a question not answered changes nothing.
        row("write without --yes, no answer", {{}, {}, {"write", "in.bin"}, "in.bin", every, {}, 2, exact(""),
                                               has("Write Data: Are you sure ? [y/N] \nNothing was changed."), {}});
                row("bad HEX", {{}, {}, {"--yes", "program", "in.hex"}, "in.hex", ":0300000041424337\n:03000300414243F0\n", {},
                        2, exact(""), has("in.hex, line 2:")});
        row("write of HEX holding only its end record", {{}, {}, {"--yes", "write", "in.hex"}, "in.hex", ":00000001FF\r\n",
                                                         {}, 2, exact(""), exact("in.hex holds no data: nothing to write.\n")});
        row("verify of an empty file", {{}, {}, {"verify", "in.bin"}, "in.bin", "", {}, 2, exact(""),
                                        exact("in.bin holds no data: nothing to write.\n")});
        row("program of an empty file", {{}, {}, {"--yes", "program", "in.bin"}, "in.bin", "", {}, 2, exact(""),
                                         exact("in.bin holds no data: nothing to write.\n")});
        row("read into a folder that is not there", {{}, {}, {"read", "no/out.bin"}, {}, {}, {}, 2, exact(""),
                                                     has("no/out.bin cannot be written: its folder")});
        row("image larger than the chip", {c51, {}, {"--yes", "write", "in.bin"}, "in.bin", QByteArray(4097, 0), {}, 2,
                                           exact(""), has("more than the AT89C51's 4096: nothing was done."), kId,
                                           chip({}, 4096)});
        row("erase, board gone", {{}, {}, {"--port", "./gone", "--yes", "erase"}, {}, {}, {}, 3, exact(""),
                                  "^" + has("The serial port ./gone does not exist.\n\nSerial devices")});
        row("--port, a link in a loop", {{}, {}, {"--port", "./loop", "identify"}, {}, {}, {}, 3, exact(""),
                                         "^" + has("The serial port ./loop is a link that leads round in a loop")});
        row("--port, empty", {{}, {}, {"--port", "", "identify"}, {}, {}, {}, 2, exact(""),
                              exact("--port needs a device or ComN; the name given is empty.\n")});
        // Wrong use, found from the table of commands and the port options, sends nothing.
        row("--com out of range", {{}, {}, {"--com", "256", "identify"}, {}, {}, {}, 2, exact(""),
                                   exact("--com takes a port number from 1 to 255, or N=DEVICE, not \"256\".\n")});
        row("--port Com0", {{}, {}, {"--port", "Com0", "identify"}, {}, {}, {}, 2, exact(""),
                            exact("--port ComN takes N from 1 to 255, not \"Com0\".\n")});
        row("identify with an argument", {{}, {}, {"identify", "in.bin"}, {}, {}, {}, 2, exact(""),
                                          exact("voralith-cli: identify takes no argument (see voralith-cli --help).\n")});
        row("--probe for identify", {{}, {}, {"--probe", "identify"}, {}, {}, {}, 2, exact(""),
                                     exact("voralith-cli: --probe is for ports only.\n")});
        // Output that cannot be written stops the command at once (no second chip), told on
        // standard error unless that is the stream failing or a pipe's reader has gone.
        const QString full = "voralith-cli: standard output could not be written: No space left on device.\n";
        row("identify > /dev/full", {{}, {}, {"identify"}, {}, {}, {}, 2, "", exact(full), kId, chip(), 1, Full});
        row("--help > /dev/full", {{}, {}, {"--help"}, {}, {}, {}, 2, "", exact(full), {}, chip(), 1, Full});
        row("list, standard output closed",
            {{}, {}, {"list", "in.bin"}, "in.bin", every, {}, 2, "",
             exact("voralith-cli: standard output could not be written: Bad file descriptor.\n"), {}, chip(), 1,
             Closed});
        row("list into a file that fills",
            {{}, {}, {"list", "in.bin"}, "in.bin", every, {}, 2, "",
             exact("voralith-cli: standard output could not be written: File too large.\n"), {}, chip(), 1, FileFills});
        row("list, the pipe's reader gone", {{}, {}, {"list", "in.bin"}, "in.bin", every, {}, 141, "", exact(""), {},
                                             chip(), 1, ReaderGone});
        row("program --repeat > /dev/full", {{}, {}, {"--yes", "--repeat", "program", "in.bin"}, "in.bin", every,
                                             "\n\n", 2, "", exact(steps + full), programWire, chip(every), 1, Full});
        row("read, standard error full",
            {{}, {}, {"read", "out.bin"}, {}, {}, {}, 2, "", "", kId + "ZRI", chip(), 2, Full});
        // The emulator holds the other end of its terminal: that is no holder.
        row("ports --probe", {{}, {}, {"ports", "--probe"}, {}, {}, {}, 0,
                              "^/dev/pts/\\d+ \\(Com3\\)\n  may open: yes\n  held: no\n"
                              "  board: 1E 52 FF, Device : Atmel 89C52 \\(Vpp=12V\\)\n$",
                              "", kId});
        // A change whose note the work folder cannot keep is not started.
        const QString noNote = "^Nothing was sent: the note of this chip change cannot be kept in the work folder "
                               ".*/plain/Quorvale/Voralith \\(it cannot be created\\)\\.";
        row("write, no work folder", {{}, {}, {"--yes", "write", "in.bin"}, "in.bin", every, {}, 2, exact(""), noNote,
                                      kId, chip(), 0, Full, true});
        row("lock, no work folder", {{}, {}, {"--yes", "lock", "1"}, {}, {}, {}, 2, exact(""), noNote, kId, chip(), 0, Full, true});
        row("program, no work folder", {{}, {}, {"--yes", "program", "in.bin"}, "in.bin", every, {}, 2, exact(""),
                                        noNote, {}, chip(), 0, Full, true});
    }

    // A read into what the user names: a link's target is replaced (the link and the
    // target's permissions kept), a device node, a named pipe or "-" is written straight into.
    void outputs_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"link", "device node", "named pipe", "-"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void outputs()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QByteArray memory = pattern(4096, 7);
        BoardTool b({"--chip", "89c51", "--image", writeFile(dir.filePath("chip.bin"), memory)});
        const QString out = kind == "-" ? kind : dir.filePath("out");
        int pipeEnd = -1;
        if (kind == "link") {
            QFile::setPermissions(writeFile(dir.filePath("target"), "old"), QFile::ReadOwner | QFile::WriteOwner);
            QFile::link(dir.filePath("target"), out);
        } else if (kind == "device node") {
            QCOMPARE(::mknod(qPrintable(out), S_IFCHR | 0666, makedev(1, 3)), 0);  // as /dev/null
        } else if (kind == "named pipe") {
            QCOMPARE(::mkfifo(qPrintable(out), 0600), 0);
            pipeEnd = ::open(qPrintable(out), O_RDONLY | O_NONBLOCK);  // the chip fits in the pipe's buffer
        }
        QProcess p;
        p.start(QStringLiteral(VORALITH_CLI_PATH), {"--port", b.path, "read", out});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        struct stat st {};
        QCOMPARE(::lstat(qPrintable(out), &st), kind == "-" ? -1 : 0);
        if (kind == "link") {
            QVERIFY(S_ISLNK(st.st_mode));
            QCOMPARE(readAll(dir.filePath("target")), memory);
            QCOMPARE(QFile::permissions(dir.filePath("target")), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                                                   QFile::WriteUser);
        } else if (kind == "device node") {
            QVERIFY(S_ISCHR(st.st_mode));
        } else if (kind == "named pipe") {
            QVERIFY(S_ISFIFO(st.st_mode));
            QByteArray got(8192, 0);
            got.truncate(::read(pipeEnd, got.data(), got.size()));
            ::close(pipeEnd);
            QCOMPARE(got, memory);
        } else {
            QCOMPARE(p.readAllStandardOutput(), memory);
            QVERIFY(p.readAllStandardError().contains("-: 4096 bytes"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 1 + int(kind != "-") + int(kind == "link"));
    }

    // The bash completion offers the commands, the commands that take a FILE and the
    // options the help lists, no more and no fewer.
    void completion_data()
    {
        QTest::addColumn<QString>("listed");    // one match a word in the help
        QTest::addColumn<QStringList>("path");  // the marks that lead to the completion's list, then its end
        QTest::newRow("commands") << "^  ([a-z]+) " << QStringList{"[[ ! $command ]]", "compgen -W '", "'"};
        QTest::newRow("FILE") << "^  ([a-z]+) FILE " << QStringList{"case $command in", ")"};
        QTest::newRow("options") << "^  (?:-\\w, )?(--[\\w-]+)"
                                 << QStringList{"[[ $cur == -* ]]", "compgen -W '", "'"};
    }
    void completion()
    {
        QFETCH(QString, listed);
        QFETCH(QStringList, path);
        QStringList help;
        for (const auto &m : QRegularExpression(listed, QRegularExpression::MultilineOption)
                                 .globalMatch(cli(QDir::tempPath(), {"--help"}).out))
            help << m.captured(1);
        QString script = QString::fromUtf8(readAll(QStringLiteral(VORALITH_COMPLETION_PATH)));
        for (const QString &mark : path.first(path.size() - 1))
            script = script.section(mark, 1);
        QStringList offered = script.section(path.last(), 0, 0).split(QRegularExpression("[\\s|]+"), Qt::SkipEmptyParts);
        help.sort();
        offered.sort();
        QVERIFY(help.size() > 1);
        QCOMPARE(offered, help);
    }

    // A name the program cannot hold as text is refused, never replaced by another name.
    void nameNotUtf8()
    {
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("/bin/sh", {"-c", "exec \"$0\" read \"$(printf 'rd\\377.bin')\"", VORALITH_CLI_PATH});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardError(), "voralith-cli: \"rd\\xff.bin\" is not valid UTF-8, so it cannot be used as it is; "
                                           "give the file a name in UTF-8.\n");
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void commands()
    {
        QFETCH(Row, row);
        QTemporaryDir dir;
        writeFile(dir.filePath("chip.bin"), row.chipImage);
        if (!row.inName.isEmpty())
            writeFile(dir.filePath(row.inName), row.input);
        const QStringList chipImage{"--image", dir.filePath("chip.bin")};
        BoardTool b(row.board + (row.chipImage.isEmpty() ? QStringList() : chipImage) +
                    QStringList{"--log", dir.filePath("log"), "--save", dir.filePath("memory")});
        QVERIFY(!b.path.isEmpty());
        QSettings(QStringLiteral("Quorvale"), QStringLiteral("Quorvale")).setValue("Ports/Com3", b.path);
        QStringList args = row.args;
        if (!args.contains("--port"))
            args = QStringList{"--port", b.path} + args;
        QFile::link("loop", dir.filePath("loop"));
        const QByteArray file = QFile::encodeName(dir.filePath("out.txt"));
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        if (row.noWorkFolder)
            qputenv("XDG_DATA_HOME", QFile::encodeName(writeFile(dir.filePath("plain"), "x")));
        const Run run = cli(dir.path(), args, row.typed, [&] {
            if (row.fd)
                breakStream(row.fd, row.broken, file.constData());
        });
        qputenv("XDG_DATA_HOME", dataHome);
        QCOMPARE(b.terminate(), 0);
        QVERIFY2(QRegularExpression(row.out).match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(QRegularExpression(row.err).match(run.err).hasMatch(), qPrintable(run.err));
        QVERIFY2(!(run.out + run.err).contains("menu"), "a shell has no menus");
        QCOMPARE(run.code, row.code);
        QCOMPARE(readAll(dir.filePath("log")), row.wire);
        QCOMPARE(readAll(dir.filePath("memory")), row.memory);
        if (QFile::exists(dir.filePath("out.hex")))
            QCOMPARE(loadImage(dir.filePath("out.hex")).value().bytes, row.memory);
    }

    // Ctrl+C and SIGTERM end a command through its normal path: the port is closed and
    // restored, so the next command on it works.
    void stop_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("started");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("told");
        QTest::newRow("Ctrl+C in a read") << QStringList{"read", "out.bin"} << QByteArray("Read...\n") << SIGINT << 130
                                          << "Read stopped by the user at address";
        QTest::newRow("SIGTERM in a read") << QStringList{"read", "out.bin"} << QByteArray("Read...\n") << SIGTERM
                                           << 143 << "Read stopped by SIGTERM at address";
        QTest::newRow("Ctrl+C in a read, --json") << QStringList{"--json", "read", "out.bin"} << QByteArray("Read...\n")
                                                  << SIGINT << 130 << "Read stopped by the user at address";
        QTest::newRow("Ctrl+C at the question") << QStringList{"write", "in.bin"} << QByteArray("[y/N] ") << SIGINT
                                                << 130 << "Nothing was changed.";
    }
    void stop()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, started);
        QFETCH(int, signal);
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), image());
        BoardTool b({"--paced"});
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(VORALITH_CLI_PATH), QStringList{"--port", b.path} + args);
        QByteArray err;
        while (!err.endsWith(started) && p.waitForReadyRead(10000))
            err += p.readAllStandardError();
        ::kill(p.processId(), signal);
        QVERIFY(p.waitForFinished(10000));
        err += p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QTEST(p.exitCode(), "code");
        QFETCH(QString, told);
        QVERIFY2(err.contains(told.toLocal8Bit()), err.constData());
        QVERIFY(!QFile::exists(dir.filePath("out.bin")));
        if (args.contains("--json")) {  // the summary last, with the status of the stop
            const QJsonObject last = QJsonDocument::fromJson(p.readAllStandardOutput().trimmed().split('\n').last()).object();
            QCOMPARE(last.value("event"), "summary");
            QCOMPARE(last.value("status"), 130);
        }
        const Run again = cli(dir.path(), {"--port", b.path, "identify"});
        QVERIFY2(again.code == 0, qPrintable(again.err));
    }

    // A device held by a voralith-cli reading through one name, given by another (root is no
    // exception): refused with the holder named, and nothing sent; once the holder is killed,
    // nothing of its hold is left.
    void heldPort_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("told");  // %1: the other name, %2: the holder's process number
        QTest::addColumn<QString>("after");  // the same command once the holder is gone
        QTest::newRow("identify") << QStringList{"identify"} << 3
                                  << "^The serial port %1 is in use by another program, process %2 "
                                     "\\(voralith-cli\\)\\. Close that program, then run the command again\\.\n$"
                                  << "^1E 52 FF\n";
        QTest::newRow("ports --probe") << QStringList{"ports", "--probe"} << 0
                                       << "^%1 -> /dev/pts/\\d+\n  may open: yes\n  held: yes, by process %2 "
                                          "\\(voralith-cli\\)\n  board: not probed \\(held by another program\\)\n$"
                                       << "\n  held: no\n  board: 1E 52 FF";
    }
    void heldPort()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, told);
        QFETCH(QString, after);
        QSettings(QStringLiteral("Quorvale"), QStringLiteral("Quorvale")).remove("Ports");  // the device by this name only
        QTemporaryDir dir;
        BoardTool b({"--paced", "--link", dir.filePath("board"), "--log", dir.filePath("log")});
        const QString other = dir.filePath("other");
        QVERIFY(QFile::link(QFile::symLinkTarget(b.path), other));
        HoldingRead holder(b.path, dir.filePath("out.bin"));
        QCOMPARE(holder.proc.state(), QProcess::Running);
        const Run run = cli(dir.path(), QStringList{"--port", other} + args);
        const QString pattern = told.arg(QRegularExpression::escape(other)).arg(holder.proc.processId());
        QVERIFY2(QRegularExpression(pattern).match(code ? run.err : run.out).hasMatch(), qPrintable(run.out + run.err));
        QCOMPARE(run.code, code);
        // Only the holder's read reached the board.
        const QByteArray sent = readAll(dir.filePath("log"));
        QVERIFY(!sent.isEmpty());
        QVERIFY(QByteArray(kId + wire(Read, {}, 8192)).startsWith(sent));

        holder.kill();
        QFile tty(other);
        QVERIFY(tty.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        int exclusive = -1;
        QCOMPARE(::ioctl(tty.handle(), TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
        tty.close();
        const Run again = cli(dir.path(), QStringList{"--port", other} + args);
        QVERIFY2(again.code == 0 && QRegularExpression(after).match(again.out).hasMatch(), qPrintable(again.err));
    }

    // --json: standard output is JSON lines only, each with its event and time, the summary
    // last whatever ended the command; "event.key=value" checks the first line of that event
    // (the summary: the last line).
    void json_data()
    {
        QTest::addColumn<QStringList>("board");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("events");  // progress lines left out
        QTest::addColumn<QStringList>("checks");
        const QStringList passed{"result.result=passed", "result.status=0", "result.signature=1E52FF",
                                 "result.chip=AT89C52", "result.round=1", "summary.passed=1", "summary.status=0"};
        QTest::newRow("identify") << QStringList() << QStringList{"identify"} << 0 << "start step result summary"
                                  << passed + QStringList{"result.command=identify", "start.command=identify"};
        QTest::newRow("program") << QStringList() << QStringList{"--yes", "program", "in.bin"} << 0
                                 << "start step step step step step result summary"
                                 << passed + QStringList{"start.image.crc32=A4EAD1C8", "start.image.sum=7F80",
                                                         "start.image.length=256", "step.step=identify",
                                                         "progress.step=blank", "progress.done=0",
                                                         "progress.total=8192"};
        QTest::newRow("verify, a difference")
            << QStringList{"--chip", "89c51"} << QStringList{"verify", "in.bin"} << 1 << "start step step result summary"
            << QStringList{"result.result=failed", "result.status=1", "result.step=verify", "result.address=0",
                           "result.expected=01", "result.read=FF", "result.message=It isn't the same : 0 h expexted 1h read FFh",
                           "result.chip=AT89C51", "summary.failed=1", "summary.status=1"};
        QTest::newRow("a silent board")
            << QStringList{"--silent-after", "5"} << QStringList{"read", "out.bin"} << 3 << "start step step result summary"
            << QStringList{"result.result=failed", "result.status=3", "result.step=read", "result.address=2",
                           "result.signature=1E52FF", "summary.status=3"};
        QTest::newRow("an empty socket, --repeat")
            << QStringList{"--chip", "none"} << QStringList{"--yes", "--repeat", "program", "in.bin"} << 0
            << "start step result round summary"
            << QStringList{"result.result=empty", "result.signature=FFFFFF", "result.chip=null", "summary.empty=1",
                           "summary.rounds=1", "summary.status=0"};
        const QByteArray padded7 = pattern(256).leftJustified(0x1000, char(0xFF)) + QByteArray("\x00\x07", 2);
        QTest::newRow("program --serial")
            << QStringList() << QStringList{"--yes", "--serial", "1000:2", "--serial-file", "ctr", "--serial-start", "7",
                                            "program", "in.bin"}
            << 0 << "start step step step serial step step result summary"
            << passed + QStringList{"start.serial.address=1000", "start.serial.size=2", "start.serial.format=be",
                                    "start.serial.file=ctr", "start.serial.start=7", "start.serial.step=1",
                                    "serial.serial=7", "serial.round=1", "result.serial=7", "result.serial_bytes=0007",
                                    "result.image.length=4098", "result.image.crc32=" + crcOf(padded7)};
        // A number once taken is named by the chip's result, even when the log then fails.
        QTest::newRow("program --serial, the log full")
            << QStringList() << QStringList{"--yes", "--log", "/dev/full", "--serial", "1000:2", "--serial-file", "ctr",
                                            "program", "in.bin"}
            << 2 << "start step step step serial result summary"
            << QStringList{"serial.serial=1", "result.result=failed", "result.serial=1", "result.serial_bytes=0001",
                           "summary.status=2"};
        QTest::newRow("blank, data found")
            << QStringList{"--wrong-byte", "20=00"} << QStringList{"blank"} << 1 << "start step step result summary"
            << QStringList{"result.result=failed", "result.status=1", "result.step=blank", "result.address=20",
                           "result.message=Device contains data at 20h (read 0h).", "result.read=00", "summary.failed=1"};
        // A board that does not answer is no empty socket, --repeat or not.
        QTest::newRow("a silent board, --repeat")
            << QStringList{"--silent-after", "0"} << QStringList{"--yes", "--repeat", "program", "in.bin"} << 3
            << "start step result round summary"
            << QStringList{"result.result=failed", "result.status=3", "result.signature=null", "summary.empty=0",
                           "summary.failed=1", "summary.rounds=1", "summary.chips=1", "summary.status=3"};
        QTest::newRow("list") << QStringList() << QStringList{"list", "in.bin"} << 0 << "start summary"
                              << QStringList{"start.command=list", "start.image.length=256", "start.image.crc32=A4EAD1C8",
                                             "summary.rounds=0", "summary.status=0"};
        QTest::newRow("ports --probe")
            << QStringList() << QStringList{"ports", "--probe"} << 0 << "start port summary"
            << QStringList{"start.command=ports", "port.may_open=true", "port.held_by=null", "port.stable_name=null",
                           "port.signature=1E52FF", "port.chip=AT89C52", "summary.status=0"};
        // Every refusal says why in the same line, before the summary.
        QTest::newRow("a refused argument")
            << QStringList() << QStringList{"--com", "256", "identify"} << 2 << "refused summary"
            << QStringList{"refused.message=--com takes a port number from 1 to 255, or N=DEVICE, not \"256\".", "refused.status=2",
                           "summary.rounds=0", "summary.status=2"};
        QTest::newRow("an unknown option")
            << QStringList() << QStringList{"--bogus", "identify"} << 2 << "refused summary"
            << QStringList{"refused.message=voralith-cli: Unknown option 'bogus'. (see voralith-cli --help).",
                           "summary.status=2"};
        QTest::newRow("a serial number too long")
            << QStringList() << QStringList{"--serial", "1FF8:9", "--serial-file", "ctr", "program", "in.bin"} << 2
            << "refused summary"
            << QStringList{"refused.message=voralith-cli: --serial: be, le and bcd take 1 to 8 bytes, ascii 1 to 20 "
                           "digits; not 9."};
        QTest::newRow("a question without --yes")
            << QStringList() << QStringList{"erase"} << 2 << "start result refused summary"
            << QStringList{"result.result=failed", "result.status=2", "result.step=null", "result.address=null",
                           "result.message=Nothing was changed: --json asks no question. Give --yes to go on.",
                           "refused.message=Nothing was changed: --json asks no question. Give --yes to go on.",
                           "summary.status=2"};
    }
    void json()
    {
        QFETCH(QStringList, board);
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), pattern(256));
        BoardTool b(board);
        const Run run = cli(dir.path(), QStringList{"--json", "--port", b.path} + args);
        QTEST(run.code, "code");
        QStringList events;
        QMap<QString, QJsonObject> first;
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
                         .match(o.value("time").toString()).hasMatch(), qPrintable(line));
            const QString event = o.value("event").toString();
            if (event != "progress")
                events << event;
            if (!first.contains(event) || event == "summary")
                first.insert(event, o);
        }
        QTEST(events.join(' '), "events");
        QFETCH(QStringList, checks);
        for (const QString &check : checks) {
            const QStringList path = check.section('=', 0, 0).split('.');
            QJsonValue v = first.value(path.first());
            for (const QString &key : path.mid(1))
                v = v.toObject().value(key);
            QVERIFY2(!v.isUndefined(), qPrintable(check));
            const QString got = v.isNull()     ? "null"
                                : v.isBool()   ? (v.toBool() ? "true" : "false")
                                : v.isString() ? v.toString()
                                               : QString::number(v.toInteger());
            QCOMPARE(got, check.section('=', 1));
        }
    }

    // Three sites, the middle one faulty: it alone fails, with its own result; the others
    // receive exactly what a run of their own sends and pass. Every line told names its site.
    void sites_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("silent") << QStringList{"--silent-after", "5"} << 3 << "the board did not answer";
        QTest::newRow("vanishing") << QStringList{"--vanish-after", "5"} << 3 << "was lost";
        QTest::newRow("out of step") << QStringList{"--double-reply", "5"} << 3 << "out of step";
        QTest::newRow("wrong byte") << QStringList{"--wrong-byte", "20=00"} << 1 << "Device contains data at 20h";
        QTest::newRow("no chip") << QStringList{"--chip", "none"} << 3 << "No chip in the socket";
    }
    void sites()
    {
        QFETCH(QStringList, fault);
        QFETCH(int, code);
        QTemporaryDir dir;
        const QByteArray every = pattern(256);
        writeFile(dir.filePath("in.bin"), every);
        BoardTool a({"--log", dir.filePath("a")}), bad(fault), c({"--log", dir.filePath("c")});
        const QStringList sites{a.path, bad.path, c.path};
        const Run run = cli(dir.path(), {"--json", "--yes", "--port", a.path, "--port", bad.path, "--port", c.path,
                                         "program", "in.bin"});
        QCOMPARE(run.code, code);
        const QByteArray alone = kId + "E" + wire(Blank, {}, 8192) + wire(Write, every) + wire(Verify, every);
        QCOMPARE(readAll(dir.filePath("a")), alone);
        QCOMPARE(readAll(dir.filePath("c")), alone);
        QMap<QString, QJsonObject> results;
        QJsonObject start, summary;
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QString event = o.value("event").toString();
            if (event == "result")
                results.insert(o.value("site").toString(), o);
            else if (event == "start")
                start = o;
            else if (event == "summary")
                summary = o;
        }
        QCOMPARE(start.value("sites").toVariant().toStringList(), sites);
        QCOMPARE(results.size(), 3);  // one result per site
        QCOMPARE(run.out.count("\"event\":\"result\""), 3);
        for (const QString &site : {a.path, c.path}) {
            QCOMPARE(results[site].value("result").toString(), "passed");
            QCOMPARE(results[site].value("status").toInt(), 0);
        }
        const QJsonObject failed = results[bad.path];
        QCOMPARE(failed.value("result").toString(), "failed");
        QCOMPARE(failed.value("status").toInt(), code);
        QFETCH(QString, message);
        QVERIFY2(failed.value("message").toString().contains(message), qPrintable(failed.value("message").toString()));
        QCOMPARE(summary.value("passed").toInt(), 2);
        QCOMPARE(summary.value("failed").toInt(), 1);
        QCOMPARE(summary.value("status").toInt(), code);
        // Plain lines on standard error, each named by its site, then each site's result.
        const QStringList err = run.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(err.mid(err.size() - 4), (QStringList{"Passed: 2 of 3.", "  " + a.path + ": passed",
                                                      QString("  %1: failed (exit %2)").arg(bad.path).arg(code),
                                                      "  " + c.path + ": passed"}));
        for (const QString &line : err.mid(0, err.size() - 4))
            QVERIFY2(line.startsWith(a.path + ": ") || line.startsWith(bad.path + ": ") || line.startsWith(c.path + ": "),
                     qPrintable(line));
    }

    // On a terminal each site keeps one line in place: its step and bar while it works, how
    // it ended after; texts scroll above the lines, each site's result under them. A name
    // too long for the line keeps its tail, after the site's number.
    void siteLines()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), pattern(256));
        const QString longName = dir.filePath("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        BoardTool a({}), bad({"--silent-after", "1500"}), c({"--link", longName});
        Pty pty(80);
        QProcess p;
        p.setWorkingDirectory(dir.path());
        pty.attach(p, false);
        p.start(QStringLiteral(VORALITH_CLI_PATH),
                {"--yes", "--port", a.path, "--port", bad.path, "--port", c.path, "program", "in.bin"});
        p.closeWriteChannel();
        pty.readUntilEnd(p);
        QVERIFY2(p.exitCode() == 3, pty.shown.constData());
        const QStringList screen = pty.screen();
        // 80 columns less one, the number and a space, two spaces, the step and bar's 35: 40
        // for the name.
        const QString tail = "..." + longName.right(37);
        const qsizetype width = std::max({a.path.size(), bad.path.size(), tail.size()});
        const QStringList lines = screen.mid(screen.size() - 7, 3);
        QCOMPARE(lines, (QStringList{"1 " + a.path.leftJustified(width) + "  passed",
                                     "2 " + bad.path.leftJustified(width) + "  failed at Blank check (exit 3)",
                                     "3 " + tail + "  passed"}));
        QCOMPARE(screen.mid(screen.size() - 4),
                 (QStringList{"Passed: 2 of 3.", "  " + a.path + ": passed", "  " + bad.path + ": failed (exit 3)",
                              "  " + c.path + ": passed"}));
        // Above them the texts, each named by its site, and no bar left behind.
        QVERIFY2(screen.filter(QRegularExpression("^" + QRegularExpression::escape(bad.path) +
                                                  ": Blank check stopped at address [0-9A-F]+h: the board did not answer"))
                         .size() == 1,
                 qPrintable(screen.join('\n')));
        QCOMPARE(screen.filter(": programmed and verified (AT89C52).").size(), 2);
        QVERIFY2(screen.filter("%").isEmpty(), qPrintable(screen.join('\n')));
    }

    // --repeat typed on a terminal: keys pressed while a round runs are neither echoed nor
    // taken as the answer to the next prompt; a round per Enter typed after it.
    void typedAhead()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        BoardTool a({"--slow-reply", "3=300"}), b({"--slow-reply", "3=300"});  // the signature's last byte
        Pty pty(100);
        QProcess p;
        p.setWorkingDirectory(dir.path());
        pty.attach(p, true);
        p.start(QStringLiteral(VORALITH_CLI_PATH), {"--yes", "--repeat", "--port", a.path, "--port", b.path, "program", "in.bin"});
        const QByteArray prompt = "Put the next chips in and press Enter";
        QVERIFY(pty.readUntil("Identify", 1));
        pty.type("xyz\n\n");  // during the first round's identify
        QVERIFY(pty.readUntil(prompt, 1));
        pty.type("\n");
        QVERIFY(pty.readUntil(prompt, 2));
        pty.type("q\n");
        pty.readUntilEnd(p);
        QVERIFY2(p.exitCode() == 0, pty.shown.constData());
        const QString shown = QString::fromLocal8Bit(pty.shown);
        QVERIFY2(shown.contains("Round 2:") && !shown.contains("Round 3:"), qPrintable(shown));
        QVERIFY2(!shown.contains("xyz"), qPrintable(shown));
        QVERIFY2(shown.endsWith("Programmed: 4, failed: 0, empty sockets: 0.\r\n  " + a.path +
                                ": programmed 2, failed 0, empty sockets 0\r\n  " + b.path +
                                ": programmed 2, failed 0, empty sockets 0\r\n"),
                 qPrintable(shown));
    }

    // A stop ends every site with the process's own status, worded for what stopped it.
    void sitesStop()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        BoardTool a({"--paced"}), b({"--paced"});
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(VORALITH_CLI_PATH), {"--json", "--yes", "--port", a.path, "--port", b.path, "program", "in.bin"});
        QByteArray out;
        while (out.count("\"event\":\"step\",") - out.count(",\"step\":\"identify\"}") -
                       out.count(",\"step\":\"erase\"}") < 2 &&
               p.waitForReadyRead(10000))
            out += p.readAllStandardOutput();  // both sites in their blank check
        ::kill(p.processId(), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 143);
        int results = 0;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event") == "result") {
                ++results;
                QCOMPARE(o.value("status").toInt(), 143);
                QVERIFY2(o.value("message").toString().startsWith("Blank check stopped by SIGTERM at address"), line.constData());
            }
            if (o.value("event") == "summary")
                QCOMPARE(o.value("status").toInt(), 143);
        }
        QCOMPARE(results, 2);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.endsWith("  " + a.path.toLocal8Bit() + ": failed (exit 143)\n  " + b.path.toLocal8Bit() +
                              ": failed (exit 143)\n"),
                 err.constData());
    }

    // Refused before anything is sent: one board named twice (through a link too), read
    // with two sites.
    void sitesRefused()
    {
        QTemporaryDir dir;
        BoardTool a({"--log", dir.filePath("a"), "--link", dir.filePath("l")}), b({"--log", dir.filePath("b")});
        const Run twice = cli(dir.path(), {"--port", a.path, "--port", b.path, "--port", "l", "identify"});
        QCOMPARE(twice.code, 2);
        QCOMPARE(twice.err, QString("voralith-cli: %1 and l are the same device; give each board once.\n").arg(a.path));
        const Run read = cli(dir.path(), {"--port", a.path, "--port", b.path, "read", "out.bin"});
        QCOMPARE(read.code, 2);
        QCOMPARE(read.err, "voralith-cli: read takes one --port: it reads one chip into one file.\n");
        QCOMPARE(readAll(dir.filePath("a")) + readAll(dir.filePath("b")), QByteArray());
    }

    // --repeat on two sites: a round on each per Enter, then a line per site with its counts
    // and the total; an empty socket counts as no failure.
    void sitesRepeat()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        BoardTool a({}), empty({"--chip", "none"});
        const Run run = cli(dir.path(), {"--yes", "--repeat", "--port", a.path, "--port", empty.path, "program", "in.bin"},
                            "\n");
        QCOMPARE(run.code, 0);
        const QString round = "Round %1:\n  " + a.path + ": passed (programmed %1, failed 0, empty sockets 0)\n  " +
                              empty.path + ": empty socket (programmed 0, failed 0, empty sockets %1)\n"
                              "  all sites: programmed %1, failed 0, empty sockets %1.\n";
        QVERIFY2(run.out.contains(round.arg(1)) && run.out.contains(round.arg(2)), qPrintable(run.out));
        QVERIFY2(run.out.endsWith("Programmed: 2, failed: 0, empty sockets: 2.\n  " + a.path +
                                  ": programmed 2, failed 0, empty sockets 0\n  " + empty.path +
                                  ": programmed 0, failed 0, empty sockets 2\n"),
                 qPrintable(run.out));
        QCOMPARE(run.out.count(a.path + ": Chip "), 2);
    }

    // A job refused before anything is sent, with its key and the reason.
    void jobRefused_data()
    {
        QTest::addColumn<QByteArray>("job");
        QTest::addColumn<QString>("told");
        const QByteArray fine = "[job]\nimage=fw.bin\ncrc32=A3830348\nyes=true\n";
        QTest::newRow("a CRC-32 that differs") << QByteArray("[job]\nimage=fw.bin\ncrc32=0F0E0D0C\nyes=true\n")
                                               << "fw.bin has CRC-32 A3830348, the job expects 0F0E0D0C: nothing was "
                                                  "programmed.";
        QTest::newRow("an unknown key") << fine + "colour=red\n" << "key \"colour\": there is no such key";
        QTest::newRow("a bad value") << fine + "chip=89c99\n"
                                     << "key \"chip\": \"89c99\" is no value of it: it takes 89c51 or 89c52.";
        QTest::newRow("a flag neither true nor false") << fine + "no-erase=yes\n"
                                                       << "key \"no-erase\": \"yes\" is no value of it: it takes true "
                                                          "or false.";
        QTest::newRow("an image that does not exist") << QByteArray("[job]\nimage=none.bin\n")
                                                      << "key \"image\": the image none.bin does not exist.";
        QTest::newRow("no image") << QByteArray("[job]\nchip=89c52\n") << "names no image: a job needs the key image.";
        QTest::newRow("no section [job]") << QByteArray("image=fw.bin\n") << "has no section [job].";
    }
    void jobRefused()
    {
        QFETCH(QByteArray, job);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("jobs");
        writeFile(dir.filePath("jobs/fw.bin"), "ABC");
        writeFile(dir.filePath("jobs/lot.job"), job);
        BoardTool b({"--log", dir.filePath("wire")});
        const Run run = cli(dir.path(), {"--json", "--port", b.path, "--job", "jobs/lot.job", "program"});
        QCOMPARE(run.code, 2);
        QFETCH(QString, told);
        QVERIFY2(run.err.contains(told), qPrintable(run.err));
        QVERIFY2(run.out.contains("\"event\":\"refused\""), qPrintable(run.out));
        QCOMPARE(readAll(dir.filePath("wire")), QByteArray());
    }

    // A job's paths are its folder's, its board and options taken unless the command line
    // gives its own, which the start names as overrides.
    void job()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("jobs");
        writeFile(dir.filePath("jobs/fw.bin"), "ABC");
        BoardTool b({"--link", dir.filePath("jobs/board"), "--log", dir.filePath("wire")});
        writeFile(dir.filePath("jobs/lot.job"), "[job]\nimage=fw.bin\ncrc32=A3830348\nchip=89c52\nport=board\n"
                                                "serial=10:2\nserial-file=serial.txt\nserial-start=7\nlog=chips.log\n"
                                                "yes=true\n");
        const Run run = cli(dir.path(), {"--json", "--log", "other.log", "--job", "jobs/lot.job", "program"});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        const QJsonObject start = QJsonDocument::fromJson(run.out.section('\n', 0, 0).toUtf8()).object();
        QCOMPARE(start.value("job").toString(), "jobs/lot.job");
        QCOMPARE(start.value("overrides").toVariant().toStringList(), QStringList{"log"});
        QCOMPARE(start.value("sites").toVariant().toStringList(), QStringList{dir.filePath("jobs/board")});
        QVERIFY2(run.err.contains("the command line overrides the job's log."), qPrintable(run.err));
        QCOMPARE(readAll(dir.filePath("jobs/serial.txt")), "8\n");
        QCOMPARE(readAll(dir.filePath("other.log")).count("\"event\":\"result\""), 1);
        QVERIFY(!QFile::exists(dir.filePath("jobs/chips.log")));
        QCOMPARE(readAll(dir.filePath("wire")),
                 kId + "E" + wire(Blank, {}, 8192) + paddedWrite(withSerialAt("ABC", 0x10, QByteArray("\x00\x07", 2)), 3) +
                     wire(Verify, withSerialAt("ABC", 0x10, QByteArray("\x00\x07", 2))));
    }

    // --count: a lot of N good chips over three sites, one failing: a round starts on no
    // more sites than chips still wanted, and the run ends by itself at N.
    void lot()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        BoardTool a({"--log", dir.filePath("a")}), bad({"--silent-after", "0"}), c({"--log", dir.filePath("c")});
        const Run run = cli(dir.path(), {"--json", "--yes", "--count", "3", "--port", a.path, "--port", bad.path, "--port",
                                         c.path, "program", "in.bin"},
                            "\n\n\n\n");
        QCOMPARE(run.code, 3);
        QList<int> toGo;
        QJsonObject summary;
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            if (o.value("event") == "round")
                toGo << o.value("to_go").toInt();
            if (o.value("event") == "summary")
                summary = o;
        }
        QCOMPARE(toGo, (QList<int>{1, 0}));
        QCOMPARE(summary.value("passed").toInt(), 3);
        QCOMPARE(summary.value("failed").toInt(), 1);
        QCOMPARE(summary.value("rounds").toInt(), 2);
        QCOMPARE(summary.value("chips").toInt(), 4);
        QCOMPARE(summary.value("to_go").toInt(), 0);
        // The first site programmed twice, the third once: the second round wanted one chip.
        const QByteArray once = kId + "E" + wire(Blank, {}, 8192) + wire(Write, "ABC") + wire(Verify, "ABC");
        QCOMPARE(readAll(dir.filePath("a")), once + once);
        QCOMPARE(readAll(dir.filePath("c")), once);
        QVERIFY2(run.err.contains("The lot of 3 is done."), qPrintable(run.err));
    }

    // Serial numbers on three sites over two rounds: consecutive, each given once, in the
    // chips, the results and the log alike; a chip that fails after its number was taken
    // spends it.
    void serialSites()
    {
        QTemporaryDir dir;
        QByteArray image = pattern(256);
        image.replace(0x10, 2, "\xFF\xFF");
        writeFile(dir.filePath("in.bin"), image);
        // The middle board goes silent in the write of its first chip, after its number.
        BoardTool a({"--save", dir.filePath("a")}), bad({"--silent-after", "8295"}), c({"--save", dir.filePath("c")});
        const Run run = cli(dir.path(), {"--json", "--yes", "--repeat", "--log", "chips.log", "--serial", "10:2",
                                         "--serial-file", "ctr", "--serial-start", "500", "--port", a.path, "--port",
                                         bad.path, "--port", c.path, "program", "in.bin"},
                            "\n");
        QCOMPARE(run.code, 3);
        QList<quint64> taken;
        QMap<QString, QList<QJsonValue>> bySite;  // each round's serial, site by site
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            if (o.value("event") == "serial")
                taken << quint64(o.value("serial").toInteger());
            if (o.value("event") == "result")
                bySite[o.value("site").toString()] << o.value("serial");
        }
        std::sort(taken.begin(), taken.end());
        QCOMPARE(taken, (QList<quint64>{500, 501, 502, 503, 504}));
        QCOMPARE(readAll(dir.filePath("ctr")), "505\n");
        QVERIFY(!QFile::exists(dir.filePath("ctr.tmp")));
        // The failed chip's number is in its result and given to no other.
        QCOMPARE(bySite[bad.path].size(), 2);
        QVERIFY(bySite[bad.path][0].isDouble());
        QVERIFY(bySite[bad.path][1].isNull());  // silent from the start: no number taken
        QSet<quint64> inResults;
        for (const auto &serials : bySite)
            for (const QJsonValue &v : serials)
                if (!v.isNull())
                    inResults << quint64(v.toInteger());
        QCOMPARE(inResults.size(), 5);
        // The log holds the same serial lines, then the chip's result.
        const QByteArray log = readAll(dir.filePath("chips.log"));
        QCOMPARE(log.count("\"event\":\"serial\""), 5);
        QCOMPARE(log.count("\"event\":\"result\""), 6);
        // Each board's chip holds the number of its last round.
        a.terminate();
        c.terminate();
        const quint64 last[] = {quint64(bySite[a.path][1].toInteger()), quint64(bySite[c.path][1].toInteger())};
        for (int i = 0; i < 2; ++i) {
            const QByteArray memory = readAll(dir.filePath(i ? "c" : "a"));
            QCOMPARE(memory.mid(0x10, 2), QByteArray::fromHex(QByteArray::number(last[i], 16).rightJustified(4, '0')));
            QCOMPARE(memory.left(0x10), image.left(0x10));
        }
    }

    // A counter file that is not one decimal number and a line end, or cannot be written, or
    // without a number for every site: refused before anything is sent; a temporary file left
    // by a run that died is removed.
    void serialCounter_data()
    {
        QTest::addColumn<QByteArray>("counter");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("mode");        // the counter's; 0: as written
        QTest::addColumn<bool>("folderAtTemporary");
        QTest::addColumn<int>("sites");
        const QString form = "The serial number file ctr must hold one decimal number and a line end; it holds \"%1\".";
        QTest::newRow("letters") << QByteArray("12x\n") << "ctr" << form.arg("12x\\n") << 0 << false << 1;
        QTest::newRow("empty") << QByteArray("") << "ctr" << form.arg("") << 0 << false << 1;
        QTest::newRow("no line end") << QByteArray("12") << "ctr" << form.arg("12") << 0 << false << 1;
        QTest::newRow("a sign") << QByteArray("-3\n") << "ctr" << form.arg("-3\\n") << 0 << false << 1;
        QTest::newRow("two lines") << QByteArray("3\n4\n") << "ctr" << form.arg("3\\n4\\n") << 0 << false << 1;
        QTest::newRow("beyond any counter")
            << QByteArray("18446744073709551616\n") << "ctr"
            << "The serial number file ctr holds 18446744073709551616, beyond the largest number a counter can hold "
               "(18446744073709551615)."
            << 0 << false << 1;
        QTest::newRow("no folder") << QByteArray() << "none/ctr"
                                   << "The serial number file none/ctr cannot be written: No such file or directory."
                                   << 0 << false << 1;
        // Root too: it may write any file, but a counter without a write bit is no counter.
        QTest::newRow("read-only") << QByteArray("5\n") << "ctr"
                                   << "The serial number file ctr cannot be written: it is read-only (mode 444)."
                                   << 0444 << false << 1;
        QTest::newRow("a folder at its temporary's name")
            << QByteArray("5\n") << "ctr"
            << "The serial number file ctr cannot be written: the name of its temporary file, ctr.tmp, is taken by a "
               "folder."
            << 0 << true << 1;
        QTest::newRow("no number for the second site")
            << QByteArray("65535\n") << "ctr" << "The serial number 65536 does not fit 2 bytes as be (at most 65535)."
            << 0 << false << 2;
    }
    void serialCounter()
    {
        QFETCH(QByteArray, counter);
        QFETCH(QString, file);
        QFETCH(int, mode);
        QFETCH(bool, folderAtTemporary);
        QFETCH(int, sites);
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        if (file == "ctr")
            writeFile(dir.filePath(file), counter);
        if (mode)
            QCOMPARE(::chmod(QFile::encodeName(dir.filePath(file)).constData(), mode_t(mode)), 0);
        const QString temporary = dir.filePath(file + ".tmp");
        if (folderAtTemporary)
            QVERIFY(QDir().mkdir(temporary));
        else
            writeFile(temporary, "7\n");
        BoardTool b({"--log", dir.filePath("wire")});
        std::optional<BoardTool> second;
        QStringList ports{"--port", b.path};
        if (sites == 2) {
            second.emplace(QStringList{"--log", dir.filePath("wire2")});
            ports << "--port" << second->path;
        }
        const Run run = cli(dir.path(), QStringList{"--yes", "--serial", "10:2", "--serial-file", file} + ports +
                                            QStringList{"program", "in.bin"});
        QCOMPARE(run.code, 2);
        QFETCH(QString, told);
        QCOMPARE(run.err, told + "\n");
        QCOMPARE(readAll(dir.filePath("wire")) + readAll(dir.filePath("wire2")), QByteArray());
        if (file == "ctr") {
            QCOMPARE(readAll(dir.filePath(file)), counter);
            QCOMPARE(QFileInfo::exists(temporary), folderAtTemporary);
        }
    }

    // --log: a line for every chip, appended; a log that cannot be opened sends nothing; one
    // that cannot be written stops before the next chip; two writers tear no line; a line
    // cut short is ended by the next run, or taken back by the run that wrote it; a pipe or
    // a device is written unsynced, and never waited for past a stop.
    void log()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("in.bin"), "ABC");
        const QString log = dir.filePath("chips.log");
        BoardTool b({"--log", dir.filePath("wire")});
        QCOMPARE(cli(dir.path(), {"--port", b.path, "--log", dir.filePath("no/chips.log"), "--yes", "erase"}).code, 2);
        QCOMPARE(readAll(dir.filePath("wire")), QByteArray());
        const Run full = cli(dir.path(), {"--port", b.path, "--log", "/dev/full", "--yes", "--repeat", "program", "in.bin"},
                             "\n\n");
        QCOMPARE(full.code, 2);
        QVERIFY2(full.err.contains("the log /dev/full cannot be written: No space left on device."), qPrintable(full.err));
        QCOMPARE(full.out.count("programmed and verified"), 1);

        QCOMPARE(cli(dir.path(), {"--port", b.path, "--log", log, "--yes", "program", "in.bin"}).code, 0);
        const QJsonObject o = QJsonDocument::fromJson(readAll(log)).object();
        QCOMPARE(o.keys(), (QStringList{"chip", "command", "duration_ms", "event", "image", "result", "round", "run",
                                        "signature", "site", "status", "time"}));
        QCOMPARE(o.value("image").toObject().value("crc32").toString(), "A3830348");
        QCOMPARE(readAll(log).count('\n'), 1);

        // A log that fills (a file size limit): the line that would not fit is not begun, and
        // no site starts another chip.
        BoardTool s1({"--log", dir.filePath("w1")}), s2({"--log", dir.filePath("w2")});
        const QString small = dir.filePath("small.log");
        const Run fills = cli(dir.path(), {"--port", s1.path, "--port", s2.path, "--log", small, "--yes", "--repeat",
                                           "program", "in.bin"},
                              "\n\n", [] {
                                  const rlimit cap{500, 500};
                                  ::setrlimit(RLIMIT_FSIZE, &cap);
                              });
        QCOMPARE(fills.code, 2);
        QVERIFY2(fills.err.contains(small + " cannot be written: File too large."), qPrintable(fills.err));
        const QByteArray kept = readAll(small);
        QCOMPARE(kept.count('\n'), 1);
        QVERIFY(QJsonDocument::fromJson(kept).isObject());
        const QByteArray once = kId + "E" + wire(Blank, {}, 8192) + wire(Write, "ABC") + wire(Verify, "ABC");
        QCOMPARE(readAll(dir.filePath("w1")), once);
        QCOMPARE(readAll(dir.filePath("w2")), once);

        // Two runs of three chips each, on two boards, into one log at once.
        BoardTool other({});
        QProcess runs[2];
        for (int i = 0; i < 2; ++i) {
            runs[i].start(QStringLiteral(VORALITH_CLI_PATH), {"--port", i ? other.path : b.path, "--log", log, "--yes",
                                                              "--repeat", "program", dir.filePath("in.bin")});
            runs[i].write("\n\n");
            runs[i].closeWriteChannel();
        }
        for (QProcess &p : runs)
            QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
        const QList<QByteArray> lines = readAll(log).split('\n');
        QCOMPARE(lines.size(), 1 + 6 + 1);
        QSet<QString> runNames;  // two runs that started together, told apart
        for (const QByteArray &line : lines.mid(1, 6)) {
            QVERIFY2(QJsonDocument::fromJson(line).object().value("result") == "passed", line.constData());
            runNames << QJsonDocument::fromJson(line).object().value("run").toString();
        }
        QCOMPARE(runNames.size(), 2);

        // A last line cut short by another program: this run's lines begin on a line of
        // their own, and the user is told.
        const QString cut = writeFile(dir.filePath("cut.log"), "{\"x\":1}");
        const Run ended = cli(dir.path(), {"--port", b.path, "--log", "cut.log", "--yes", "program", "in.bin"});
        QCOMPARE(ended.code, 0);
        QVERIFY2(ended.err.contains("the log cut.log does not end with a line end (its last line was cut short); this "
                                    "run's lines begin on a line of their own."),
                 qPrintable(ended.err));
        const QList<QByteArray> after = readAll(cut).split('\n');
        QCOMPARE(after.first(), "{\"x\":1}");
        QCOMPARE(after.last(), QByteArray());
        for (const QByteArray &line : after.mid(1, after.size() - 2))
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());

        // A device and a named pipe take their lines unsynced; a pipe no program reads is
        // refused before anything is sent.
        QCOMPARE(cli(dir.path(), {"--port", b.path, "--log", "/dev/null", "--yes", "--repeat", "program", "in.bin"}, "\n")
                     .code,
                 0);
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const QByteArray sent = readAll(dir.filePath("wire"));
        const Run unread = cli(dir.path(), {"--port", b.path, "--log", "fifo", "--yes", "program", "in.bin"});
        QCOMPARE(unread.code, 2);
        QCOMPARE(unread.err, "voralith-cli: the log fifo cannot be opened: no program reads the named pipe.\n");
        QCOMPARE(readAll(dir.filePath("wire")), sent);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        const Run read = cli(dir.path(), {"--port", b.path, "--log", "fifo", "--yes", "--repeat", "program", "in.bin"},
                             "\n");
        QCOMPARE(read.code, 0);
        char buffer[8192];
        const ssize_t got = ::read(reader, buffer, sizeof buffer);
        const QList<QByteArray> piped = QByteArray(buffer, int(std::max<ssize_t>(got, 0))).split('\n');
        QCOMPARE(piped.size(), 2 + 1);
        for (const QByteArray &line : piped.first(2))
            QVERIFY2(QJsonDocument::fromJson(line).object().value("result") == "passed", line.constData());
        // A reader that takes nothing more: a stop ends the wait for it.
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        while (::write(writer, buffer, sizeof buffer) > 0) {
        }
        QProcess held;
        held.setReadChannel(QProcess::StandardError);
        held.start(QStringLiteral(VORALITH_CLI_PATH), {"--port", b.path, "--log", dir.filePath("fifo"), "--yes",
                                                       "program", dir.filePath("in.bin")});
        QByteArray said;
        while (!said.contains("Verify...") && held.waitForReadyRead(10000))
            said += held.readAllStandardError();
        held.terminate();
        QVERIFY(held.waitForFinished(10000));
        said += held.readAllStandardError();
        QVERIFY2(said.contains("the log " + QFile::encodeName(dir.filePath("fifo")) +
                               " cannot be written: stopped while waiting for the program that reads it."),
                 said.constData());
        ::close(writer);
        ::close(reader);

        // A disk that fills within a line: the part written is taken back. Needs a small file
        // system of its own, which only root may mount.
        const QString tiny = dir.filePath("tiny");
        QDir().mkdir(tiny);
        const long page = ::sysconf(_SC_PAGESIZE);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(2 * page), "tmpfs", tiny}) != 0)
            QSKIP("no file system could be mounted: a disk that fills within a line is not tried");
        struct Unmount {
            QString at;
            ~Unmount() { QProcess::execute("umount", {at}); }
        } unmount{tiny};
        writeFile(tiny + "/filler", QByteArray(int(page), 'f'));
        const QByteArray whole = "{\"x\":\"" + QByteArray(int(page) - 50, 'x') + "\"}\n";  // 41 bytes left
        const QString onTiny = writeFile(tiny + "/chips.log", whole);
        const Run filled = cli(dir.path(), {"--port", b.path, "--log", onTiny, "--yes", "program", "in.bin"});
        QCOMPARE(filled.code, 2);
        QVERIFY2(filled.err.contains(onTiny + " cannot be written: No space left on device."), qPrintable(filled.err));
        QCOMPARE(readAll(onTiny), whole);
    }

    // A counter reached through links (relative, a chain, one that leads nowhere yet) is the
    // file it leads to: runs through two links give each number once, and the links stay
    // links, the counter keeps its mode and owner.
    void serialLinks()
    {
        QTemporaryDir dir;
        const QDir top(dir.path());
        for (const char *folder : {"shared", "a", "b", "c"})
            QVERIFY(top.mkdir(folder));
        const QByteArray counter = QFile::encodeName(dir.filePath("shared/counter"));
        writeFile(dir.filePath("shared/counter"), "40\n");
        QCOMPARE(::chmod(counter.constData(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(counter.constData(), 1234, 5678), 0);
        auto link = [&](const char *target, const char *name) {
            return ::symlink(target, QFile::encodeName(dir.filePath(name)).constData()) == 0;
        };
        QVERIFY(link("../shared/counter", "a/sclink"));
        QVERIFY(link("hop", "b/sclink"));
        QVERIFY(link(counter.constData(), "b/hop"));
        QVERIFY(link("../shared/new", "c/sclink"));
        writeFile(dir.filePath("in.bin"), "ABC");
        BoardTool b({});
        auto program = [&](const char *folder) {
            return cli(dir.filePath(folder), {"--yes", "--serial", "10:2", "--serial-file", "sclink", "--serial-start",
                                              "7", "--port", b.path, "program", dir.filePath("in.bin")});
        };
        const Run first = program("a"), second = program("b"), made = program("c");
        QVERIFY2(first.code == 0 && first.out.contains("with serial number 40: "), qPrintable(first.out + first.err));
        QVERIFY2(second.code == 0 && second.out.contains("with serial number 41: "), qPrintable(second.out + second.err));
        QVERIFY2(made.code == 0 && made.out.contains("with serial number 7: "), qPrintable(made.out + made.err));
        QCOMPARE(readAll(dir.filePath("shared/counter")), "42\n");
        QCOMPARE(readAll(dir.filePath("shared/new")), "8\n");
        for (const char *name : {"a/sclink", "b/sclink", "b/hop", "c/sclink"})
            QVERIFY2(QFileInfo(dir.filePath(name)).isSymLink(), name);
        struct stat st {};
        QCOMPARE(::stat(counter.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        if (root)
            QCOMPARE(std::pair(st.st_uid, st.st_gid), std::pair(uid_t(1234), gid_t(5678)));
        QCOMPARE(QDir(dir.filePath("shared")).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"counter", "new"}));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
