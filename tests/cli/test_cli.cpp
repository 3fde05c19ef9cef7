// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli end to end against voralith-board on a pseudo-terminal, one row per case:
// what it prints, its exit status, the bytes the board received, the file it wrote and
// the chip's memory afterwards.
#include "boardtool.h"
#include "image.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kId = "Z" + QByteArray(48, 'I') + "SISIS";

QByteArray readWire(int n)
{
    return "Z" + QByteArray("RI").repeated(n);
}
QByteArray blankWire(int size)
{
    return "Z" + QByteArray("RIRIRIRI").repeated(size / 4);
}
QByteArray writeWire(const QByteArray &image)
{
    QByteArray w = "Z";
    for (char c : image)
        w += QByteArray("W") + c + "I";
    return w;
}
QByteArray programWire(const QByteArray &image, int size = 8192)
{
    return kId + "E" + blankWire(size) + writeWire(image) + readWire(image.size());
}
// The chip as it holds `image` from address 0, the rest erased.
QByteArray chip(const QByteArray &image = {}, int size = 8192)
{
    return image + QByteArray(size - image.size(), char(0xFF));
}
QByteArray pattern(int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(255 - i);
    return d;
}
QString exact(const QString &text)
{
    return "^" + QRegularExpression::escape(text) + "$";
}
QString has(const QString &text)
{
    return QRegularExpression::escape(text);
}
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}
}  // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        // The [Ports] mapping this test writes must never reach the user's settings.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void commands_data()
    {
        QTest::addColumn<QStringList>("board");       // voralith-board options
        QTest::addColumn<QByteArray>("chipImage");    // the chip's content at the start (--image)
        QTest::addColumn<QStringList>("args");        // "--port DEVICE" goes first unless a row gives --port
        QTest::addColumn<QString>("inName");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("typed");        // standard input
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");             // pattern for standard output
        QTest::addColumn<QString>("err");             // pattern for standard error
        QTest::addColumn<QByteArray>("wire");         // what the board received
        QTest::addColumn<QByteArray>("memory");       // the chip afterwards
        QTest::addColumn<QByteArray>("outFile");      // out.hex or out.bin as loaded back; null: none written

        const QStringList c51{"--chip", "89c51"};
        const QStringList withImage{"--image", "@dir/chip.bin"};
        const QByteArray img = pattern(300);
        QByteArray lastFF = chip({}, 4096);
        lastFF[0xFFF] = 0;
        QByteArray hexText = ":0300000041424337\r\n:00000001FF\r\n";
        const QString sumsABC = "in.hex: 3 bytes, sum 0x00C6, CRC-32 0xA3830348\n";
        const QString sums300 = "in.bin: 300 bytes, sum 0xA7A2, CRC-32 0x93826BBD\n";  // as zlib and a sum give
        const QByteArray none;

        // Each command, as it goes when all is well.
        QTest::newRow("identify") << c51 << none << QStringList{"identify"} << "" << none << none << 0
                                  << exact("1E 51 FF\nDevice : Atmel 89C51 (Vpp=12V)\n") << "" << kId << chip({}, 4096)
                                  << none;
        QTest::newRow("identify through Com3 of the settings")
            << QStringList() << none << QStringList{"--port", "Com3", "identify"} << "" << none << none << 0
            << exact("1E 52 FF\nDevice : Atmel 89C52 (Vpp=12V)\n") << "" << kId << chip() << none;
        QTest::newRow("blank") << c51 << none << QStringList{"blank"} << "" << none << none << 0
                               << exact("Device is erased.\n") << exact("Blank check...\n") << kId + blankWire(4096)
                               << chip({}, 4096) << none;
        QTest::newRow("read into HEX") << c51 + withImage << img << QStringList{"read", "out.hex"} << "" << none
                                       << none << 0 << has("out.hex: 4096 bytes, sum 0x") << ""
                                       << kId + readWire(4096) << chip(img, 4096) << chip(img, 4096);
        QTest::newRow("write HEX") << QStringList() << none << QStringList{"--yes", "write", "in.hex"} << "in.hex"
                                   << hexText << none << 0
                                   << exact("Device was succesfully programmed.\n" + sumsABC) << ""
                                   << kId + writeWire("ABC") << chip("ABC") << none;
        QTest::newRow("verify, quiet, raw binary that reads like HEX")
            << withImage << hexText << QStringList{"--quiet", "--format", "bin", "verify", "in.dat"} << "in.dat"
            << hexText << none << 0 << exact("") << exact("") << kId + readWire(hexText.size()) << chip(hexText)
            << none;
        QTest::newRow("erase") << withImage << img << QStringList{"--yes", "erase"} << "" << none << none << 0
                               << exact("Chip erase sent.\n") << "" << kId + "E" << chip() << none;
        QTest::newRow("lock 3") << QStringList() << none << QStringList{"--yes", "lock", "3"} << "" << none << none << 0
                                << exact("Lock bits 1 to 3 sent.\n") << "" << kId + "111" << chip() << none;
        QTest::newRow("list") << QStringList() << none << QStringList{"list", "in.hex"} << "in.hex" << hexText
                              << none << 0 << exact("0000  41 42 43                ABC     \n" + sumsABC) << ""
                              << none << chip() << none;
        QTest::newRow("program") << withImage << QByteArray(10, 0) << QStringList{"--yes", "program", "in.bin"}
                                 << "in.bin" << img << none << 0
                                 << exact("programmed and verified (AT89C52).\n" + sums300)
                                 << exact("Identify...\nErase...\nBlank check...\nWrite...\nVerify...\n")
                                 << programWire(img) << chip(img) << none;
        QTest::newRow("ports --probe")
            << QStringList() << none << QStringList{"ports", "--probe"} << "" << none << none << 0
            << "^/dev/pts/\\d+ \\(Com3\\)\n  may open: yes\n  held: yes, by process \\d+ \\(voralith-board\\)\n"
               "  board: 1E 52 FF, Device : Atmel 89C52 \\(Vpp=12V\\)\n$"
            << "" << kId << chip() << none;

        // What stops a command: a difference, data, a byte read back wrong.
        QTest::newRow("blank finds the last byte")
            << c51 + withImage << lastFF << QStringList{"blank"} << "" << none << none << 1 << exact("")
            << has("Device contains data (in FFCh to FFFh).") << kId + blankWire(4096) << lastFF << none;
        QByteArray other = img;
        other[0x1A] = 0;
        QTest::newRow("verify difference") << withImage << img << QStringList{"verify", "in.bin"} << "in.bin"
                                           << other << none << 1 << exact("")
                                           << has("It isn't the same : 1A h expexted 0h read E5h\n")
                                           << kId + readWire(0x1B) << chip(img) << none;
        QTest::newRow("write, a byte reads back wrong")
            << QStringList{"--wrong-byte", "1=00"} << none << QStringList{"--yes", "write", "in.bin"} << "in.bin"
            << QByteArray("\x11\x22\x33") << none << 1 << exact("")
            << has("Error in 1h : write 22h read 0h\nSome errors are occurred.\n") << kId + writeWire("\x11\x22\x33")
            << chip("\x11\x22\x33") << none;
        QTest::newRow("program --no-erase on a chip with data")
            << withImage << img << QStringList{"--yes", "--no-erase", "program", "in.bin"} << "in.bin" << img
            << none << 1 << exact("")
            << has("Blank check: Device contains data in 0h to 3h: nothing was written. Erase the chip first.\n")
            << kId + "Z" + "RIRIRIRI" << chip(img) << none;

        // Production: one chip after another until q or the end of input.
        QTest::newRow("program --repeat, two chips, then q")
            << QStringList() << none << QStringList{"--yes", "--repeat", "program", "in.bin"} << "in.bin"
            << QByteArray("\x5A") << QByteArray("\nq\n") << 0
            << exact("Chip 1: programmed and verified (AT89C52).\nin.bin: 1 byte, sum 0x005A, CRC-32 0x59BC5767\n"
                     "Chip 2: programmed and verified (AT89C52).\nin.bin: 1 byte, sum 0x005A, CRC-32 0x59BC5767\n"
                     "Programmed: 2, failed: 0.\n")
            << exact(QString("Identify...\nErase...\nBlank check...\nWrite...\nVerify...\n").repeated(2))
            << programWire("\x5A").repeated(2) << chip("\x5A") << none;
        QTest::newRow("program --repeat, empty socket, end of input")
            << QStringList{"--chip", "none"} << none << QStringList{"--yes", "--repeat", "program", "in.bin"}
            << "in.bin" << QByteArray("\x5A") << none << 0 << exact("Programmed: 0, failed: 0.\n")
            << exact("Identify...\nNo chip in the socket (signature FF FF FF): nothing was written.\n") << kId
            << chip() << none;
        QTest::newRow("program, another chip than asked")
            << QStringList() << none << QStringList{"--yes", "--chip", "89c51", "program", "in.bin"} << "in.bin"
            << QByteArray("\x5A") << none << 3 << exact("")
            << has("The chip is an AT89C52 (signature 1E 52 FF), not the AT89C51 asked for: nothing was written.")
            << kId << chip() << none;

        // Refusals: wrong use and bad files send nothing; a question not answered changes nothing.
        QTest::newRow("write without --yes, no answer")
            << QStringList() << none << QStringList{"write", "in.bin"} << "in.bin" << img << none << 2 << exact("")
            << has("Write Data: Are you sure ? [y/N] \nNothing was changed.") << kId << chip() << none;
        QTest::newRow("unknown command") << QStringList() << none << QStringList{"frobnicate"} << "" << none << none
                                         << 2 << exact("") << has("unknown command \"frobnicate\"") << none << chip()
                                         << none;
        QTest::newRow("lock 4") << QStringList() << none << QStringList{"--yes", "lock", "4"} << "" << none << none << 2
                                << exact("") << has("lock takes 1, 2 or 3") << none << chip() << none;
        QTest::newRow("file past 8K") << QStringList() << none << QStringList{"verify", "in.bin"} << "in.bin"
                                      << QByteArray(8193, 'x') << none << 2 << exact("") << has("is too long")
                                      << none << chip() << none;
        QTest::newRow("bad HEX") << QStringList() << none << QStringList{"--yes", "program", "in.hex"} << "in.hex"
                                 << QByteArray(":0300000041424337\n:03000300414243F0\n") << none << 2 << exact("")
                                 << has("in.hex, line 2:") << none << chip() << none;
        QTest::newRow("image larger than the chip")
            << c51 << none << QStringList{"--yes", "write", "in.bin"} << "in.bin" << QByteArray(4097, 0) << none
            << 2 << exact("") << has("more than the AT89C51's 4096: nothing was done.") << kId << chip({}, 4096)
            << none;

        // A board that does not answer, or is gone.
        QTest::newRow("read, the board goes silent")
            << QStringList{"--silent-after", "60"} << none << QStringList{"read", "out.bin"} << "" << none << none
            << 3 << exact("") << has("Read stopped at address 39h: the board did not answer") << kId + readWire(0x3A)
            << chip() << QByteArray();
        QTest::newRow("read, a late byte puts the replies out of step")
            << QStringList{"--chip", "89c51", "--stray-after", "2000"} << none << QStringList{"read", "out.bin"} << ""
            << none << none << 3 << exact("") << has("so its replies are out of step. Nothing was stored: read again.")
            << kId + readWire(0x7CD) << chip({}, 4096) << QByteArray();
        QTest::newRow("erase, board gone")
            << QStringList() << none << QStringList{"--port", "@dir/gone", "--yes", "erase"} << "" << none << none << 3
            << exact("") << has("does not exist") << none << chip() << none;
        QTest::newRow("lock, board gone")
            << QStringList() << none << QStringList{"--port", "@dir/gone", "--yes", "lock", "1"} << "" << none << none
            << 3 << exact("") << has("does not exist") << none << chip() << none;
    }

    void commands()
    {
        QFETCH(QStringList, board);
        QFETCH(QByteArray, chipImage);
        QFETCH(QStringList, args);
        QFETCH(QString, inName);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, typed);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, memory);
        QFETCH(QByteArray, outFile);

        QTemporaryDir dir;
        auto place = [&](QStringList list) {
            for (QString &a : list)
                a.replace("@dir", dir.path());
            return list;
        };
        writeAll(dir.filePath("chip.bin"), chipImage);
        if (!inName.isEmpty())
            writeAll(dir.filePath(inName), input);
        BoardTool b(place(board) + QStringList{"--log", dir.filePath("log"), "--save", dir.filePath("memory")});
        QVERIFY(!b.path.isEmpty());
        QSettings(QStringLiteral("Quorvale"), QStringLiteral("Quorvale")).setValue("Ports/Com3", b.path);

        QStringList cliArgs = place(args);
        if (!cliArgs.contains("--port"))
            cliArgs = QStringList{"--port", b.path} + cliArgs;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(VORALITH_CLI_PATH), cliArgs);
        p.write(typed);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(60000));
        const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(b.terminate(), 0);

        QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
        QVERIFY2(!(stdOut + stdErr).contains("menu"), "a shell has no menus");
        QCOMPARE(p.exitCode(), code);
        QCOMPARE(readAll(dir.filePath("log")), wire);
        QCOMPARE(readAll(dir.filePath("memory")), memory);
        for (const QString &name : {QString("out.hex"), QString("out.bin")}) {
            if (!QFile::exists(dir.filePath(name)))
                continue;
            QVERIFY2(!outFile.isNull(), "no file should have been written");
            const auto back = loadImage(dir.filePath(name));
            QVERIFY(back.ok());
            QCOMPARE(back.value().bytes, outFile);
            QCOMPARE(back.value().format, name.endsWith("hex") ? ImageFormat::IntelHex : ImageFormat::Binary);
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
