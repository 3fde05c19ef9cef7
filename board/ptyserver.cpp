// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminal front of the board emulator: bytes the host writes to the slave side are
// read from the master and handed to the engine; replies go back as they come due.
#include "ptyserver.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#endif

namespace {
QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}
}  // namespace

PtyServer::PtyServer(std::shared_ptr<BoardEngine> engine, QObject *parent)
    : QObject(parent), m_engine(std::move(engine))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PtyServer::pump);
#ifdef Q_OS_LINUX
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd >= 0) {
        m_timerNotifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
        connect(m_timerNotifier, &QSocketNotifier::activated, this, [this] {
            quint64 expirations = 0;
            [[maybe_unused]] ssize_t n = ::read(m_timerFd, &expirations, sizeof expirations);
            pump();
        });
    }
#endif
}

PtyServer::~PtyServer()
{
    stop();
    delete m_timerNotifier;
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

void PtyServer::stopTimer()
{
    m_timer.stop();
#ifdef Q_OS_LINUX
    if (m_timerFd >= 0) {
        const itimerspec off{};
        ::timerfd_settime(m_timerFd, 0, &off, nullptr);
    }
#endif
}

Status PtyServer::start(const QString &linkPath)
{
    if (isServing())
        return Failure{tr("the emulated board is already being served on %1").arg(path())};

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return Failure{tr("no pseudo-terminal could be opened (%1)").arg(systemError("posix_openpt"))};
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const QString why = systemError("grantpt/unlockpt");
        ::close(master);
        return Failure{tr("the pseudo-terminal could not be prepared (%1)").arg(why)};
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const QString why = systemError(name);
        ::close(master);
        return Failure{tr("the pseudo-terminal's device could not be opened (%1)").arg(why)};
    }
    // Raw from the start: with the default line discipline a byte sent before the host
    // opens the port (the stray-byte fault) would be echoed back to us as a command, and
    // CR/LF translation would change data bytes.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_vanishing = false;
    m_pending.clear();
    m_clock.start();

    if (!linkPath.isEmpty()) {
        if (Status s = makeLink(linkPath); !s) {
            stop();
            return s;
        }
    }

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyServer::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyServer::onWritable);

    // Nothing goes out before the host's first byte: a program clears what waited on the line
    // when it opened the port, so a stray byte (BoardConfig::strayByte) comes with the first
    // command instead.
    return {};
}

void PtyServer::stop()
{
    stopTimer();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    // The master first: that hangs up the slave side for a host that still has it open.
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    removeLink();
    m_pending.clear();
}

Status PtyServer::makeLink(const QString &linkPath)
{
    const QString target = QFileInfo(linkPath).absoluteFilePath();
    const QByteArray where = QFile::encodeName(target);
    struct stat st {};
    if (::lstat(where.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
        return Failure{tr("%1 exists and is not a symbolic link; it is left alone").arg(target)};
    // Made beside the target and renamed over it, so the path never points nowhere.
    const QByteArray temp = where + ".new." + QByteArray::number(::getpid());
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(m_slavePath).constData(), temp.constData()) != 0)
        return Failure{tr("the link %1 could not be made (%2)").arg(target, systemError("symlink"))};
    if (::rename(temp.constData(), where.constData()) != 0) {
        const QString why = systemError("rename");
        ::unlink(temp.constData());
        return Failure{tr("the link %1 could not be made (%2)").arg(target, why)};
    }
    m_linkPath = target;
    return {};
}

void PtyServer::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    // Only our own link: another emulator may have taken the name over since.
    if (QFileInfo(m_linkPath).isSymLink() && QFile::symLinkTarget(m_linkPath) == m_slavePath)
        QFile::remove(m_linkPath);
    m_linkPath.clear();
}

void PtyServer::onReadable()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            const QByteArray bytes(buf, int(n));
            emit received(bytes);
            m_engine->receive(bytes, m_clock.nsecsElapsed());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: no slave open at all. We hold one, so this is unexpected; pause the
            // notifier rather than spin on it.
            m_readNotifier->setEnabled(false);
            QTimer::singleShot(20, this, [this] {
                if (m_readNotifier)
                    m_readNotifier->setEnabled(true);
            });
        }
        break;
    }
    pump();
}

void PtyServer::onWritable()
{
    flushOut();
    if (m_pending.isEmpty())
        pump();
}

void PtyServer::flushOut()
{
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;  // full (the host is not reading): wait until the pseudo-terminal takes more
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void PtyServer::pump()
{
    if (!isServing())
        return;
    m_pending.append(m_engine->takeDue(m_clock.nsecsElapsed()));
    flushOut();
    if (m_engine->vanished() && m_engine->nextEventNs() < 0) {
        if (!m_vanishing) {
            m_vanishing = true;
            stopTimer();
            QTimer::singleShot(vanishGraceMs, this, [this] {
                m_vanishing = false;
                if (!isServing() || !m_engine->vanished())
                    return;  // stopped already, or healed meanwhile
                stop();
                emit vanished();
            });
        }
        return;
    }
    scheduleNext();
}

void PtyServer::scheduleNext()
{
    const qint64 next = m_engine->nextEventNs();
    if (next < 0) {
        stopTimer();
        return;
    }
    const qint64 waitNs = std::max<qint64>(0, next - m_clock.nsecsElapsed());
#ifdef Q_OS_LINUX
    if (m_timerFd >= 0) {
        itimerspec at{};
        const qint64 ns = std::max<qint64>(1, waitNs);  // zero would switch the timer off
        at.it_value.tv_sec = time_t(ns / 1000000000);
        at.it_value.tv_nsec = long(ns % 1000000000);
        ::timerfd_settime(m_timerFd, 0, &at, nullptr);
        return;
    }
#endif
    // Rounded up: a reply never leaves before its time.
    m_timer.start(int((waitNs + 999999) / 1000000));
}
