// voralith-cli: the device commands from a shell or a script, over the same core as the
// window. Parses its arguments, calls the operations, prints what they found.
#include "identify.h"
#include "image.h"
#include "operations.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {
enum Exit { Done = 0, Failed = 1, Usage = 2 };

int fail(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return Failed;
}

// A bar on the terminal (only when stderr is one).
Progress terminalBar(const char *what)
{
    auto max = std::make_shared<double>(1);
    const bool tty = isatty(2);
    return Progress{[max](double m) { *max = m; },
                    [max, what, tty](double v) {
                        if (!tty)
                            return;
                        const int pct = *max > 1 ? int(100 * v / *max) : 100;
                        static int shown = -1;
                        if (pct == shown)
                            return;
                        shown = pct;
                        std::fprintf(stderr, "\r%s %3d%%", what, pct);
                        if (pct >= 100)
                            std::fprintf(stderr, "\n");
                    }};
}

bool confirm(const QString &question, bool yes)
{
    if (yes)
        return true;
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("voralith-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Drives the programmer board from the command line.\n\nCommands:\n"
        "  identify        read the signature and name the chip\n"
        "  blank           check that the chip is erased\n"
        "  read FILE       read the whole chip into FILE\n"
        "  write FILE      program FILE into the chip (it is not erased first)\n"
        "  verify FILE     compare the chip with FILE\n"
        "  erase           erase the chip\n"
        "  lock N          program lock bits 1 to N (1, 2 or 3)"));
    p.addHelpOption();
    p.addVersionOption();
    QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial device of the board."),
                            QStringLiteral("DEVICE"));
    QCommandLineOption com(QStringLiteral("com"), QStringLiteral("Port number, as in the window (default 2)."),
                           QStringLiteral("N"), QStringLiteral("2"));
    QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before changing the chip."));
    p.addOptions({port, com, yes});
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."));
    p.process(app);

    const QStringList args = p.positionalArguments();
    const QString cmd = args.value(0);
    static const QStringList withFile{"read", "write", "verify", "lock"};
    static const QStringList known{"identify", "blank", "read", "write", "verify", "erase", "lock"};
    if (!known.contains(cmd) || args.size() != (withFile.contains(cmd) ? 2 : 1)) {
        std::fprintf(stderr, "%s", qPrintable(p.helpText()));
        return Usage;
    }

    SerialLink link;
    bool ok = false;
    const int number = p.value(com).toInt(&ok);
    if (!ok || number < 1 || number > 255)
        return fail(QStringLiteral("--com takes a port number from 1 to 255."));
    link.setPortNumber(number);
    if (p.isSet(port))
        link.portMap().mapForThisRun(number, p.value(port));
    if (Status s = link.open(); !s)
        return fail(s.message());
    BoardCommands board(link);

    if (cmd == QLatin1String("erase")) {
        if (!confirm(QStringLiteral("Erase the chip ?"), p.isSet(yes)))
            return Failed;
        board.eraseChip();
        link.drain();
        return Done;
    }
    if (cmd == QLatin1String("lock")) {
        const int bits = args[1].toInt(&ok);
        if (!ok || bits < 1 || bits > 3)
            return fail(QStringLiteral("lock takes 1, 2 or 3."));
        if (!confirm(QStringLiteral("Program lock bits 1 to %1 ? The chip cannot be read back or reprogrammed "
                                    "until it is erased.")
                         .arg(bits),
                     p.isSet(yes)))
            return Failed;
        for (int i = 0; i < bits; ++i)
            board.programLockBit();
        link.drain();
        return Done;
    }

    const IdentifyOutcome id = identifyDevice(board);
    if (id.failure)
        return fail(id.failure->message);
    if (cmd == QLatin1String("identify")) {
        std::printf("%s\n%s\n", qPrintable(id.signature),
                    id.chip ? id.chip->caption : "Device not present or defective.");
        return id.chip ? Done : Failed;
    }
    if (!id.chip)
        return fail(QStringLiteral("Device not present or defective (signature \"%1\").").arg(id.signature));
    const int size = id.chip->size;

    if (cmd == QLatin1String("blank")) {
        auto r = blankCheck(board, size, terminalBar("Blank check"));
        if (!r)
            return fail(r.message());
        std::printf("%s\n", r.value() ? "Device is erased." : "Device contains data.");
        return r.value() ? Done : Failed;
    }
    if (cmd == QLatin1String("read")) {
        auto r = readDevice(board, size, terminalBar("Read"));
        if (!r)
            return fail(r.message());
        if (Status s = writeFileSafely(args[1], r.value()); !s)
            return fail(s.message());
        return Done;
    }

    const auto loaded = loadImage(args[1]);
    if (!loaded)
        return fail(loaded.failure().kind == Failure::TooLong && formatForName(args[1]) == ImageFormat::Binary
                        ? QStringLiteral("File is too long ( >8K ).")
                        : loaded.message());
    const QByteArray &image = loaded.value().bytes;

    if (cmd == QLatin1String("verify")) {
        Progress bar = terminalBar("Verify");
        bar.maximum(image.size() + 1);
        auto r = verifyDevice(board, image, bar);
        if (!r)
            return fail(r.message());
        if (const auto &d = r.value()) {
            std::printf("It isn't the same : %s h expexted %sh read %sh\n", qPrintable(hexNumber(d->address)),
                        qPrintable(hexNumber(d->expected)), qPrintable(hexNumber(d->read)));
            return Failed;
        }
        std::printf("Equal.\n");
        return Done;
    }
    // write
    if (!confirm(QStringLiteral("Are you sure ?"), p.isSet(yes)))
        return Failed;
    Progress bar = terminalBar("Write");
    bar.maximum(std::min<int>(image.size(), size));
    auto r = writeDevice(board, image, size, bar, [](const Mismatch &m) {
        std::fprintf(stderr, "Error in %sh : write %sh read %sh\n", qPrintable(hexNumber(m.address)),
                     qPrintable(hexNumber(m.written)), qPrintable(hexNumber(m.read)));
    });
    if (!r)
        return fail(r.message());
    std::printf("%s\n", r.value().mismatches ? "Some errors are occurred." : "Device was succesfully programmed.");
    return r.value().mismatches ? Failed : Done;
}
