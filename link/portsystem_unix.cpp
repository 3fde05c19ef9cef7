// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port's system requests on Linux and other Unix systems.
#include "portsystem.h"

#include <QSerialPort>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace portsystem {

LowLatency askLowLatency(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const int fd = int(port.handle());
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return LowLatency::Refused;
    if (info.flags & ASYNC_LOW_LATENCY)
        return LowLatency::Set;
    // A user may change this flag on a port it has open; the other fields go back as
    // they came, so the request asks for nothing else.
    info.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &info) != 0)
        return LowLatency::Refused;
    return LowLatency::Set;
#else
    Q_UNUSED(port);
    return LowLatency::NotAsked;
#endif
}

bool writeNow(QSerialPort &port, const QByteArray &bytes, QString *why)
{
    // The port's own queue goes out through the event loop: one more pass and a
    // notifier switched on and off for every command. While it is empty, writing to
    // the descriptor keeps the order and costs one system call.
    qsizetype done = 0;
    if (port.bytesToWrite() == 0) {
        const int fd = int(port.handle());
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;  // the system's queue is full: the rest waits on the port's
            } else {
                *why = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
        }
    }
    if (done == bytes.size())
        return true;
    const QByteArray rest = bytes.mid(done);
    if (port.write(rest) == rest.size())
        return true;
    *why = port.errorString();
    return false;
}

}  // namespace portsystem
