// SPDX-License-Identifier: GPL-3.0-or-later
// Images in and out of files: Intel HEX against binutils' objcopy, every refusal with its
// line, the files that 8051 toolchains write, and the safe write.
#include "image.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray readAll(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
QString writeFile(const QString &p, const QByteArray &data)
{
    QFile f(p);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return p;
}
QByteArray pattern(int n)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char(i * 7 + 3);
    return d;
}
// One record with its checksum: rec("0100000002") is ":0100000002FD\n".
QByteArray rec(const char *body)
{
    const QByteArray bytes = QByteArray::fromHex(body);
    quint8 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    return ':' + QByteArray(body) + QByteArray(1, char(quint8(-sum))).toHex().toUpper() + '\n';
}
bool objcopy(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("objcopy"), args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
}  // namespace

class TestImage : public QObject {
    Q_OBJECT
private slots:
    void roundTripAgainstObjcopy_data()
    {
        QTest::addColumn<int>("length");
        for (int n : {0, 1, 15, 16, 17, 4096, 8192})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void roundTripAgainstObjcopy()
    {
        QFETCH(int, length);
        QTemporaryDir dir;
        const QByteArray data = pattern(length);
        const QString bin = writeFile(dir.filePath("in.bin"), data), ours = dir.filePath("ours.hex");
        const auto loadedBin = loadImage(bin);
        QVERIFY(loadedBin.ok());
        QVERIFY(saveImage(loadedBin.value(), ours, ImageFormat::IntelHex).ok());
        const auto back = loadImage(ours);
        QVERIFY2(back.ok(), qPrintable(back.message()));
        QCOMPARE(back.value().format, ImageFormat::IntelHex);
        QCOMPARE(back.value().bytes, data);
        // HEX back to binary through a conversion, as Save does it.
        QVERIFY(saveImage(back.value(), dir.filePath("again.bin"), ImageFormat::Binary).ok());
        QCOMPARE(readAll(dir.filePath("again.bin")), data);

        if (QStandardPaths::findExecutable(QStringLiteral("objcopy")).isEmpty())
            QSKIP("objcopy (binutils) is not installed");
        if (length == 0) {
            // objcopy refuses an empty file either way; the end record alone is the whole text.
            QCOMPARE(readAll(ours), QByteArray(":00000001FF\r\n"));
            return;
        }
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", ours, dir.filePath("theirs.bin")}));
        QCOMPARE(readAll(dir.filePath("theirs.bin")), data);
        QVERIFY(objcopy({"-I", "binary", "-O", "ihex", bin, dir.filePath("theirs.hex")}));
        QCOMPARE(readAll(ours), readAll(dir.filePath("theirs.hex")));
        const auto theirs = loadImage(dir.filePath("theirs.hex"));
        QVERIFY(theirs.ok());
        QCOMPARE(theirs.value().bytes, data);
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        const QByteArray end = ":00000001FF\n";
        const QByteArray one = rec("0100000002");
        auto row = [](const char *name, const QByteArray &text, Failure::Kind kind, const QString &message) {
            QTest::newRow(name) << text << int(kind) << message;
        };
        row("checksum", one + ":0100010003FC\n" + end, Failure::Refused,
            "t.hex, line 2: the checksum is FCh, the record needs FBh.");
        row("no colon", one + "0100010003FB\n" + end, Failure::Refused,
            "t.hex, line 2: the line does not start with ':'.");
        row("odd digits", ":0100000002FD0\n" + end, Failure::Refused, "t.hex, line 1: an odd number of hex digits.");
        row("not hex", "\n:01000000G2FD\n" + end, Failure::Refused, "t.hex, line 2: 'G' is not a hex digit.");
        row("length field", ":0200000002FC\n" + end, Failure::Refused,
            "t.hex, line 1: the length field says 2 data bytes, the line holds 1.");
        row("too short", ":000000\n" + end, Failure::Refused, "t.hex, line 1: the line is too short for a record.");
        row("unknown type", rec("0000000A") + end, Failure::Refused, "t.hex, line 1: unknown record type 0A.");
        row("address record size", rec("0100000400") + end, Failure::Refused,
            "t.hex, line 1: a record of type 04 holds 2 data bytes, not 1.");
        row("at 8192", one + rec("01200000AA") + end, Failure::TooLong,
            "t.hex, line 2: data at address 2000h, beyond the 8192 bytes of the largest chip.");
        row("record across 8192", rec("041FFE0001020304") + end, Failure::TooLong,
            "t.hex, line 1: data at address 2000h, beyond the 8192 bytes of the largest chip.");
        row("segment", rec("020000020200") + rec("0100000055") + end, Failure::TooLong,
            "t.hex, line 2: data at address 2000h, beyond the 8192 bytes of the largest chip.");
        row("linear", rec("020000040001") + rec("0100000055") + end, Failure::TooLong,
            "t.hex, line 2: data at address 10000h, beyond the 8192 bytes of the largest chip.");
        row("two values", rec("0200100011AA") + "\n" + rec("0100110022") + end, Failure::Refused,
            "t.hex, line 3: address 11h is given 22h here and AAh on line 1.");
        row("no end record", one + "\n", Failure::Refused,
            "t.hex, line 3: the file ends without an end-of-file record (:00000001FF).");
        row("empty", {}, Failure::Refused, "t.hex, line 1: the file ends without an end-of-file record (:00000001FF).");
        row("after end", end + "\n" + one, Failure::Refused,
            "t.hex, line 3: a record after the end-of-file record of line 1.");
        row("raw bytes named .hex", QByteArray("\x02\x00\x30", 3), Failure::Refused,
            "t.hex, line 1: the line does not start with ':'.");
    }
    void refusals()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, kind);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const auto r = loadImage(writeFile(dir.filePath("t.hex"), text));
        QVERIFY(!r.ok());
        QCOMPARE(r.message(), message);
        QCOMPARE(int(r.failure().kind), kind);
    }

    void accepted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("format");
        const QByteArray end = ":00000001FF\r\n";
        const QByteArray sixteen = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F");
        const QByteArray full = rec("10000000000102030405060708090A0B0C0D0E0F");
        auto row = [](const char *tag, const char *name, const QByteArray &text, const QByteArray &bytes,
                      ImageFormat format) { QTest::newRow(tag) << name << text << bytes << int(format); };
        row("04 record first, short last record", "a.hex",
            rec("020000040000") + full + rec("03001000AABBCC") + end, sixteen + QByteArray::fromHex("AABBCC"),
            ImageFormat::IntelHex);
        row("lower case, LF", "a.ihx", full.toLower() + ":00000001ff\n", sixteen, ImageFormat::IntelHex);
        row("out of address order", "a.hex", rec("02001000AABB") + full + end, sixteen + QByteArray::fromHex("AABB"),
            ImageFormat::IntelHex);
        row("03 and 05 records", "a.HEX", rec("0400000300000000") + rec("0400000500000000") + full + end, sixteen,
            ImageFormat::IntelHex);
        row("gap is FF", "a.IHEX", rec("0100000011") + rec("0100040022") + end, QByteArray::fromHex("11FFFFFF22"),
            ImageFormat::IntelHex);
        row("segment within 8K", "a.hex", rec("020000020100") + rec("0100000033") + end,
            QByteArray(0x1000, char(0xFF)) + QByteArray::fromHex("33"), ImageFormat::IntelHex);
        row("blank lines, trailing blanks", "a.hex", "\r\n" + full.chopped(1) + "  \t\r\n\r\n" + end + " \r\n",
            sixteen, ImageFormat::IntelHex);
        row("same value twice", "a.hex", rec("0100050077") + rec("0100050077") + end,
            QByteArray(5, char(0xFF)) + QByteArray::fromHex("77"), ImageFormat::IntelHex);
        row("last address", "a.hex", rec("011FFF0099") + end, QByteArray(8191, char(0xFF)) + QByteArray::fromHex("99"),
            ImageFormat::IntelHex);
        row("no data", "a.hex", end, {}, ImageFormat::IntelHex);
        row("HEX text under another name", "prog.txt", "\n " + full + end, sixteen, ImageFormat::IntelHex);
        row("':' then raw bytes", "prog.bin", QByteArray(":\x00\x01\xFF", 4), QByteArray(":\x00\x01\xFF", 4),
            ImageFormat::Binary);
        row("binary of 8192", "full.bin", QByteArray(8192, 'x'), QByteArray(8192, 'x'), ImageFormat::Binary);
    }
    void accepted()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, format);
        QTemporaryDir dir;
        const auto r = loadImage(writeFile(dir.filePath(name), text));
        QVERIFY2(r.ok(), qPrintable(r.message()));
        QCOMPARE(r.value().bytes, bytes);
        QCOMPARE(int(r.value().format), format);
        QCOMPARE(r.value().path, dir.filePath(name));
    }

    void tooLongBinary()
    {
        QTemporaryDir dir;
        const auto r = loadImage(writeFile(dir.filePath("big.bin"), QByteArray(8193, 'x')));
        QVERIFY(!r.ok());
        QCOMPARE(r.failure().kind, Failure::TooLong);
        QCOMPARE(r.message(), QString("big.bin is too long: 8193 bytes, and the largest chip holds 8192."));
        const auto gone = loadImage(dir.filePath("gone.hex"));
        QVERIFY(!gone.ok() && gone.failure().kind == Failure::Error && gone.message().contains("gone.hex"));
    }

    void save_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QByteArray>("written");
        const QByteArray hexText = "\n" + rec("0300000001ab02").toLower() + ":00000001FF  \n";
        const QByteArray converted = rec("0300000001AB02").chopped(1) + "\r\n:00000001FF\r\n";
        QTest::newRow("binary copy") << "a.bin" << pattern(777) << "b.BIN" << pattern(777);
        QTest::newRow("HEX copy keeps its text") << "a.hex" << hexText << "b.ihx" << hexText;
        QTest::newRow("HEX to binary") << "a.hex" << hexText << "b.bin" << QByteArray::fromHex("01AB02");
        QTest::newRow("binary to HEX") << "a.bin" << QByteArray::fromHex("01AB02") << "b.hex" << converted;
        QTest::newRow("onto itself") << "a.bin" << pattern(9) << "./a.bin" << pattern(9);
    }
    void save()
    {
        QFETCH(QString, from);
        QFETCH(QByteArray, content);
        QFETCH(QString, to);
        QFETCH(QByteArray, written);
        QTemporaryDir dir;
        writeFile(dir.filePath(to), "old");
        const QString source = writeFile(dir.filePath(from), content);
        const auto image = loadImage(source);
        QVERIFY(image.ok());
        QVERIFY(saveImage(image.value(), dir.filePath(to), formatForName(to)).ok());
        QCOMPARE(readAll(dir.filePath(to)), written);
    }

    void safeWrite()
    {
        QTemporaryDir dir;
        // A link planted at the path is replaced, its target left alone.
        const QString path = dir.filePath("tempfile.$$$"), victim = writeFile(dir.filePath("victim"), "keep me");
        QVERIFY(QFile::link(victim, path));
        QVERIFY(writeFileSafely(path, "listing").ok());
        QCOMPARE(readAll(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readAll(path), QByteArray("listing"));
        // A folder that is a plain file: the failure names the file, whoever runs the test.
        const auto bad = writeFileSafely(dir.filePath("victim/x.bin"), "x");
        QVERIFY(!bad.ok() && bad.message().contains("x.bin"));
        // A file size limit makes the write fail half-way, as a full disk would, also for
        // root: the old file stays as it was and no temporary is left behind.
        const QString dst = writeFile(dir.filePath("dst.bin"), "old image");
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const Status r = writeFileSafely(dst, pattern(8192));
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!r.ok());
        QVERIFY(r.message().contains("dst.bin"));
        QCOMPARE(readAll(dst), QByteArray("old image"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
