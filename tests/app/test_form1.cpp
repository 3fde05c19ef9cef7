// The main window: layout, start-up and shut-down, the busy guard, port selection and
// Identify, driven offscreen against in-process emulated boards.
#include "emurig.h"
#include "fakeprompter.h"
#include "form1.h"
#include "identify.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// The settings store as the program sees it (each test run has its own).
std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QStringLiteral("Quorvale"), QStringLiteral("Quorvale"));
}

struct Window {
    QTemporaryDir dir;
    FakePrompter prompts;
    EmuRig rig;
    std::unique_ptr<Form1> w;
    int exits = 0;

    // Boards on /dev/ttyS0../dev/ttyS4 (Com1..Com5) unless `missing` names them.
    explicit Window(QList<int> present = {1, 2, 3, 4, 5}, BoardConfig cfg = {})
    {
        for (int n : present)
            rig.add(QStringLiteral("/dev/ttyS%1").arg(n - 1), cfg);
    }
    Form1 &open()
    {
        Form1::Deps d;
        d.work = WorkFolder::acquireAt(dir.path() + "/work").value();
        d.prompter = &prompts;
        d.opener = rig.opener();
        d.exitProgram = [this] { ++exits; };
        w = std::make_unique<Form1>(d);
        return *w;
    }
    BoardEngine &board(int com) { return *rig.boards.value(QStringLiteral("/dev/ttyS%1").arg(com - 1)); }
};

QList<bool> checks(Form1 &w)
{
    return {w.mnuCom1->isChecked(), w.mnuCom2->isChecked(), w.mnuCom3->isChecked(), w.mnuCom4->isChecked()};
}

bool groupEnabled(Form1 &w)
{
    const bool all = w.BlankCheck->isEnabled() && w.ReadData->isEnabled() && w.Verify->isEnabled() &&
                     w.WriteData->isEnabled() && w.ChipErase->isEnabled() && w.mnuBlankCheck->isEnabled() &&
                     w.mnuReadData->isEnabled() && w.mnuVerify->isEnabled() && w.mnuWriteData->isEnabled() &&
                     w.mnuChipErase->isEnabled() && w.mnuLockBits->menuAction()->isEnabled();
    const bool none = !w.BlankCheck->isEnabled() && !w.ReadData->isEnabled() && !w.Verify->isEnabled() &&
                      !w.WriteData->isEnabled() && !w.ChipErase->isEnabled() && !w.mnuBlankCheck->isEnabled() &&
                      !w.mnuReadData->isEnabled() && !w.mnuVerify->isEnabled() && !w.mnuWriteData->isEnabled() &&
                      !w.mnuChipErase->isEnabled() && !w.mnuLockBits->menuAction()->isEnabled();
    if (!all && !none)
        qWarning("command group is half enabled");
    return all;
}
}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void init() { settings()->clear(); }

    void layoutAsDesigned()
    {
        Window t;
        Form1 &w = t.open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QString("Voralith"));
        QCOMPARE(w.centralWidget()->size(), QSize(508, 276));
        QCOMPARE(w.minimumSize(), w.maximumSize());  // fixed: cannot be resized or maximized
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.Frame3->geometry(), QRect(368, 8, 137, 265));
        QCOMPARE(w.Frame1->geometry(), QRect(4, 80, 358, 193));
        QCOMPARE(w.Text1->geometry(), QRect(10, 96, 345, 169));
        QCOMPARE(w.ProgressBar1->geometry(), QRect(24, 56, 313, 17));
        QCOMPARE(w.ChipErase->geometry(), QRect(16, 224, 105, 33));
        QCOMPARE(w.Label4->text(), QString("Device : [unknown]"));
        QCOMPARE(w.Label5->text(), QString("Wait..."));
        QVERIFY(w.Label5->font().italic());
        QCOMPARE(w.Label5->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        QVERIFY(QFontInfo(w.Text1->font()).fixedPitch());
        QVERIFY(w.Text1->isReadOnly());
        // Only Identify and the always-available menus at start.
        QVERIFY(w.IdentifyDevice->isEnabled() && w.mnuIdentifyDevice->isEnabled());
        QVERIFY(!groupEnabled(w));
        // Text1 covers the status display until a long operation hides it.
        QVERIFY(w.Text1->isVisible());
        w.showStatusDisplay(true);
        QVERIFY(!w.Text1->isVisible() && w.Label5->isVisible() && w.ProgressBar1->isVisible());
        w.ProgressBar1->setMaximumValue(8192);
        w.ProgressBar1->setCurrentValue(3000);
        // Left beside the test program to compare with the busy layout by eye.
        QVERIFY(w.grab().save(QDir(QCoreApplication::applicationDirPath()).filePath("form1-busy.png")));
        QStringList menus;
        for (QAction *a : w.menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"&File", "&Actions", "&Comm port", "&?"}));
        QCOMPARE(w.mnuLockBit3->text(), QString("Program Lock bit &3"));
        QCOMPARE(w.mnuAllLockBits->text(), QString("Program &All lock bits"));
    }

    void progressBarShowsFractionsAndOddRanges()
    {
        ScaledProgressBar bar;
        bar.setMaximumValue(3.5);  // a 20-byte listing
        bar.setCurrentValue(3);
        QCOMPARE(bar.maximumValue(), 3.5);
        QCOMPARE(bar.maximum(), 28);
        QCOMPARE(bar.value(), 24);
        // An empty image: the maximum is below the minimum of 1; the bar stays empty.
        bar.setMaximumValue(0);
        bar.setCurrentValue(1);
        QVERIFY(bar.maximum() > bar.minimum());
        QCOMPARE(bar.value(), bar.minimum());
        // An image grown since it was listed: past the maximum the bar is full, not stuck.
        bar.setMaximumValue(100);
        bar.setCurrentValue(150);
        QCOMPARE(bar.value(), bar.maximum());
        QCOMPARE(bar.currentValue(), 150.0);
    }

    void signatureText_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        QTest::newRow("89C52") << QByteArray::fromHex("1E52FF") << "1E 52 FF";
        QTest::newRow("no leading zeros") << QByteArray::fromHex("1E5105") << "1E 51 5";
        QTest::newRow("zero byte") << QByteArray::fromHex("00520F") << "0 52 F";
        QTest::newRow("four: first, third, fourth") << QByteArray::fromHex("1E9952FF") << "1E 52 FF";
        QTest::newRow("two unconverted") << QByteArray("AB") << "AB";
        QTest::newRow("nothing") << QByteArray() << "";
    }
    void signatureText()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, text);
        QCOMPARE(::signatureText(reply), text);
    }

    void identifyWireAndOutcome_data()
    {
        QTest::addColumn<QString>("chip");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("is51");
        QTest::addColumn<bool>("is52");
        QTest::newRow("89c52") << "89c52" << "Device : Atmel 89C52 (Vpp=12V)" << false << true;
        QTest::newRow("89c51") << "89c51" << "Device : Atmel 89C51 (Vpp=12V)" << true << false;
    }
    void identifyWireAndOutcome()
    {
        QFETCH(QString, chip);
        QFETCH(QString, caption);
        QFETCH(bool, is51);
        QFETCH(bool, is52);
        Window t({2}, *BoardConfig::forChip(chip));
        Form1 &w = t.open();
        w.IdentifyDevice_Click();
        QList<QByteArray> expected{"Z"};
        for (int i = 0; i < 48; ++i)
            expected << "I";
        expected << "SISIS";
        QCOMPARE(t.rig.port->writes(), expected);
        QCOMPARE(w.Text4->text(), chip == "89c52" ? QString("1E 52 FF") : QString("1E 51 FF"));
        QCOMPARE(w.Label4->text(), caption);
        QCOMPARE(w.AT89C51, is51);
        QCOMPARE(w.AT89C52, is52);
        QVERIFY(groupEnabled(w));
        QVERIFY(t.prompts.shown.isEmpty());
        QVERIFY(w.Ready);
        QCOMPARE(w.chipSize(), is52 ? 8192 : 4096);
    }

    void failedIdentifyDisablesGroupAgain()
    {
        Window t({2});
        Form1 &w = t.open();
        w.mnuIdentifyDevice->trigger();  // the menu item is the same command
        QVERIFY(groupEnabled(w) && w.AT89C52);
        // The chip is pulled: the board reads a signature of FF.
        BoardConfig none = *BoardConfig::forChip("none");
        *t.rig.boards.value("/dev/ttyS1") = BoardEngine(none);
        w.IdentifyDevice_Click();
        QCOMPARE(w.Text4->text(), QString("FF FF FF"));
        QCOMPARE(w.Label4->text(), QString("Device : [unknown]"));
        QVERIFY(!w.AT89C51 && !w.AT89C52);
        QVERIFY(!groupEnabled(w));
        QCOMPARE(t.prompts.shown.size(), 1);
        const ShownMessage m = t.prompts.shown.first();
        QCOMPARE(m.title, QString("Identification"));
        QCOMPARE(m.text, QString("Device not present or defective."));
        QCOMPARE(m.icon, Prompter::Critical);
        QCOMPARE(m.buttons, Prompter::OkOnly);
    }

    void silentBoardEndsWithinTheLimit()
    {
        BoardConfig silent;
        silent.silentAfter = 0;
        Window t({2}, silent);
        Form1 &w = t.open();
        QElapsedTimer clock;
        clock.start();
        w.IdentifyDevice_Click();
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 1600, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(w.Text4->text(), QString());
        QCOMPARE(t.prompts.texts(), QStringList{"Device not present or defective."});
        QVERIFY(w.Ready);
    }

    void secondClickDuringWaitDoesNothing()
    {
        BoardConfig paced = *BoardConfig::forChip("89c52");
        paced.paced = true;  // 54 bytes at 9600 baud: the window waits about 60 ms
        Window t({2}, paced);
        Form1 &w = t.open();
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
        QCOMPARE(t.rig.port->writes().size(), 50);
        QCOMPARE(t.board(2).receivedLog().size(), 54);
        QVERIFY(t.prompts.openDialogs.isEmpty());
        QCOMPARE(checks(w), (QList<bool>{false, true, false, false}));
        QCOMPARE(t.rig.opened, QStringList{"/dev/ttyS1"});
        QCOMPARE(w.Text4->text(), QString("1E 52 FF"));
    }

    void startupPort_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("checked");  // 0: none
        QTest::newRow("nothing stored") << QVariant() << "/dev/ttyS1" << 2;
        QTest::newRow("3") << QVariant("3") << "/dev/ttyS2" << 3;
        QTest::newRow("5: no item, port 5") << QVariant("5") << "/dev/ttyS4" << 0;
        QTest::newRow("' 3': a number, no item") << QVariant(" 3") << "/dev/ttyS2" << 0;
        QTest::newRow("abc: as nothing stored") << QVariant("abc") << "/dev/ttyS1" << 2;
        QTest::newRow("empty") << QVariant("") << "/dev/ttyS1" << 2;
        QTest::newRow("-1") << QVariant("-1") << "/dev/ttyS1" << 2;
        QTest::newRow("99999") << QVariant("99999") << "/dev/ttyS1" << 2;
    }
    void startupPort()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, device);
        QFETCH(int, checked);
        if (stored.isValid())
            settings()->setValue("Parameters/CommPort", stored);
        Window t;
        Form1 &w = t.open();
        QCOMPARE(t.rig.opened, QStringList{device});
        QList<bool> expect{false, false, false, false};
        if (checked)
            expect[checked - 1] = true;
        QCOMPARE(checks(w), expect);
        QVERIFY(w.Ready && w.MSComm1.isOpen());
        QVERIFY(w.startupProblem().isEmpty());
    }

    void startupWithMissingPortTellsOnceAndIdentifyFails()
    {
        Window t({1});
        Form1 &w = t.open();
        QVERIFY(!w.MSComm1.isOpen());
        QVERIFY(w.startupProblem().contains("/dev/ttyS1"));
        w.tellStartupProblem();
        w.tellStartupProblem();
        QCOMPARE(t.prompts.shown.size(), 1);
        w.IdentifyDevice_Click();
        QCOMPARE(t.prompts.shown.last().text, QString("Device not present or defective."));
        QVERIFY(w.Ready && !groupEnabled(w));
    }

    void portSwitch()
    {
        Window t({2, 3});
        Form1 &w = t.open();
        w.mnuCom3->trigger();
        QCOMPARE(w.MSComm1.portNumber(), 3);
        QVERIFY(w.MSComm1.isOpen());
        QCOMPARE(checks(w), (QList<bool>{false, false, true, false}));
        // The same port again: closed and reopened, the mark stays.
        w.mnuCom3->trigger();
        QCOMPARE(t.rig.opened, (QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS2"}));
        QCOMPARE(checks(w), (QList<bool>{false, false, true, false}));
        // A port that does not exist: silently back on Com3.
        w.mnuCom4->trigger();
        QCOMPARE(w.MSComm1.portNumber(), 3);
        QVERIFY(w.MSComm1.isOpen());
        QCOMPARE(checks(w), (QList<bool>{false, false, true, false}));
        QVERIFY(t.prompts.shown.isEmpty());
        QVERIFY(!settings()->contains("Parameters/CommPort"));  // written only at shut-down
    }

    void failedSwitchWithoutFallbackIsTold()
    {
        Window t({2});
        Form1 &w = t.open();
        t.rig.boards.remove("/dev/ttyS1");  // the adapter is gone
        w.mnuCom4->trigger();
        QVERIFY(!w.MSComm1.isOpen());
        QCOMPARE(t.prompts.shown.size(), 1);
        QVERIFY(t.prompts.shown.first().text.contains("no serial port is open"));
        QCOMPARE(checks(w), (QList<bool>{false, true, false, false}));
    }

    void shutDownSavesPortAndDeletesFiles()
    {
        Window t({2, 3});
        Form1 &w = t.open();
        w.mnuCom3->trigger();
        QFile(w.work().bufferPath()).open(QIODevice::WriteOnly);
        QFile(w.work().listingPath()).open(QIODevice::WriteOnly);
        QVERIFY(w.close());
        QCOMPARE(settings()->value("Parameters/CommPort").toString(), QString("3"));
        QVERIFY(!QFile::exists(w.work().bufferPath()));
        QVERIFY(!QFile::exists(w.work().listingPath()));
        QVERIFY(!w.MSComm1.isOpen());
        // The next start opens Com3 with its mark.
        Window again({2, 3});
        Form1 &w2 = again.open();
        QCOMPARE(again.rig.opened, QStringList{"/dev/ttyS2"});
        QCOMPARE(checks(w2), (QList<bool>{false, false, true, false}));
    }

    void exitDoesNeither()
    {
        settings()->setValue("Parameters/CommPort", "2");
        Window t({2, 3});
        Form1 &w = t.open();
        w.mnuCom3->trigger();
        QFile(w.work().bufferPath()).open(QIODevice::WriteOnly);
        QFile(w.work().listingPath()).open(QIODevice::WriteOnly);
        w.mnuExit->trigger();
        QCOMPARE(t.exits, 1);
        QVERIFY(w.close());  // the window goes with the program, without the shut-down
        QCOMPARE(settings()->value("Parameters/CommPort").toString(), QString("2"));
        QVERIFY(QFile::exists(w.work().bufferPath()));
        QVERIFY(QFile::exists(w.work().listingPath()));
    }

    void closingDuringIdentifyEndsItFirst()
    {
        BoardConfig silent;
        silent.silentAfter = 0;
        Window t({2}, silent);
        Form1 &w = t.open();
        w.show();
        QTimer::singleShot(100, &w, [&] { QVERIFY(!w.close()); });
        QElapsedTimer clock;
        clock.start();
        w.IdentifyDevice_Click();
        QVERIFY(clock.elapsed() < 800);  // the wait ended at once, not at its limit
        QVERIFY(t.prompts.shown.isEmpty());  // no message while the window closes
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(settings()->value("Parameters/CommPort").toString(), QString("2"));
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
