// SPDX-License-Identifier: GPL-3.0-or-later
// Open, Save and a dropped file in the window, the same files listed by voralith-cli, and
// an image that changed after it was listed.
#include "intelhex.h"
#include "listing.h"
#include "windowfixture.h"

#include <QDir>
#include <QLineEdit>
#include <sys/stat.h>

namespace {
const QString kSaveFilter = "File binario (*.*)|*.BIN|Intel HEX (*.hex)|*.hex";
// `content` in a file `name` (absolute: as it is); "<dir>", "<fifo>", "<none>": no plain file.
QString make(WindowFixture &t, const QString &name, const QByteArray &content)
{
    const QString p = name.startsWith('/') ? name : t.dir.filePath(name);
    if (content == "<dir>")
        QDir().mkpath(p);
    else if (content == "<fifo>")
        mkfifo(qPrintable(p), 0600);
    else if (content != "<none>" && !name.startsWith('/'))
        t.file(name, content);
    return p;
}
QByteArray listed(const QByteArray &image)
{
    return listing::format(image).replace("\r\n", "\n");
}
}  // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
private slots:
    // Over an image already open, by the dialog and dropped; `told` empty: listed. A refused
    // file brings the dialog again and leaves no image to save.
    void open_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("told");
        const QString notOpened = "The image was not opened. ", tooLong = "File is too long ( >8K ).";
        QTest::newRow("empty") << "image.bin" << QByteArray("") << "";
        QTest::newRow("20") << "image.bin" << pattern(20) << "";
        QTest::newRow("HEX of 8192") << "image.hex" << intelhex::format(pattern(8192)) << "";
        QTest::newRow("8193 bytes") << "big.bin" << pattern(8193) << tooLong;
        QTest::newRow("HEX past 8K") << "big.hex" << QByteArray(":01200000AA35\r\n:00000001FF\r\n") << tooLong;
        QTest::newRow("HEX after its end") << "bad.hex" << QByteArray(":00000001FF\r\n:0100000002FC\r\n")
            << "bad.hex, line 2: a record after the end-of-file record of line 1.";
        QTest::newRow("HEX text, any name") << "bad.txt" << QByteArray("\n:0100000002FC\r\n:00000001FF\r\n")
                                            << "bad.txt, line 2: the checksum is FCh, the record needs FDh.";
        QTest::newRow("a typed name of no file") << "typed.bin" << QByteArray("<none>")
                                                 << notOpened + "The file %1 does not exist.";
        QTest::newRow("unreadable") << "/proc/self/mem" << QByteArray()
                                    << notOpened + "The image file %1 cannot be read: Input/output error.";
        QTest::newRow("a folder") << "folder.bin" << QByteArray("<dir>") << notOpened + "%1 is not a file.";
        QTest::newRow("a named pipe") << "pipe.hex" << QByteArray("<fifo>") << notOpened + "%1 is not a file.";
    }
    void open()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, told);
        const bool refused = !told.isEmpty() && !told.startsWith("The image was not opened.");
        const QByteArray image = name.endsWith(".hex") ? pattern(8192) : content;
        for (bool drop : {false, true}) {
            WindowFixture t;
            const QString good = t.openImage(pattern(16), "good.bin"), shown = t.w->Text1->toPlainText();
            const QString path = make(t, name, content);
            double top = 0;
            connect(t.w->ProgressBar1, &QProgressBar::valueChanged, [&] {
                top = std::max(top, t.w->ProgressBar1->currentValue());
                QVERIFY(!t.w->Text1->isVisibleTo(t.w.get()));
            });
            if (drop) {
                t.setReady(false);  // not while a command runs
                t.drop(path);
                QCOMPARE(t.w->fileName(), good);
                t.setReady(true);
                t.drop(path);
            } else {
                t.prompts.openPaths << path << QString();
                t.w->mnuOpen_Click();
                // voralith-cli lists what the window lists, and refuses what it refuses.
                const CliRun cli = runCli({"list", path});
                QCOMPARE(cli.exit, told.isEmpty() ? 0 : 2);
                QVERIFY(told.isEmpty() ? cli.out.startsWith(listed(image)) : cli.err.contains(name));
            }
            QVERIFY(t.w->ready() && t.w->Text1->isVisibleTo(t.w.get()));
            QCOMPARE(t.prompts.openDialogs.size(), drop ? 1 : refused ? 3 : 2);
            QCOMPARE(t.prompts.openDialogs[0].first,
                     "File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*|Intel HEX (*.hex *.ihx)|*.hex;*.ihx;*.ihex");
            QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
            if (told.isEmpty()) {
                QVERIFY(t.prompts.shown.isEmpty());
                QCOMPARE(t.w->fileName(), path);
                QCOMPARE(t.w->Text2->text() + t.w->Text3->text(), name.toUpper() + QString::number(image.size()));
                QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listed(image));
                QCOMPARE(readAll(t.w->work().listingPath()), listing::format(image));
                QCOMPARE(top, image.size() < 8 ? 0 : image.size() / 8 + 1.0);
                continue;
            }
            QCOMPARE(t.prompts.texts(), QStringList{QString(told).replace("%1", path)});
            const ShownMessage &m = t.prompts.shown[0];
            QVERIFY(m.title == "Open" && m.icon == (refused ? Prompter::NoIcon : Prompter::Critical));
            QCOMPARE(t.w->fileName(), refused ? QString() : good);
            QCOMPARE(t.w->Text1->toPlainText(), shown);
            QCOMPARE(t.w->Text2->text() + t.w->Text3->text(), QString("GOOD.BIN16"));
            t.w->mnuSave_Click();
            QCOMPARE(t.prompts.saveDialogs.size(), refused ? 0 : 1);
        }
    }

    // Save of 777 bytes opened from `opened` (empty: none) onto `dest`, holding "old" if `old`;
    // `limit`: a file size limit while saving, as a full disk.
    void save_data()
    {
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("dest");
        QTest::addColumn<bool>("old");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("told");
        const int no = Prompter::No, yes = Prompter::Yes;
        const QString failed = "The image was not saved. %1 cannot be written: ",
                      full = failed + "the disk is full or the file is too large.";
        QTest::newRow("nothing open: no dialog") << "" << "x.bin" << false << yes << 0 << QByteArray() << "";
        QTest::newRow("a new file: no question") << "img.bin" << "new.BIN" << false << yes << 0 << pattern(777) << "";
        QTest::newRow("existing, No") << "img.bin" << "dst.bin" << true << no << 0 << QByteArray("old") << "";
        QTest::newRow("existing, Yes") << "img.bin" << "dst.bin" << true << yes << 0 << pattern(777) << "";
        QTest::newRow("onto the image itself") << "img.bin" << "img.bin" << false << yes << 0 << pattern(777) << "";
        QTest::newRow(".hex converts") << "img.bin" << "img.hex" << false << yes << 0 << intelhex::format(pattern(777))
                                       << "";
        QTest::newRow("HEX to .bin") << "img.hex" << "back.bin" << false << yes << 0 << pattern(777) << "";
        QTest::newRow("a HEX copy keeps its text") << "img.hex" << "copy.ihx" << false << yes << 0
                                                   << intelhex::format(pattern(777)).toLower() << "";
        QTest::newRow("onto a link: its target replaced") << "img.bin" << "link.bin" << false << yes << 0 << pattern(777)
                                                          << "";
        QTest::newRow("a folder that is a file") << "img.bin" << "plain/out.bin" << false << yes << 0 << QByteArray()
                                                 << failed;
        QTest::newRow("the disk fills") << "img.bin" << "dst.bin" << true << yes << 512 << QByteArray("old") << full;
        QTest::newRow("the disk fills, HEX") << "img.bin" << "dst.hex" << false << yes << 1024 << QByteArray() << full;
    }
    void save()
    {
        QFETCH(QString, opened);
        QFETCH(QString, dest);
        QFETCH(bool, old);
        QFETCH(int, answer);
        QFETCH(int, limit);
        QFETCH(QByteArray, written);
        QFETCH(QString, told);
        WindowFixture t;
        t.file("plain", "x");
        const QString image = opened.isEmpty() ? QString() : t.file(opened, pattern(777));
        if (opened.endsWith(".hex"))  // as a toolchain may write it, in lower case
            t.file(opened, intelhex::format(pattern(777)).toLower());
        QVERIFY(opened.isEmpty() || t.open(image));
        const QString dst = old ? t.file(dest, "old") : t.dir.filePath(dest);
        if (dest == "link.bin")
            QFile::link(t.file("target.bin", "old"), dst);
        const bool asked = QFileInfo::exists(dst);
        const qsizetype before = QDir(t.dir.path()).entryList(QDir::Files).size();
        t.prompts.savePaths.enqueue(dst);
        t.prompts.answers.enqueue(Prompter::Answer(answer));
        {
            FileSizeLimit cap(limit);
            t.w->mnuSave_Click();
        }
        QVERIFY(t.w->ready());
        QCOMPARE(t.prompts.saveDialogs.size(), int(!opened.isEmpty()));
        if (opened.isEmpty())
            return;
        QCOMPARE(t.prompts.saveDialogs[0], qMakePair(kSaveFilter, image));  // from the path chosen last
        QCOMPARE(t.prompts.shown.size(), int(asked) + int(!told.isEmpty()));
        if (asked) {
            const ShownMessage &ask = t.prompts.shown[0];
            QCOMPARE(ask.title + ask.text, QString("SaveOverwrite ?"));
            QVERIFY(ask.buttons == Prompter::YesNo && ask.preselected == Prompter::Yes && ask.icon == Prompter::NoIcon);
        }
        QVERIFY(told.isEmpty() || (t.prompts.shown.last().text.startsWith(told.arg(dst)) &&
                                   t.prompts.shown.last().icon == Prompter::Critical));
        QCOMPARE(readAll(dst), written);
        QCOMPARE(QFileInfo(dst).isSymLink(), dest == "link.bin");
        QCOMPARE(t.w->fileName(), image);  // the current image stays what it was
        // Nothing left beside it, no temporary file, whatever happened.
        QCOMPARE(QDir(t.dir.path()).entryList(QDir::Files).size(), before + int(!asked && QFileInfo::exists(dst)));
    }

    // Deleted, cut or grown after it was listed: Write, Verify and Save take the file as it
    // is now and list it again first, or tell why not and send nothing.
    void changedSinceListed_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("length");  // -1: deleted
        QTest::addColumn<QString>("told");
        const QString deleted = "The file %1 does not exist.",
                      tooLong = "image.bin is too long: 8193 bytes, and the largest chip holds 8192.";
        for (const char *command : {"write", "verify", "save"}) {
            const QString notSaved = command == QString("save") ? "The image was not saved. " : "";
            QTest::addRow("deleted, %s", command) << command << -1 << notSaved + deleted;
            QTest::addRow("emptied, %s", command) << command << 0
                                                  << (notSaved.isEmpty() ? "%1 holds no data: nothing to write." : "");
            QTest::addRow("cut short, %s", command) << command << 10 << "";
            QTest::addRow("grown, %s", command) << command << 100 << "";
            QTest::addRow("grown past 8K, %s", command) << command << 8193 << notSaved + tooLong;
        }
    }
    void changedSinceListed()
    {
        QFETCH(QString, command);
        QFETCH(int, length);
        QFETCH(QString, told);
        const QByteArray now = pattern(std::max(length, 0), 5);
        WindowFixture t(chip("89c52", [&](BoardConfig &c) { c.image = now.left(8192); }));
        t.identify();
        const QString path = t.openImage(pattern(50));
        QFile::remove(path);
        if (length >= 0)
            t.file("image.bin", now);
        const QString dst = t.dir.filePath("copy.bin");
        if (command == "write") {
            t.prompts.answers.enqueue(Prompter::Ok);
            t.w->WriteData_Click();
        } else if (command == "verify") {
            t.w->Verify_Click();
        } else {
            t.prompts.savePaths.enqueue(dst);
            t.w->mnuSave_Click();
        }
        QVERIFY(t.w->ready() && t.w->Text1->isVisibleTo(t.w.get()));
        const QStringList texts = t.prompts.texts().mid(command == "write");
        if (!told.isEmpty()) {
            QCOMPARE(texts, QStringList{QString(told).replace("%1", path)});
            QCOMPARE(t.wire(), QByteArray());
            QVERIFY(!QFile::exists(dst));
            return;
        }
        QCOMPARE(t.w->Text3->text(), QString::number(length));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listed(now));
        const QString result = command == "verify" ? "Equal." : "Device was succesfully programmed.";
        QCOMPARE(texts, command == "save" ? QStringList() : QStringList{result});
        QCOMPARE(t.wire().size(), command == "write" ? 1 + 3 * length : command == "verify" ? 1 + 2 * length : 0);
        QCOMPARE(readAll(dst), command == "save" ? now : QByteArray());
    }

    // Descriptions as quoted; patterns blind to case (*.BIN shows x.bin); "*.*" any file.
    void dialogFilters()
    {
        const QString filter = "File binari (*.*)|*.BIN|Tutti i files (*.*)|*.*|Intel HEX (*.hex *.ihx)|*.hex;*.ihx";
        QCOMPARE(dialogNameFilters(filter),
                 QStringList({"File binari (*.*) (*.[Bb][Ii][Nn])", "Tutti i files (*.*) (*)",
                              "Intel HEX (*.hex *.ihx) (*.[Hh][Ee][Xx] *.[Ii][Hh][Xx])"}));
    }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
