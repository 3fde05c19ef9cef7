// The device commands as the window runs them: texts, titles, icons and buttons, the
// status display, the busy guard, and clean ends on a silent board or a stop.
#include "emurig.h"
#include "fakeprompter.h"
#include "form1.h"
#include "listing.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
QByteArray readAll(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
QByteArray pattern(int n, int seed = 13)
{
    QByteArray d(n, 0);
    for (int i = 0; i < n; ++i)
        d[i] = char((i * seed + 1) & 0xFF);
    return d;
}
const QString P = "* MOVC instructions executed from external program memory are disabled from fetching code bytes "
                  "from internal memory, /EA is sampled and latched on reset, and further programming of the Flash "
                  "memory is disabled.";

struct Window {
    QTemporaryDir dir;
    FakePrompter prompts;
    EmuRig rig;
    std::shared_ptr<BoardEngine> engine;
    std::unique_ptr<Form1> w;
    explicit Window(BoardConfig cfg = *BoardConfig::forChip("89c52"))
    {
        engine = rig.add("/dev/ttyS1", cfg);
        start();
        w->IdentifyDevice_Click();
        wireMark = sent().size();
    }
    // The program started (again) on the same work folder.
    void start()
    {
        w.reset();
        Form1::Deps d;
        d.work = WorkFolder::acquireAt(dir.filePath("work")).value();
        d.prompter = &prompts;
        d.opener = rig.opener();
        w = std::make_unique<Form1>(d);
    }
    QByteArray sent() const { return rig.port ? rig.port->writes().join() : QByteArray(); }
    // Bytes sent since Identify, as written.
    QByteArray wire() const { return sent().mid(wireMark); }
    // Opens `data` as a file called `name`; a .hex name gets it written as Intel HEX.
    void openImage(const QByteArray &data, const QString &name = "image.bin")
    {
        const QString p = dir.filePath(name);
        if (formatForName(name) == ImageFormat::IntelHex) {
            QVERIFY(saveImage(Image{data}, p, ImageFormat::IntelHex));
            prompts.openPaths.enqueue(p);
            w->mnuOpen_Click();
            return;
        }
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        f.close();
        prompts.openPaths.enqueue(p);
        w->mnuOpen_Click();
    }
    int wireMark = 0;
};
}  // namespace

class TestOpsWindow : public QObject {
    Q_OBJECT
private slots:
    void readMakesTheBufferCurrent()
    {
        BoardConfig c = *BoardConfig::forChip("89c51");
        c.image = pattern(4096);
        Window t(c);
        bool sawStatus = false;
        QObject::connect(t.w->ProgressBar1, &QProgressBar::valueChanged,
                         [&] { sawStatus |= !t.w->Text1->isVisibleTo(t.w.get()); });
        t.w->mnuReadData->trigger();
        QVERIFY(sawStatus);
        QCOMPARE(readAll(t.w->work().bufferPath()), pattern(4096));
        QCOMPARE(t.w->FileName, t.w->work().bufferPath());
        QCOMPARE(t.w->FileLength, 4096);
        QCOMPARE(t.w->Text2->text(), QString("BUFFER.BIN"));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(pattern(4096)).replace("\r\n", "\n"));
        QVERIFY(t.prompts.shown.isEmpty());  // no message at the end of a Read
        QVERIFY(t.w->Ready && t.w->Text1->isVisibleTo(t.w.get()));
        QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
        // Verify now compares the chip with the buffer.
        t.w->Verify->click();
        QCOMPARE(t.prompts.texts(), QStringList{"Equal."});
        QCOMPARE(t.prompts.shown[0].title, QString("Write Data"));
        QCOMPARE(t.prompts.shown[0].icon, Prompter::NoIcon);
    }

    // A Read that ends early, on a silent board or on replies out of step, keeps the image
    // the user had, tells why once, and the next Read works.
    void interruptedReadKeepsThePreviousImage_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("start");
        QTest::newRow("silent half-way") << "silent" << "Read stopped at address 1000h: the board did not answer";
        QTest::newRow("stray byte with reply 2000")
            << "stray" << "Read stopped at address 7CFh: the board sent 1 byte more than was asked, so its replies "
                          "are out of step. Nothing was stored: read again.";
        QTest::newRow("last reply doubled")
            << "double" << "Read stopped at address 1FFFh: the board sent 1 byte more than was asked";
    }
    void interruptedReadKeepsThePreviousImage()
    {
        QFETCH(QString, fault);
        QFETCH(QString, start);
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.image = pattern(8192);
        Window t(c);
        t.w->ReadData_Click();
        const QString listed = t.w->Text1->toPlainText();
        *t.engine = BoardEngine([&] {
            BoardConfig s = c;
            s.image = pattern(8192, 7);
            (fault == "silent" ? s.silentAfter : fault == "stray" ? s.strayAfter : s.doubleReply) =
                fault == "silent" ? 4096 : fault == "stray" ? 2000 : 8192;
            return s;
        }());
        t.w->ReadData_Click();
        QCOMPARE(readAll(t.w->work().bufferPath()), pattern(8192));
        QCOMPARE(t.w->Text1->toPlainText(), listed);
        QCOMPARE(t.w->FileName, t.w->work().bufferPath());
        QCOMPARE(t.prompts.shown.size(), 1);
        QCOMPARE(t.prompts.shown[0].title, QString("Read Data"));
        QCOMPARE(t.prompts.shown[0].icon, Prompter::Critical);
        QVERIFY2(t.prompts.shown[0].text.startsWith(start), qPrintable(t.prompts.shown[0].text));
        QVERIFY(t.w->Ready && t.w->Text1->isVisibleTo(t.w.get()));
        QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
        if (fault == "silent")
            return;
        t.w->ReadData_Click();
        QCOMPARE(t.prompts.shown.size(), 1);
        QCOMPARE(readAll(t.w->work().bufferPath()), pattern(8192, 7));
    }

    // A late byte in the middle of a Write: one message, not a box per byte, and what to do.
    void writeOutOfStepIsOneMessage()
    {
        BoardConfig c = *BoardConfig::forChip("89c51");
        c.paced = true;
        c.strayAfter = 10;
        Window t(c);
        t.openImage(pattern(40));
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.shown.size(), 2);
        const ShownMessage m = t.prompts.shown[1];
        QCOMPARE(m.title, QString("Write Data"));
        QCOMPARE(m.icon, Prompter::Critical);
        QVERIFY2(m.text.contains("so its replies are out of step. The chip may be half-written: erase it (Chip "
                                 "Erase), then write again."),
                 qPrintable(m.text));
        QVERIFY(t.w->Ready && t.w->Text1->isVisibleTo(t.w.get()));
        QCOMPARE(t.w->ProgressBar1->currentValue(), 1.0);
    }

    void escapeStopsARead()
    {
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.paced = true;  // about 3 ms a byte: a 25-second read
        Window t(c);
        t.w->show();
        QTimer::singleShot(150, t.w.get(), [&] { QTest::keyClick(t.w.get(), Qt::Key_Escape); });
        QElapsedTimer clock;
        clock.start();
        t.w->ReadData_Click();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(t.prompts.shown.size(), 1);
        QVERIFY(t.prompts.shown[0].text.startsWith("Read stopped by the user at address"));
        QVERIFY(!QFile::exists(t.w->work().bufferPath()));
        QVERIFY(t.w->FileName.isEmpty());
        QVERIFY(t.w->Ready);
    }

    void busyGuardDuringLongOperations_data()
    {
        QTest::addColumn<QString>("op");
        QTest::newRow("read") << "read";
        QTest::newRow("blank") << "blank";
        QTest::newRow("verify") << "verify";
        QTest::newRow("write") << "write";
    }
    void busyGuardDuringLongOperations()
    {
        QFETCH(QString, op);
        BoardConfig c = *BoardConfig::forChip("89c51");
        c.paced = true;
        Window t(c);
        t.openImage(QByteArray(40, char(0xFF)));
        const int shownBefore = t.prompts.shown.size();
        int pokes = 0;
        QTimer poke;
        QObject::connect(&poke, &QTimer::timeout, [&] {
            ++pokes;
            for (QPushButton *b : {t.w->IdentifyDevice, t.w->BlankCheck, t.w->ReadData, t.w->Verify, t.w->WriteData,
                                   t.w->ChipErase})
                b->click();
            t.w->mnuOpen->trigger();
            t.w->mnuLockBit1->trigger();
        });
        poke.start(10);
        QByteArray expected;
        if (op == "read") {
            t.w->ReadData_Click();
            expected = "Z" + QByteArray("RI").repeated(4096);
        } else if (op == "blank") {
            t.w->BlankCheck_Click();
            expected = "Z" + QByteArray("RIRIRIRI").repeated(1024);
        } else if (op == "verify") {
            t.w->Verify_Click();
            expected = "Z" + QByteArray("RI").repeated(40);
        } else {
            t.prompts.answers.enqueue(Prompter::Ok);
            t.w->WriteData_Click();
            expected = "Z" + QByteArray("W\xFFI").repeated(40);
        }
        poke.stop();
        QVERIFY(pokes > 0);
        QCOMPARE(t.wire(), expected);
        QVERIFY(t.prompts.openDialogs.size() == 1);  // only the Open before the operation
        QVERIFY(t.prompts.shown.size() <= shownBefore + 2);
    }

    void writeMessages()
    {
        QByteArray held(8192, char(0xFF));
        held[0x1A2] = 0x00;
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.image = held;
        Window t(c);
        QByteArray image(0x200, char(0xFF));
        image[0x1A2] = 0x3C;
        t.openImage(image);
        // Cancel sends nothing.
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.shown.size(), 1);
        const ShownMessage ask = t.prompts.shown[0];
        QCOMPARE(ask.text, QString("Are you sure ?"));
        QCOMPARE(ask.title, QString("Write Data"));
        QCOMPARE(ask.buttons, Prompter::OkCancel);
        QCOMPARE(ask.icon, Prompter::Warning);
        QCOMPARE(ask.preselected, Prompter::Cancel);
        QCOMPARE(t.wire(), QByteArray());
        QVERIFY(t.w->Ready);

        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.texts().mid(1),
                 (QStringList{"Are you sure ?", "Error in 1A2h : write 3Ch read 0h", "Some errors are occurred."}));
        QCOMPARE(t.prompts.shown[2].icon, Prompter::NoIcon);
        QCOMPARE(t.prompts.shown[3].icon, Prompter::Critical);
        QCOMPARE(t.wire().size(), 1 + 3 * 0x200);  // the write went on after the mismatch

        // Verify reports the first difference, as the worked example.
        t.w->Verify_Click();
        QCOMPARE(t.prompts.shown.last().text, QString("It isn't the same : 1A2 h expexted 3Ch read 0h"));

        // A clean chip writes without a word but the success.
        t.w->ChipErase_Click();  // Cancel preselected: nothing
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->ChipErase_Click();
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.shown.last().text, QString("Device was succesfully programmed."));
        QCOMPARE(t.prompts.shown.last().icon, Prompter::Information);
    }

    void imageChangedSinceListing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("rebuilt");  // empty: the file is gone
        QTest::addColumn<QString>("told");
        QTest::newRow("gone") << "image.bin" << QByteArray() << "The file %1 does not exist.";
        QTest::newRow("HEX rebuilt with a bad checksum")
            << "prog.hex" << QByteArray(":0100000002FC\r\n:00000001FF\r\n")
            << "prog.hex, line 1: the checksum is FCh, the record needs FDh.";
    }
    void imageChangedSinceListing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, rebuilt);
        QFETCH(QString, told);
        Window t;
        t.openImage(pattern(50), name);
        QCOMPARE(t.w->FileLength, 50);
        QFile::remove(t.w->FileName);
        if (!rebuilt.isEmpty()) {
            QFile f(t.w->FileName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(rebuilt);
        }
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        t.w->Verify_Click();
        QCOMPARE(t.wire(), QByteArray());  // nothing sent after the failure
        QCOMPARE(t.prompts.texts().mid(1), QStringList(2, told.arg(t.w->FileName)));
        QCOMPARE(t.prompts.shown[1].title, QString("Write Data"));
        QVERIFY(t.w->Ready && t.w->Text1->isVisibleTo(t.w.get()));
    }

    void hexImageIsProgrammedAsItsBytes()
    {
        Window t;
        t.openImage(pattern(40), "prog.hex");
        QCOMPARE(t.w->Text2->text(), QString("PROG.HEX"));
        QCOMPARE(t.w->Text3->text(), QString("40"));
        QCOMPARE(t.w->Text1->toPlainText().toLatin1(), listing::format(pattern(40)).replace("\r\n", "\n"));
        // Rebuilt after it was opened: Write and Verify take the file as it is now.
        QVERIFY(saveImage(Image{pattern(60, 5)}, t.w->FileName, ImageFormat::IntelHex));
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.shown.last().text, QString("Device was succesfully programmed."));
        QCOMPARE(t.wire().size(), 1 + 3 * 60);
        QCOMPARE(t.engine->memory().left(61), pattern(60, 5) + char(0xFF));
        t.w->Verify_Click();
        QCOMPARE(t.prompts.shown.last().text, QString("Equal."));
    }

    void noImageDoesNothing()
    {
        Window t;
        t.w->WriteData_Click();
        t.w->Verify_Click();
        t.w->mnuVerify->trigger();
        QVERIFY(t.prompts.shown.isEmpty());
        QCOMPARE(t.wire(), QByteArray());
    }

    void blankCheckMessages()
    {
        Window t;
        t.w->mnuBlankCheck->trigger();
        QCOMPARE(t.prompts.shown.size(), 1);
        QCOMPARE(t.prompts.shown[0].title, QString("Blank Check"));
        QCOMPARE(t.prompts.shown[0].text, QString("Device is erased."));
        QCOMPARE(t.prompts.shown[0].icon, Prompter::Information);
        t.engine->receive(QByteArray("ZW\0", 3), 0);  // 00 programmed at address 0, behind the window's back
        t.engine->takeDue(1LL << 60);
        t.w->BlankCheck_Click();
        QCOMPARE(t.prompts.shown[1].text, QString("Device contains data."));
        QCOMPARE(t.prompts.shown[1].icon, Prompter::Warning);
    }

    void lockBitTexts_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ones");
        QTest::newRow("1") << "1" << P + "\r\n\r\nAre you sure ?" << 1;
        QTest::newRow("2") << "2" << P + "\r\n\r\n* Verify is also disabled.\r\n\r\nAre you sure ?" << 1;
        QTest::newRow("3") << "3"
                           << P + "\r\n\r\n* Verify is disabled.\r\n\r\n* External execution is disabled."
                                  "\r\n\r\nAre you sure ?"
                           << 1;
        QTest::newRow("all") << "all"
                             << P + "\r\n\r\n* Verify is disabled.\r\n\r\n* External execution is disabled."
                                    "\r\n\r\nAre you sure ?"
                             << 3;
    }
    void lockBitTexts()
    {
        QFETCH(QString, item);
        QFETCH(QString, text);
        QFETCH(int, ones);
        Window t;
        QAction *a = item == "1" ? t.w->mnuLockBit1
                     : item == "2" ? t.w->mnuLockBit2
                     : item == "3" ? t.w->mnuLockBit3
                                   : t.w->mnuAllLockBits;
        a->trigger();  // Cancel preselected
        QCOMPARE(t.wire(), QByteArray());
        t.prompts.answers.enqueue(Prompter::Ok);
        a->trigger();
        QCOMPARE(t.wire(), QByteArray(ones, '1'));
        QCOMPARE(t.prompts.shown.size(), 2);
        for (const ShownMessage &m : t.prompts.shown) {
            QCOMPARE(m.title, QString("Program Lock Bit 1"));
            QCOMPARE(m.text, text);
            QCOMPARE(m.buttons, Prompter::OkCancel);
            QCOMPARE(m.icon, Prompter::Warning);
            QCOMPARE(m.preselected, Prompter::Cancel);
        }
        QCOMPARE(t.w->Msg + "\r\n\r\nAre you sure ?", text);
        QVERIFY(t.w->Ready);
        QTRY_COMPARE(t.engine->lockBits(), ones);  // once the board has handled them
    }

    void chipEraseSendsOneE()
    {
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.image = pattern(100);
        Window t(c);
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->mnuChipErase->trigger();
        QCOMPARE(t.prompts.shown[0].title, QString("Erase Chip"));
        QCOMPARE(t.prompts.shown[0].text, QString("Are you sure ?"));
        QCOMPARE(t.wire(), QByteArray("E"));
        QTRY_COMPARE(t.engine->memory(), QByteArray(8192, char(0xFF)));
    }

    // A board that is gone: the command is told as failed, under the command's own title.
    void eraseAndLockWithTheBoardGone_data()
    {
        QTest::addColumn<bool>("erase");
        QTest::addColumn<bool>("unplugged");  // the adapter gone, or the port open but refusing
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("erase, the port refuses the byte")
            << true << false << "Erase Chip" << "Chip erase was not carried out: the serial port Com2 refused the data";
        QTest::newRow("lock bit 1, the adapter unplugged")
            << false << true << "Program Lock Bit 1" << "The serial port /dev/ttyS1 does not exist.";
    }
    void eraseAndLockWithTheBoardGone()
    {
        QFETCH(bool, erase);
        QFETCH(bool, unplugged);
        QFETCH(QString, title);
        QFETCH(QString, text);
        Window t;
        if (unplugged) {
            t.rig.boards.clear();
            t.rig.port->close();
        } else {
            BoardConfig gone = *BoardConfig::forChip("89c52");
            gone.vanishAfter = 0;
            *t.engine = BoardEngine(gone);
            t.engine->receive("Z", 0);  // the first byte: the device vanishes
            t.engine->takeDue(1LL << 60);
        }
        t.prompts.answers.enqueue(Prompter::Ok);
        erase ? t.w->ChipErase_Click() : t.w->mnuLockBit1_Click();
        QCOMPARE(t.prompts.shown.size(), 2);
        const ShownMessage told = t.prompts.shown[1];
        QCOMPARE(told.title, title);
        QVERIFY2(told.text.startsWith(text), qPrintable(told.text));
        QCOMPARE(told.icon, Prompter::Critical);
        QCOMPARE(told.buttons, Prompter::OkOnly);
        QCOMPARE(t.wire(), QByteArray());
        QVERIFY(t.w->Ready);
    }

    // A Write that ends early leaves the chip half-written: told at the next Identify and
    // the next start, once each, until a change of the chip on that port completes.
    void halfWrittenChipIsRecalled()
    {
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.vanishAfter = 3 + 10;  // the adapter is pulled out at the tenth byte written
        Window t(c);
        t.openImage(pattern(40));
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->WriteData_Click();
        QVERIFY(t.prompts.shown.last().text.contains("The chip may be half-written"));
        c.vanishAfter = -1;
        *t.engine = BoardEngine(c);  // plugged back
        const QString warning = "A Write on /dev/ttyS1, started ";
        const QString then = ", did not finish, so the chip there may be half-written. Erase it (Chip Erase), then "
                             "write again.";
        for (int run = 0; run < 2; ++run) {
            const int before = t.prompts.shown.size();
            if (run == 1) {
                t.start();
                t.w->tellStartupProblem();
            }
            t.w->IdentifyDevice_Click();
            t.w->IdentifyDevice_Click();
            QCOMPARE(t.prompts.shown.size(), before + 1);
            const ShownMessage m = t.prompts.shown.last();
            QCOMPARE(m.title, QString(run == 0 ? "Identification" : "Voralith"));
            QCOMPARE(m.icon, Prompter::Warning);
            QVERIFY2(m.text.startsWith(warning) && m.text.endsWith(then), qPrintable(m.text));
        }
        t.prompts.answers.enqueue(Prompter::Ok);
        t.w->ChipErase_Click();
        const int before = t.prompts.shown.size();
        t.start();
        t.w->tellStartupProblem();
        t.w->IdentifyDevice_Click();
        QCOMPARE(t.prompts.shown.size(), before);
    }

    void closingDuringAWriteEndsItFirst()
    {
        BoardConfig c = *BoardConfig::forChip("89c52");
        c.paced = true;
        Window t(c);
        t.openImage(QByteArray(4000, char(0x55)));
        t.w->show();
        t.prompts.answers.enqueue(Prompter::Ok);
        QTimer::singleShot(200, t.w.get(), [&] { t.w->close(); });
        t.w->WriteData_Click();
        QCOMPARE(t.prompts.shown.size(), 1);  // only the question: no message while closing
        QTRY_VERIFY(!t.w->isVisible());
        QVERIFY(!QFile::exists(t.w->work().listingPath()));
        // The port is gone with the window; the board saw the write end early.
        QVERIFY(t.engine->receivedLog().size() < t.wireMark + 1 + 3 * 4000);
    }
};

QTEST_MAIN(TestOpsWindow)
#include "test_ops_window.moc"
