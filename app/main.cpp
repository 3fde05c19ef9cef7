// SPDX-License-Identifier: GPL-3.0-or-later
// Voralith: programs AT89C51/AT89C52 flash microcontrollers through the programmer board.
#include "fontwarmup.h"
#include "form1.h"
#include "portmap.h"
#include "version.h"
#include "windowstyle.h"
#include "wording.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral(VORALITH_TITLE));
    QApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral(VORALITH_APP_ID));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Programs AT89C51/AT89C52 flash microcontrollers."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption com(QStringLiteral("com"),
                           QStringLiteral("Maps port N (Com N) to DEVICE for this run only, e.g. --com 2=/dev/ttyUSB0. "
                                          "May be given more than once; nothing is saved."),
                           QStringLiteral("N=DEVICE"));
    parser.addOption(com);

    // --help and --version answer without a display (the manual page is made from them on a
    // build machine); anything else, Qt's own options included, is parsed once the window's
    // application exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments) && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
                                     || parser.isSet(QStringLiteral("version")))) {
        QCoreApplication core(argc, argv);
        parser.process(core);
    }

    FontWarmUp fonts;
    QApplication app(argc, argv);
    setUpLook(app);
    QApplication::setWindowIcon(voralithIcon());
    parser.process(app);

    Form1::Deps deps;
    for (const QString &m : parser.values(com)) {
        const PortRequest r = parsePortOption(PortOption::WindowCom, m);
        if (r.refused()) {
            std::fprintf(stderr, "%s\n", qPrintable(wording::portRefusal(r)));
            return 2;
        }
        deps.portsForThisRun.append({r.number, r.device});
    }

    auto work = WorkFolder::acquire();
    if (!work) {
        QMessageBox::critical(nullptr, QStringLiteral(VORALITH_TITLE), work.message());
        return 1;
    }
    deps.work = work.value();

    fonts.wait();
    Form1 window(std::move(deps));
    window.show();
    QTimer::singleShot(0, &window, &Form1::tellStartupProblem);
    return app.exec();
}
