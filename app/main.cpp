// Voralith: programs AT89C51/AT89C52 flash microcontrollers through the programmer board.
#include "form1.h"
#include "frmabout.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(VORALITH_TITLE));
    QApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));
    QApplication::setWindowIcon(voralithIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Programs AT89C51/AT89C52 flash microcontrollers."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption com(QStringLiteral("com"),
                           QStringLiteral("Maps port N (Com N) to DEVICE for this run only, e.g. --com 2=/dev/ttyUSB0. "
                                          "May be given more than once; nothing is saved."),
                           QStringLiteral("N=DEVICE"));
    parser.addOption(com);
    parser.process(app);

    Form1::Deps deps;
    for (const QString &m : parser.values(com)) {
        int number = 0;
        QString device;
        if (!parsePortMapping(m, &number, &device)) {
            std::fprintf(stderr, "voralith: --com takes N=DEVICE (N from 1 to 255), not \"%s\"\n", qPrintable(m));
            return 2;
        }
        deps.portsForThisRun.append({number, device});
    }

    auto work = WorkFolder::acquire();
    if (!work) {
        QMessageBox::critical(nullptr, QStringLiteral(VORALITH_TITLE), work.message());
        return 1;
    }
    deps.work = work.value();

    Form1 window(std::move(deps));
    window.show();
    QTimer::singleShot(0, &window, &Form1::tellStartupProblem);
    return app.exec();
}
