// The main window: start-up and shut-down, the busy guard, port selection and Identify,
// driven offscreen against in-process emulated boards.
#include "timeouts.h"
#include "windowfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init() { storedSettings()->clear(); }

    void startState()
    {
        WindowFixture t;
        Form1 &w = *t.w;
        w.show();  // its size, fixed, is measured on a real display by screenshot.sh
        QVERIFY(QFontInfo(w.Text1->font()).fixedPitch());  // the listing's columns line up
        // Only Identify among the device commands at start.
        QVERIFY(w.IdentifyDevice->isEnabled() && w.mnuIdentifyDevice->isEnabled());
        QCOMPARE(t.group(), QString("disabled"));
        // Hiding Text1 uncovers "Wait..." and the bar, as a long operation does.
        w.showStatusDisplay(true);
        QVERIFY(!w.Text1->isVisible() && w.Label5->isVisible() && w.ProgressBar1->isVisible());
        w.ProgressBar1->setCurrentValue(3000);
        w.ProgressBar1->setMaximumValue(8192);
        // Left beside the test program to compare with the busy layout by eye.
        QVERIFY(w.grab().save(QDir(QCoreApplication::applicationDirPath()).filePath("form1-busy.png")));
    }

    // The bar counts in eighths of a step: fractional maxima, an empty image, an image
    // grown since it was listed; `filled` is the part of the bar shown.
    void progressBar_data()
    {
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("filled");
        QTest::newRow("a 20-byte listing, row 3") << 3.5 << 3.0 << 0.8;
        QTest::newRow("empty image: stays empty") << 0.0 << 1.0 << 0.0;
        QTest::newRow("grown image: full, not stuck") << 100.0 << 150.0 << 1.0;
    }
    void progressBar()
    {
        QFETCH(double, maximum);
        QFETCH(double, value);
        QFETCH(double, filled);
        ScaledProgressBar bar;
        // The value first: a step within a frame of the last one shown waits for the next
        // frame, and setting the maximum shows the bar at once.
        bar.setCurrentValue(value);
        bar.setMaximumValue(maximum);
        QVERIFY(bar.maximum() > bar.minimum());
        QCOMPARE(double(bar.value() - bar.minimum()) / (bar.maximum() - bar.minimum()), filled);
    }

    // Each row starts from an identified AT89C52, then the board is swapped for the row's.
    void identify_data()
    {
        QTest::addColumn<BoardConfig>("board");
        QTest::addColumn<QString>("signature");  // as Text4 shows it
        QTest::addColumn<QString>("caption");    // empty: not recognised
        QTest::addColumn<int>("size");
        QTest::newRow("89C52") << chip("89c52") << "1E 52 FF" << "Device : Atmel 89C52 (Vpp=12V)" << 8192;
        QTest::newRow("89C51") << chip("89c51") << "1E 51 FF" << "Device : Atmel 89C51 (Vpp=12V)" << 4096;
        QTest::newRow("1E 51 05: no leading zero")
            << chip("89c52", [](BoardConfig &c) { c.signature = QByteArray::fromHex("1E5105"); }) << "1E 51 5"
            << "" << 0;
        QTest::newRow("no chip") << chip("none") << "FF FF FF" << "" << 0;
        QTest::newRow("two bytes: as they came") << chip("89c52", [](BoardConfig &c) { c.silentAfter = 2; })
                                                 << "\x1E\x52" << "" << 0;
        QTest::newRow("four waiting: first, third, fourth")
            << chip("89c52", [](BoardConfig &c) { c.strayByte = 0x55; }) << "55 52 FF" << "" << 0;
        QTest::newRow("silent: ends at the limit") << chip("89c52", [](BoardConfig &c) { c.silentAfter = 0; })
                                                   << "" << "" << 0;
        QTest::newRow("unplugged") << chip("89c52", [](BoardConfig &c) { c.vanishAfter = 0; }) << "" << "" << 0;
    }
    void identify()
    {
        QFETCH(BoardConfig, board);
        QFETCH(QString, signature);
        QFETCH(QString, caption);
        QFETCH(int, size);
        WindowFixture t;
        Form1 &w = *t.w;
        w.IdentifyDevice_Click();
        QCOMPARE(t.sent(), "Z" + QByteArray(48, 'I') + "SISIS");
        QCOMPARE(t.rig.port->writes().size(), 50);  // one write each, "SISIS" as one
        QCOMPARE(t.group(), QString("enabled"));

        t.board() = BoardEngine(board);
        w.mnuIdentifyDevice->trigger();  // the menu item is the same command
        QCOMPARE(w.Text4->text(), signature);
        QCOMPARE(w.Label4->text(), caption.isEmpty() ? QString("Device : [unknown]") : caption);
        QCOMPARE(w.chipSize(), size);
        QVERIFY(!(w.AT89C51 && w.AT89C52));
        QCOMPARE(t.group(), QString(size ? "enabled" : "disabled"));
        QCOMPARE(t.prompts.texts(), size ? QStringList() : QStringList{"Device not present or defective."});
        if (!size) {
            QCOMPARE(t.prompts.shown[0].title, QString("Identification"));
            QCOMPARE(t.prompts.shown[0].icon, Prompter::Critical);
            QCOMPARE(t.prompts.shown[0].buttons, Prompter::OkOnly);
        }
        QVERIFY(w.Ready);
    }

    void secondClickDuringWaitDoesNothing()
    {
        WindowFixture t(chip("89c52", [](BoardConfig &c) { c.paced = true; }), {2, 3});
        Form1 &w = *t.w;
        int extraClicks = 0;
        QTimer poke;
        connect(&poke, &QTimer::timeout, &w, [&] {
            ++extraClicks;
            w.IdentifyDevice->click();
            w.mnuOpen->trigger();
            w.mnuCom3->trigger();  // a port switch is refused while busy
        });
        poke.start(5);
        w.IdentifyDevice_Click();
        poke.stop();
        QVERIFY(extraClicks > 0);
        QCOMPARE(t.sent().size(), 54);
        QVERIFY(t.prompts.openDialogs.isEmpty());
        QCOMPARE(t.checkedCom(), 2);
        QCOMPARE(t.rig.opened, QStringList{"/dev/ttyS1"});
        QCOMPARE(w.Text4->text(), QString("1E 52 FF"));
    }

    void startupPort_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("checked");
        QTest::addColumn<bool>("present");  // a board on that device
        QTest::newRow("nothing stored") << QVariant() << "/dev/ttyS1" << 2 << true;
        QTest::newRow("3") << QVariant("3") << "/dev/ttyS2" << 3 << true;
        QTest::newRow("5: no item, port 5") << QVariant("5") << "/dev/ttyS4" << 0 << true;
        QTest::newRow("' 3': a number, no item") << QVariant(" 3") << "/dev/ttyS2" << 0 << true;
        for (const char *bad : {"abc", "", "0", "-1", "+3", "99999"})
            QTest::addRow("'%s'", bad) << QVariant(bad) << "/dev/ttyS1" << 2 << true;
        QTest::newRow("10000 digits") << QVariant(QString(10000, '9')) << "/dev/ttyS1" << 2 << true;
        QTest::newRow("Com2 missing") << QVariant() << "/dev/ttyS1" << 2 << false;
    }
    void startupPort()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, device);
        QFETCH(int, checked);
        QFETCH(bool, present);
        if (stored.isValid())
            storedSettings()->setValue("Parameters/CommPort", stored);
        WindowFixture t({}, present ? QList<int>{1, 2, 3, 4, 5} : QList<int>{1});
        Form1 &w = *t.w;
        QCOMPARE(t.rig.opened, QStringList{device});
        QCOMPARE(t.checkedCom(), checked);
        QCOMPARE(w.MSComm1.isOpen(), present);
        QCOMPARE(w.startupProblem().contains(device), !present);
        w.tellStartupProblem();
        w.tellStartupProblem();  // told once
        w.IdentifyDevice_Click();
        QCOMPARE(t.group(), QString(present ? "enabled" : "disabled"));
        QCOMPARE(t.prompts.shown.size(), present ? 0 : 2);
        QVERIFY(w.Ready);
    }

    // Boards on Com2 and Com3; `drop`: Com2's board is gone before the last choice.
    void portSwitch_data()
    {
        QTest::addColumn<QList<int>>("choices");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("open");
        QTest::newRow("Com3") << QList<int>{3} << false << QStringList{"/dev/ttyS1", "/dev/ttyS2"} << 3 << true;
        QTest::newRow("the same port: closed and reopened")
            << QList<int>{3, 3} << false << QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS2"} << 3 << true;
        QTest::newRow("missing port: back on the previous, silently")
            << QList<int>{3, 4} << false << QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3", "/dev/ttyS2"} << 3
            << true;
        QTest::newRow("previous port gone too: told")
            << QList<int>{4} << true << QStringList{"/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS1"} << 2 << false;
    }
    void portSwitch()
    {
        QFETCH(QList<int>, choices);
        QFETCH(bool, drop);
        QFETCH(QStringList, opened);
        QFETCH(int, port);
        QFETCH(bool, open);
        WindowFixture t({}, {2, 3});
        Form1 &w = *t.w;
        if (drop)
            t.rig.boards.remove(WindowFixture::device(2));
        const QList<QAction *> items{w.mnuCom1, w.mnuCom2, w.mnuCom3, w.mnuCom4};
        for (int c : choices)
            items[c - 1]->trigger();
        QCOMPARE(t.rig.opened, opened);
        QCOMPARE(w.MSComm1.portNumber(), port);
        QCOMPARE(w.MSComm1.isOpen(), open);
        QCOMPARE(t.checkedCom(), port);
        QCOMPARE(t.prompts.shown.size(), open ? 0 : 1);
        if (!open)
            QVERIFY(t.prompts.shown[0].text.contains("no serial port is open"));
        QVERIFY(!storedSettings()->contains("Parameters/CommPort"));  // written only at shut-down
    }

    // Com2 stored, Com3 chosen, the two work files present; then the window ends.
    void ending_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("shutDown");  // port saved, files deleted, next start on Com3
        QTest::newRow("closed") << "close" << true;
        QTest::newRow("File, Exit: neither") << "exit" << false;
        QTest::newRow("closed during Identify: ended first") << "busy" << true;
    }
    void ending()
    {
        QFETCH(QString, how);
        QFETCH(bool, shutDown);
        storedSettings()->setValue("Parameters/CommPort", "2");
        WindowFixture t({}, {2, 3});
        Form1 &w = *t.w;
        w.show();
        w.mnuCom3->trigger();
        const QStringList files{w.work().bufferPath(), w.work().listingPath()};
        for (const QString &f : files)
            QVERIFY(QFile(f).open(QIODevice::WriteOnly));
        if (how == "close") {
            QVERIFY(w.close());
        } else if (how == "exit") {
            w.mnuExit->trigger();
            QCOMPARE(t.exits, 1);
            QVERIFY(w.close());  // the window goes with the program, without the shut-down
        } else {
            t.board(3) = BoardEngine(chip("89c52", [](BoardConfig &c) { c.silentAfter = 0; }));
            QTimer::singleShot(0, &w, [&] { QVERIFY(!w.close()); });
            QElapsedTimer clock;
            clock.start();
            w.IdentifyDevice_Click();
            QVERIFY(clock.elapsed() < timeouts::identify.count());  // stopped, not timed out
            QTRY_VERIFY(!w.isVisible());
            QVERIFY(t.prompts.shown.isEmpty());  // no message while the window closes
        }
        QCOMPARE(storedSettings()->value("Parameters/CommPort").toString(), QString(shutDown ? "3" : "2"));
        for (const QString &f : files)
            QCOMPARE(QFile::exists(f), !shutDown);
        if (shutDown)
            QVERIFY(!w.MSComm1.isOpen());
        WindowFixture next({}, {2, 3});
        QCOMPARE(next.rig.opened, QStringList{shutDown ? "/dev/ttyS2" : "/dev/ttyS1"});
        QCOMPARE(next.checkedCom(), shutDown ? 3 : 2);
    }

    void secondCopyIsRefused()
    {
        QTemporaryDir dir;
        auto first = WorkFolder::acquireAt(dir.path());
        QVERIFY(first.ok());
        auto second = WorkFolder::acquireAt(dir.path());
        QVERIFY(!second.ok());
        QVERIFY(second.message().contains("Another copy of Voralith is already running"));
        QCOMPARE(QFileInfo(dir.path()).permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
