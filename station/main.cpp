// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-station: the production station window, a tile per board, over the production line.
#include "stationwindow.h"
#include "version.h"
#include "windowstyle.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("voralith-station"));
    QApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.voralith.Station"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Programs a lot of AT89C51/AT89C52 chips on several programmer boards at once, a tile per board.\n"
        "JOB is a job file (the image, its crc32, the chip, the serial numbers, the log, the lot's size);\n"
        "it writes the same log and takes the same serial numbers as voralith-cli --job JOB program.\n"
        "The sites are the --port options, else the ports [Ports] of the settings file maps, else the\n"
        "job's port. Space or Enter starts a round on every site, Escape stops every site."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption port(QStringLiteral("port"),
                            QStringLiteral("A board's device, or ComN as the settings map it; once for each site."),
                            QStringLiteral("DEVICE"));
    parser.addOption(port);
    // For the benchmark and the screenshot: this many rounds, one after another, then the
    // program ends with the lot's status (or, with --stay, stays).
    QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Runs N rounds, then exits."), QStringLiteral("N"));
    rounds.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(rounds);
    QCommandLineOption stay(QStringLiteral("stay"), QStringLiteral("With --rounds: the window stays open after them."));
    stay.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(stay);
    parser.addPositionalArgument(QStringLiteral("JOB"), QStringLiteral("The job to open."), QStringLiteral("[JOB]"));

    // --help and --version answer without a display (the manual page is made from them).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments) && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
                                     parser.isSet(QStringLiteral("version")))) {
        QCoreApplication core(argc, argv);
        parser.process(core);
    }

    QApplication app(argc, argv);
    setUpLook(app);
    QApplication::setWindowIcon(voralithIcon());
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "voralith-station: one job at most (see voralith-station --help).\n");
        return 2;
    }

    StationWindow::Deps deps;
    deps.ports = parser.values(port);
    if (parser.isSet(rounds)) {
        bool ok = false;
        deps.rounds = parser.value(rounds).toInt(&ok);
        if (!ok || deps.rounds < 1) {
            std::fprintf(stderr, "voralith-station: --rounds takes a whole number from 1 up.\n");
            return 2;
        }
    }
    StationWindow window(std::move(deps));
    if (parser.isSet(rounds) && !parser.isSet(stay))
        // A run without an operator ends with the lot's status, and says why when it was refused.
        window.setFinished([&window](int status) {
            if (status == 2 && !window.messageLabel()->text().isEmpty())
                std::fprintf(stderr, "voralith-station: %s\n", qPrintable(window.messageLabel()->text()));
            QCoreApplication::exit(status);
        });
    if (!parser.positionalArguments().isEmpty())
        window.openJob(parser.positionalArguments().constFirst());
    window.show();
    return app.exec();
}
