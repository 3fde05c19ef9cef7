// voralith-cli against voralith-board on a pseudo-terminal: what it prints, its exit
// codes, and the files and chip it leaves.
#include "boardtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int code = -1;
    QByteArray out, err;
};

Run cli(const QString &device, const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VORALITH_CLI_PATH), QStringList{"--port", device} + args);
    p.closeWriteChannel();
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return path;
}
}  // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void identifyNamesTheChip()
    {
        BoardTool b({"--chip", "89c51"});
        const Run r = cli(b.path, {"identify"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("1E 51 FF\nDevice : Atmel 89C51 (Vpp=12V)\n"));
        BoardTool none({"--chip", "none"});
        const Run n = cli(none.path, {"identify"});
        QCOMPARE(n.code, 1);
        QVERIFY(n.out.contains("Device not present or defective."));
    }

    void writeVerifyReadRoundTrip()
    {
        QTemporaryDir dir;
        QByteArray image(300, 0);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(255 - i);
        const QString in = writeFile(dir.filePath("in.bin"), image);
        BoardTool b({"--chip", "89c52"});
        QCOMPARE(cli(b.path, {"blank"}).out, QByteArray("Device is erased.\n"));
        // Without --yes and with no answer on standard input, nothing is written.
        QCOMPARE(cli(b.path, {"write", in}).code, 1);
        QCOMPARE(cli(b.path, {"blank"}).code, 0);
        const Run w = cli(b.path, {"--yes", "write", in});
        QCOMPARE(w.code, 0);
        QCOMPARE(w.out, QByteArray("Device was succesfully programmed.\n"));
        QCOMPARE(cli(b.path, {"verify", in}).out, QByteArray("Equal.\n"));
        const Run rd = cli(b.path, {"read", dir.filePath("out.bin")});
        QCOMPARE(rd.code, 0);
        QFile out(dir.filePath("out.bin"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray chip = out.readAll();
        QCOMPARE(chip.size(), 8192);
        QCOMPARE(chip.left(300), image);
        // A difference: reported as the window reports it, exit 1.
        QByteArray other = image;
        other[0x1A] = 0x00;
        const Run v = cli(b.path, {"verify", writeFile(dir.filePath("other.bin"), other)});
        QCOMPARE(v.code, 1);
        QCOMPARE(v.out, QByteArray("It isn't the same : 1A h expexted 0h read E5h\n"));
        // Erase, then blank again.
        QCOMPARE(cli(b.path, {"--yes", "erase"}).code, 0);
        QCOMPARE(cli(b.path, {"blank"}).out, QByteArray("Device is erased.\n"));
    }

    void intelHexFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("told");  // standard output on success, standard error otherwise
        QTest::newRow("programmed as its bytes")
            << QByteArray(":0300000002abcd83\n:00000001FF\n") << 0 << QByteArray("Device was succesfully programmed.\n");
        QTest::newRow("bad checksum") << QByteArray(":0300000002ABCD84\r\n:00000001FF\r\n") << 1
                                      << QByteArray("prog.hex, line 1: the checksum is 84h, the record needs 83h.\n");
        QTest::newRow("past 8K") << QByteArray(":01200000AA35\r\n:00000001FF\r\n") << 1
                                 << QByteArray("prog.hex, line 1: data at address 2000h, beyond the 8192 bytes of "
                                               "the largest chip.\n");
    }
    void intelHexFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QFETCH(QByteArray, told);
        QTemporaryDir dir;
        const QString hex = writeFile(dir.filePath("prog.hex"), text);
        BoardTool b({"--chip", "89c52"});
        const Run w = cli(b.path, {"--yes", "write", hex});
        QCOMPARE(w.code, code);
        QCOMPARE(code ? w.err : w.out, told);
        if (code) {
            QCOMPARE(cli(b.path, {"blank"}).out, QByteArray("Device is erased.\n"));  // nothing was written
            return;
        }
        QCOMPARE(cli(b.path, {"verify", hex}).out, QByteArray("Equal.\n"));
        QCOMPARE(cli(b.path, {"read", dir.filePath("chip.bin")}).code, 0);
        QFile chip(dir.filePath("chip.bin"));
        QVERIFY(chip.open(QIODevice::ReadOnly));
        QCOMPARE(chip.read(4), QByteArray::fromHex("02ABCDFF"));
    }

    void refusalsAndFailures()
    {
        QTemporaryDir dir;
        BoardTool b({"--chip", "89c52"});
        QCOMPARE(cli(b.path, {"frobnicate"}).code, 2);
        QCOMPARE(cli(b.path, {"read"}).code, 2);
        const Run big = cli(b.path, {"verify", writeFile(dir.filePath("big.bin"), QByteArray(8193, 'x'))});
        QCOMPARE(big.code, 1);
        QVERIFY(big.err.contains("File is too long ( >8K )."));
        const Run missing = cli(dir.filePath("no-such-device"), {"identify"});
        QCOMPARE(missing.code, 1);
        QVERIFY(missing.err.contains("does not exist"));
        BoardTool silent({"--silent-after", "60"});
        const Run s = cli(silent.path, {"read", dir.filePath("x.bin")});
        QCOMPARE(s.code, 1);
        QVERIFY2(s.err.contains("Read stopped at address 39h"), s.err.constData());  // 3 signature replies first
        QVERIFY(!QFile::exists(dir.filePath("x.bin")));
        // A late byte in the middle of a read: no file, exit 1, never a shifted image.
        BoardTool stray({"--chip", "89c51", "--stray-after", "2000"});
        const Run o = cli(stray.path, {"read", dir.filePath("y.bin")});
        QCOMPARE(o.code, 1);
        QVERIFY2(o.err.contains("so its replies are out of step. Nothing was stored"), o.err.constData());
        QVERIFY(!QFile::exists(dir.filePath("y.bin")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
