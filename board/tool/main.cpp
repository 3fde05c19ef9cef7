// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-board: the programmer board emulator on a pseudo-terminal, for trying the
// program without hardware. Prints the device path once it answers; runs until signalled.
#include "engine.h"
#include "ptyserver.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const char c = char(sig);
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
    errno = saved;
}

void fail(const QString &text)
{
    std::fprintf(stderr, "voralith-board: %s\n", qPrintable(text));
}

bool parseCount(const QString &text, int min, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < min)
        return false;
    *out = v;
    return true;
}

bool parseHex(const QString &text, int max, int *out)
{
    static const QRegularExpression hex(QStringLiteral("^(?:0[xX])?([0-9A-Fa-f]{1,8})[hH]?$"));
    const auto m = hex.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const qint64 v = m.captured(1).toLongLong(nullptr, 16);
    if (v > max)
        return false;
    *out = int(v);
    return true;
}

// The chip in the socket, as --chip names it.
bool readChip(const QCommandLineParser &p, BoardConfig *cfg)
{
    const QString chip = p.value(QStringLiteral("chip"));
    auto preset = BoardConfig::forChip(chip);
    if (!preset) {
        fail(QStringLiteral("--chip takes 89c51, 89c52 or none, not \"%1\"").arg(chip));
        return false;
    }
    *cfg = *preset;
    return true;
}

// --signature and --size change the chip, so an empty socket takes neither.
bool readSignatureAndSize(const QCommandLineParser &p, BoardConfig *cfg)
{
    const bool noChip = cfg->signature.isEmpty();
    if (p.isSet(QStringLiteral("signature"))) {
        QString hex = p.value(QStringLiteral("signature"));
        hex.remove(QRegularExpression(QStringLiteral("[\\s:]")));
        if (noChip || !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]{6}$")).match(hex).hasMatch()) {
            fail(noChip ? QStringLiteral("--signature needs a chip; --chip none has none")
                        : QStringLiteral("--signature takes three bytes in hex, e.g. 1E52FF"));
            return false;
        }
        cfg->signature = QByteArray::fromHex(hex.toLatin1());
    }
    if (p.isSet(QStringLiteral("size"))) {
        if (noChip || !parseCount(p.value(QStringLiteral("size")), 1, &cfg->size) || cfg->size > 65536) {
            fail(noChip ? QStringLiteral("--size needs a chip; --chip none has none")
                        : QStringLiteral("--size takes a flash size in bytes from 1 to 65536"));
            return false;
        }
    }
    return true;
}

bool readImage(const QCommandLineParser &p, BoardConfig *cfg)
{
    if (!p.isSet(QStringLiteral("image")))
        return true;
    const QString name = p.value(QStringLiteral("image"));
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("the image %1 cannot be read: %2").arg(name, f.errorString()));
        return false;
    }
    cfg->image = f.readAll();
    if (cfg->image.size() > cfg->size) {
        fail(QStringLiteral("the image %1 holds %2 bytes, more than the chip's %3")
                 .arg(name)
                 .arg(cfg->image.size())
                 .arg(cfg->size));
        return false;
    }
    return true;
}

// The faults counted in replies, and --late.
bool readCounts(const QCommandLineParser &p, BoardConfig *cfg)
{
    struct Count {
        const char *name;
        int min;
        int *field;
    };
    for (const Count &c : {Count{"silent-after", 0, &cfg->silentAfter}, Count{"double-reply", 1, &cfg->doubleReply},
                           Count{"drop-reply", 1, &cfg->dropReply}, Count{"vanish-after", 0, &cfg->vanishAfter},
                           Count{"stray-after", 1, &cfg->strayAfter}, Count{"late", 0, &cfg->lateMs}}) {
        const QString opt = QString::fromLatin1(c.name);
        if (p.isSet(opt) && !parseCount(p.value(opt), c.min, c.field)) {
            fail(QStringLiteral("--%1 takes a whole number from %2 up, not \"%3\"").arg(opt).arg(c.min).arg(p.value(opt)));
            return false;
        }
    }
    return true;
}

// The faults given as a byte, an address or a pair; --wrong-byte after the size is known.
bool readFaultValues(const QCommandLineParser &p, BoardConfig *cfg)
{
    if (p.isSet(QStringLiteral("stray-byte")) && !parseHex(p.value(QStringLiteral("stray-byte")), 0xFF, &cfg->strayByte)) {
        fail(QStringLiteral("--stray-byte takes one byte in hex, e.g. 55"));
        return false;
    }
    if (p.isSet(QStringLiteral("wrong-byte"))) {
        const QStringList parts = p.value(QStringLiteral("wrong-byte")).split(QLatin1Char('='));
        int value = 0;
        if (parts.size() != 2 || !parseHex(parts[0], 0xFFFF, &cfg->wrongAddress) || !parseHex(parts[1], 0xFF, &value)) {
            fail(QStringLiteral("--wrong-byte takes ADDRESS=VALUE in hex, e.g. 1A2=00"));
            return false;
        }
        if (cfg->wrongAddress >= cfg->size) {
            fail(QStringLiteral("--wrong-byte: address %1h is beyond the chip's %2 bytes")
                     .arg(QString::number(cfg->wrongAddress, 16).toUpper())
                     .arg(cfg->size));
            return false;
        }
        cfg->wrongValue = quint8(value);
    }
    if (p.isSet(QStringLiteral("slow-reply"))) {
        const QStringList parts = p.value(QStringLiteral("slow-reply")).split(QLatin1Char('='));
        if (parts.size() != 2 || !parseCount(parts[0], 1, &cfg->slowReply) || !parseCount(parts[1], 0, &cfg->slowMs)) {
            fail(QStringLiteral("--slow-reply takes N=MS, e.g. 100=250"));
            return false;
        }
    }
    return true;
}

// Options to a board configuration; false (with the reason told) on anything malformed.
bool configure(const QCommandLineParser &p, BoardConfig *cfg)
{
    if (!readChip(p, cfg) || !readSignatureAndSize(p, cfg) || !readImage(p, cfg))
        return false;
    cfg->paced = p.isSet(QStringLiteral("paced"));
    cfg->programmingTime = p.isSet(QStringLiteral("programming-time"));
    return readCounts(p, cfg) && readFaultValues(p, cfg);
}

bool saveMemory(const QString &name, const QByteArray &memory)
{
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly) || f.write(memory) != memory.size() || !f.commit()) {
        fail(QStringLiteral("the memory could not be saved to %1: %2").arg(name, f.errorString()));
        return false;
    }
    return true;
}

void describeOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Emulates the programmer board on a pseudo-terminal. Prints the device path on stdout once the board "
        "answers, then runs until SIGTERM or SIGINT (Ctrl+C).\n"
        "Counts are of replies (bytes the board sends for R, S and W), from 1. SIGUSR1 ends the injected faults "
        "(a vanished device is served again) and prints \"healed\"."));
    p.addHelpOption();
    p.addVersionOption();
    p.addOptions({
        {QStringLiteral("chip"), QStringLiteral("Chip in the socket: 89c51, 89c52 or none (default 89c52, erased)."),
         QStringLiteral("CHIP"), QStringLiteral("89c52")},
        {QStringLiteral("signature"), QStringLiteral("Signature bytes at 30h..32h, three bytes in hex (e.g. 1E52FF)."),
         QStringLiteral("HEX")},
        {QStringLiteral("size"), QStringLiteral("Flash size in bytes."), QStringLiteral("N")},
        {QStringLiteral("image"), QStringLiteral("Initial flash content from address 0; the rest is erased."),
         QStringLiteral("FILE")},
        {QStringLiteral("paced"), QStringLiteral("Take the time of a 9600-baud line: about 1.04 ms per byte each way.")},
        {QStringLiteral("programming-time"),
         QStringLiteral("Take real programming and erase times; later commands wait until they are done.")},
        {QStringLiteral("silent-after"), QStringLiteral("Send N replies, then nothing (0: silent from the start)."),
         QStringLiteral("N")},
        {QStringLiteral("stray-byte"), QStringLiteral("One unasked byte, sent as the first command comes in."),
         QStringLiteral("HEX")},
        {QStringLiteral("stray-after"), QStringLiteral("One unasked byte (55h) follows reply N on the line."),
         QStringLiteral("N")},
        {QStringLiteral("double-reply"), QStringLiteral("Send reply N twice."), QStringLiteral("N")},
        {QStringLiteral("late"),
         QStringLiteral("The unasked byte of --stray-after and the second copy of --double-reply follow their "
                        "reply MS milliseconds late (default 0: together)."),
         QStringLiteral("MS")},
        {QStringLiteral("slow-reply"), QStringLiteral("Reply N leaves MS milliseconds late; later ones follow it."),
         QStringLiteral("N=MS")},
        {QStringLiteral("drop-reply"), QStringLiteral("Never send reply N."), QStringLiteral("N")},
        {QStringLiteral("wrong-byte"), QStringLiteral("Reads and read-backs at ADDR give VALUE (both hex)."),
         QStringLiteral("ADDR=VALUE")},
        {QStringLiteral("vanish-after"),
         QStringLiteral("The device disappears after N replies (0: at the first byte received)."),
         QStringLiteral("N")},
        {QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the device (replaced if it is one); "
                                                "printed instead of the device and removed on exit."),
         QStringLiteral("PATH")},
        {QStringLiteral("log"), QStringLiteral("Write every byte received to FILE, raw."), QStringLiteral("FILE")},
        {QStringLiteral("save"), QStringLiteral("Write the flash memory to FILE on exit."), QStringLiteral("FILE")},
        {QStringLiteral("strict"), QStringLiteral("Exit with status 3 when any byte received was no command of the "
                                                  "board (they are always listed on exit).")},
    });
}

// The command line to a board configuration; false (with the reason told) when it is no good.
// --help and --version end the program here.
bool readArguments(const QCoreApplication &app, QCommandLineParser &p, BoardConfig *cfg)
{
    describeOptions(p);
    if (!p.parse(app.arguments())) {
        fail(p.errorText());
        return false;
    }
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(0);
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();
    if (!p.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(p.positionalArguments().first()));
        return false;
    }
    return configure(p, cfg);
}

// Signals arrive through a pipe so the exit runs in the event loop, not in a handler.
bool catchSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        fail(QStringLiteral("no signal pipe"));
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// --log: the file every received byte goes to, or none when it cannot be written.
std::unique_ptr<QFile> openLog(const QString &name)
{
    auto log = std::make_unique<QFile>(name);
    if (!log->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(QStringLiteral("the log %1 cannot be written: %2").arg(log->fileName(), log->errorString()));
        return nullptr;
    }
    return log;
}

// The board served on its device from start() until a signal other than SIGUSR1 quits the
// event loop; finish() then tells how the run ended.
class Service {
public:
    Service(const BoardConfig &cfg, std::unique_ptr<QFile> log, const QString &link)
        : m_log(std::move(log)), m_engine(std::make_shared<BoardEngine>(cfg)), m_server(m_engine),
          m_signalNotifier(signalPipe[0], QSocketNotifier::Read), m_link(link)
    {
        if (m_log)
            QObject::connect(&m_server, &PtyServer::received, &m_server,
                             [this](const QByteArray &bytes) { m_log->write(bytes); });
        QObject::connect(&m_server, &PtyServer::vanished, &m_server,
                         [] { fail(QStringLiteral("the device has vanished, as asked (--vanish-after)")); });
        m_idle.setInterval(5);
        QObject::connect(&m_idle, &QTimer::timeout, &m_idle, [this] { tellWhenHealed(); });
        QObject::connect(&m_signalNotifier, &QSocketNotifier::activated, &m_signalNotifier,
                         [this] { takeSignals(); });
    }

    bool start()
    {
        if (Status s = m_server.start(m_link); !s) {
            fail(s.message());
            return false;
        }
        // Only now: a command sent before the board is served would be lost.
        std::printf("%s\n", qPrintable(m_server.path()));
        std::fflush(stdout);
        return true;
    }

    // The exit status: 1 when --save failed, 3 under --strict when the host sent what is no command.
    int finish(const QCommandLineParser &p)
    {
        m_server.stop();
        if (p.isSet(QStringLiteral("save")) && !saveMemory(p.value(QStringLiteral("save")), m_engine->memory()))
            return 1;
        // A host that sends a byte the board does not know has a fault of its own: say so.
        const QByteArray &unexpected = m_engine->unexpected();
        if (!unexpected.isEmpty()) {
            fail(QStringLiteral("%1 byte(s) received that are no command of the board: %2")
                     .arg(unexpected.size())
                     .arg(QString::fromLatin1(unexpected.left(64).toHex(' ').toUpper())));
            if (p.isSet(QStringLiteral("strict")))
                return 3;
        }
        return 0;
    }

private:
    // SIGUSR1 ends the faults, as if the board were plugged back in; "healed" tells when,
    // once what was on its way has been sent.
    void takeSignals()
    {
        char c;
        bool quit = false;
        while (::read(signalPipe[0], &c, 1) > 0) {
            if (c != SIGUSR1) {
                quit = true;
                continue;
            }
            m_engine->heal();
            if (!m_server.isServing() && !m_server.start(m_link))
                quit = true;
            m_idle.start();
        }
        if (quit)
            QCoreApplication::quit();
    }

    void tellWhenHealed()
    {
        if (m_engine->nextEventNs() >= 0)
            return;
        m_idle.stop();
        std::printf("healed\n");
        std::fflush(stdout);
    }

    std::unique_ptr<QFile> m_log;
    std::shared_ptr<BoardEngine> m_engine;
    PtyServer m_server;
    QTimer m_idle;
    QSocketNotifier m_signalNotifier;
    QString m_link;
};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("voralith-board"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORALITH_VERSION_STRING));

    QCommandLineParser p;
    BoardConfig cfg;
    if (!readArguments(app, p, &cfg))
        return 2;
    if (!catchSignals())
        return 1;
    std::unique_ptr<QFile> log;
    if (p.isSet(QStringLiteral("log")) && !(log = openLog(p.value(QStringLiteral("log")))))
        return 1;
    Service service(cfg, std::move(log), p.value(QStringLiteral("link")));
    if (!service.start())
        return 1;
    app.exec();
    return service.finish(p);
}
