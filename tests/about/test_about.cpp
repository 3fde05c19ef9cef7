// The About window offscreen: one window however often it is asked for, OK destroys it,
// its texts, and System Info with the tool's start and the message box replaced.
#include "frmabout.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {
QList<frmAbout *> aboutWindows()
{
    QList<frmAbout *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *a = qobject_cast<frmAbout *>(w); a && a->isVisible())
            out << a;
    return out;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct Told {
    QString title, text;
};
}  // namespace

class TestAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<QWidget> main;
    QStringList started;
    QList<Told> told;

private slots:
    void init()
    {
        main = std::make_unique<QWidget>();
        main->show();
        started.clear();
        told.clear();
        frmAbout::setDeps({});
    }
    void cleanup()
    {
        main.reset();  // takes any About window with it
        flushDeletes();
        QVERIFY(!frmAbout::openWindow());
    }

    void oneWindowHoweverOftenOpened()
    {
        frmAbout::showAbout(main.get());
        QPointer<frmAbout> first = frmAbout::openWindow();
        QVERIFY(first);
        for (int i = 0; i < 3; ++i)
            frmAbout::showAbout(main.get());
        QCOMPARE(frmAbout::openWindow(), first.data());
        QCOMPARE(aboutWindows().size(), 1);
        // The main window stays usable meanwhile.
        QVERIFY(!first->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(main->isEnabled());
    }

    // OK, Escape and the title bar's close all unload the window; the next About builds it afresh.
    void closingDestroys_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("OK") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close box") << 2;
    }
    void closingDestroys()
    {
        QFETCH(int, how);
        frmAbout::showAbout(main.get());
        QPointer<frmAbout> first = frmAbout::openWindow();
        first->lblDescription->setText(QStringLiteral("changed"));
        if (how == 0)
            QTest::mouseClick(first->cmdOK, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(first, Qt::Key_Escape);
        else
            first->close();
        QVERIFY(!frmAbout::openWindow());  // even before the deferred delete has run

        // Asked for again before the old one is gone: still a new window.
        frmAbout::showAbout(main.get());
        QPointer<frmAbout> second = frmAbout::openWindow();
        QVERIFY(second && second != first);
        flushDeletes();
        QVERIFY(!first);
        QVERIFY(second);
        QCOMPARE(second->lblDescription->text(), QStringLiteral("Voralith"));
        QCOMPARE(aboutWindows().size(), 1);
    }

    void textsAndSize()
    {
        frmAbout::showAbout(main.get());
        frmAbout *w = frmAbout::openWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("About Voralith"));
        QCOMPARE(w->lblTitle->text(), QStringLiteral("Voralith"));
        QCOMPARE(w->lblVersion->text(), QStringLiteral("Versione 1.0.5"));
        QCOMPARE(w->lblDescription->text(), QStringLiteral("Voralith"));
        QCOMPARE(w->lblDisclaimer->text(), QStringLiteral("Warning : use only AT89C5x with Vpp=12V !"));
        QVERIFY(!w->Label1->text().isEmpty());
        QCOMPARE(w->cmdOK->text(), QStringLiteral("OK"));
        QCOMPARE(w->cmdSysInfo->text(), QStringLiteral("&System Info..."));
        QVERIFY(w->lblTitle->font().bold());
        QCOMPARE(w->lblTitle->font().pointSizeF(), 13.5);
        QVERIFY(!w->picIcon->pixmap().isNull());

        QCOMPARE(w->size(), QSize(382, 219));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        // The etched separator: white under grey, at one height.
        QCOMPARE(w->Line1[0]->y(), w->Line1[1]->y());
        QCOMPARE(w->Line1[0]->height(), 2);
        QCOMPARE(w->Line1[1]->height(), 1);
        QCOMPARE(w->Line1[1]->palette().color(QPalette::Window), QColor(128, 128, 128));
    }

    void systemInfo_data()
    {
        QTest::addColumn<QString>("tool");  // null: none found
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QStringList>("expectStarted");
        QTest::addColumn<bool>("expectMessage");

        QTest::newRow("tool found and started") << "/usr/bin/gnome-system-monitor" << true
                                                << QStringList{"/usr/bin/gnome-system-monitor"} << false;
        QTest::newRow("start fails") << "C:\\gone\\msinfo32.exe" << false << QStringList{"C:\\gone\\msinfo32.exe"}
                                     << true;
        QTest::newRow("nothing found") << QString() << true << QStringList() << true;
    }
    void systemInfo()
    {
        QFETCH(QString, tool);
        QFETCH(bool, starts);
        QFETCH(QStringList, expectStarted);
        QFETCH(bool, expectMessage);

        frmAbout::Deps d;
        d.findTool = [tool]() -> std::optional<QString> {
            if (tool.isNull())
                return std::nullopt;
            return tool;
        };
        d.startTool = [this, starts](const QString &path) {
            started << path;
            return starts;
        };
        d.tell = [this](QWidget *, const QString &title, const QString &text) { told.append({title, text}); };
        frmAbout::setDeps(d);

        frmAbout::showAbout(main.get());
        frmAbout *w = frmAbout::openWindow();
        QTest::mouseClick(w->cmdSysInfo, Qt::LeftButton);
        QCOMPARE(started, expectStarted);
        QCOMPARE(told.size(), expectMessage ? 1 : 0);
        if (expectMessage) {
            QCOMPARE(told[0].title, QStringLiteral("Voralith"));
            QCOMPARE(told[0].text, QStringLiteral("Le informazioni sul sistema non sono disponibili in questa fase"));
        }
        // The About window stays open either way.
        QCOMPARE(frmAbout::openWindow(), w);
    }

};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
