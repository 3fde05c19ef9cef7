// SPDX-License-Identifier: GPL-3.0-or-later
// The About window offscreen, with System Info's tool start and message box replaced.
#include "frmabout.h"
#include "iconshape.h"
#include "windowstyle.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTest>

class TestAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<QWidget> main;

    frmAbout *show()
    {
        frmAbout::showAbout(main.get());
        return frmAbout::openWindow();
    }

private slots:
    void init()
    {
        main = std::make_unique<QWidget>();
        main->show();
        frmAbout::setDeps({});
    }
    void cleanup()
    {
        main.reset();  // takes any About window with it
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmAbout::openWindow());
    }

    // One window, not modal; System Info starts the tool or says it cannot; however it is
    // closed, the next About builds it afresh, even before the old one is deleted.
    void window_data()
    {
        QTest::addColumn<int>("how");       // closed by 0: OK, 1: Escape, 2: the close box
        QTest::addColumn<QString>("tool");  // null: none found
        QTest::addColumn<bool>("starts");
        QTest::newRow("tool started, OK") << 0 << "/usr/bin/gnome-system-monitor" << true;
        QTest::newRow("tool does not start, Escape") << 1 << "C:\\gone\\msinfo32.exe" << false;
        QTest::newRow("no tool, close box") << 2 << QString() << true;
    }
    void window()
    {
        QFETCH(int, how);
        QFETCH(QString, tool);
        QFETCH(bool, starts);
        QStringList started, told;
        frmAbout::Deps d;
        d.findTool = [tool]() { return tool.isNull() ? std::nullopt : std::optional<QString>(tool); };
        d.startTool = [&](const QString &path) { return started << path, starts; };
        d.tell = [&](QWidget *, const QString &title, const QString &text) { told << title << text; };
        frmAbout::setDeps(d);
        QPointer<frmAbout> first = show();
        QCOMPARE(first->windowTitle() + first->lblVersion->text(), QString("About VoralithVersione 1.0.5"));
        QVERIFY(!first->isModal() && !QApplication::activeModalWidget());
        QTest::mouseClick(first->cmdSysInfo, Qt::LeftButton);
        QCOMPARE(started, tool.isNull() ? QStringList() : QStringList{tool});
        const QStringList message{"Voralith", "Le informazioni sul sistema non sono disponibili in questa fase"};
        QCOMPARE(told, tool.isNull() || !starts ? message : QStringList());
        QCOMPARE(show(), first.data());
        first->lblDescription->setText("changed");
        if (how == 0)
            QTest::mouseClick(first->cmdOK, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(first, Qt::Key_Escape);
        else
            first->close();
        QPointer<frmAbout> second = show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first && second);
        QCOMPARE(second->lblDescription->text(), QString("Voralith"));
    }

    // The icon kept in the program is the one its shapes paint, at the sizes kept and at others.
    void icon_data()
    {
        QTest::addColumn<int>("side");
        for (int side : {16, 24, 32, 48, 64, 20, 128})
            QTest::addRow("%d", side) << side;
    }
    void icon()
    {
        QFETCH(int, side);
        QImage painted(side, side, QImage::Format_ARGB32_Premultiplied);
        painted.fill(Qt::transparent);
        QPainter p(&painted);
        paintIcon(p, side);
        p.end();
        const QImage shown = voralithIcon().pixmap(QSize(side, side)).toImage();
        QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied), painted);
        QVERIFY(painted.pixel(side / 2, side / 2) != 0);
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
