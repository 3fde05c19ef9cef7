// SPDX-License-Identifier: GPL-3.0-or-later
// Serial link over QSerialPort (or any QIODevice an opener provides).
#include "seriallink.h"

#include "deviceidentity.h"
#include "portsystem.h"
#include "timeouts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>

#include <limits>

QString portLabel(int number)
{
    return QStringLiteral("Com%1").arg(number);
}

namespace {

std::unique_ptr<QIODevice> openSerialPort(int number, const QString &named, const QString &device,
                                          Failure *why, bool *retryable)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Held by another copy of this program, under this name or another: refused before the
    // open, which would set the line under it. The hold taken after the open settles a race.
    const DeviceIdentity identity = DeviceIdentity::of(device);
    if (const QString holder = devicehold::holder(identity); !holder.isEmpty()) {
        *why = SerialLink::describeHeldPort(number, named, holder);
        return nullptr;
    }
    if (port->open(QIODevice::ReadWrite)) {
        if (!devicehold::take(*port)) {
            // Closed before anything is cleared: what waits on the line is the holder's.
            port->close();
            *why = SerialLink::describeHeldPort(number, named, devicehold::holder(identity));
            return nullptr;
        }
        // What came before the port was opened (the late reply of a command that ended, in
        // a program that has ended too) answers nothing this program asks.
        port->clear(QSerialPort::Input);
        // A pseudo-terminal refuses the modem-control requests; the line still carries
        // the bytes, so that is not an error here.
        port->clearError();
        return port;
    }
    const auto err = port->error();
    // A file, a folder or a device of another kind refuses the line's settings (ENOTTY):
    // the system's words for it name no serial port.
    if (err == QSerialPort::UnsupportedOperationError && QFileInfo::exists(device)) {
        *why = Failure{SerialLink::tr("The serial port %1 cannot be opened: it is not a serial device.").arg(named)};
        return nullptr;
    }
    const bool permission = err == QSerialPort::PermissionError;
    const bool notFound = err == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(device);
    *retryable = permission;
    *why = SerialLink::describeOpenFailure(number, named, device, port->errorString(), permission, notFound);
    return nullptr;
}

// The window's events get a pass at least this often, even when every reply is already in
// when its wait starts: about one frame of the screen.
constexpr std::chrono::milliseconds framePeriod{16};

}  // namespace

SerialLink::SerialLink(QObject *parent) : QObject(parent)
{
    m_deadlineWake.setSingleShot(true);
    m_deadlineWake.setTimerType(Qt::PreciseTimer);
}

SerialLink::~SerialLink()
{
    close();
}

void SerialLink::setOpener(Opener opener)
{
    m_opener = std::move(opener);
}

Status SerialLink::openOnce(bool *retryable)
{
    *retryable = false;
    const QString device = devicePath();
    Failure why;
    std::unique_ptr<QIODevice> dev;
    if (m_opener) {
        dev = m_opener(device, &why);
    } else {
        dev = openSerialPort(m_number, openName(), device, &why, retryable);
    }
    if (!dev)
        return why;
    m_device = std::move(dev);
    m_lossReason.clear();
    QIODevice *d = m_device.get();
    m_serial = qobject_cast<QSerialPort *>(d);
    if (auto *sp = m_serial) {
        // A driver that has no low-latency flag, or will not set it, still carries the bytes.
        portsystem::askLowLatency(*sp);
        // After the device vanishes Qt reports these again and again until the port is
        // closed, so the first one closes it.
        connect(sp, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
            // The system's words here come from whichever call failed first once the device
            // had gone ("Inappropriate ioctl for device"), and tell the user nothing.
            if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                lose(tr("the device has gone"));
        });
    }
    connect(d, &QIODevice::aboutToClose, this, [this] {
        if (!m_closing)
            lose(tr("the device was closed"));
    });
    return {};
}

Status SerialLink::open()
{
    close();
    QDeadlineTimer retryUntil(timeouts::openRetry.value());
    for (;;) {
        bool retryable = false;
        Status s = openOnce(&retryable);
        if (s.ok() || !retryable || retryUntil.hasExpired())
            return s;
        QEventLoop pause;
        QTimer::singleShot(timeouts::openRetryStep.value(), &pause, &QEventLoop::quit);
        pause.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

void SerialLink::close()
{
    if (!m_device)
        return;
    m_closing = true;
    std::unique_ptr<QIODevice> dev = std::move(m_device);
    m_serial = nullptr;
    dev->disconnect(this);
    dev->close();
    // The device may be in the middle of emitting a signal when it is lost.
    dev.release()->deleteLater();
    m_closing = false;
    emit wake();
}

bool SerialLink::isOpen() const
{
    return m_device && m_device->isOpen();
}

Status SerialLink::ensureOpen()
{
    if (isOpen())
        return {};
    return open();
}

void SerialLink::lose(const QString &reason)
{
    if (!m_device)
        return;
    m_lossReason = reason;
    close();
}

Failure SerialLink::lossFailure() const
{
    return Failure{m_lossReason.isEmpty() ? tr("the serial port %1 was lost").arg(portName())
                                          : tr("the serial port %1 was lost (%2)").arg(portName(), m_lossReason),
                   Failure::PortLost};
}

Status SerialLink::send(const QByteArray &command)
{
    if (!isOpen())
        return Failure{tr("the serial port %1 is not open").arg(portName()), Failure::PortLost};
    QString why;
    const bool written = m_serial ? portsystem::writeNow(*m_serial, command, &why)
                                  : m_device->write(command) == command.size();
    if (!written) {
        if (!m_serial)
            why = m_device->errorString();
        lose(why);
        return Failure{tr("the serial port %1 refused the data (%2)").arg(portName(), why),
                       Failure::PortLost};
    }
    return {};
}

void SerialLink::drain()
{
    QDeadlineTimer limit(timeouts::reply.value());
    while (isOpen() && m_device->bytesToWrite() > 0 && !limit.hasExpired())
        m_device->waitForBytesWritten(int(limit.remainingTime()));
}

int SerialLink::countReceived() const
{
    return isOpen() ? int(m_device->bytesAvailable()) : 0;
}

QByteArray SerialLink::takeReceived()
{
    return isOpen() ? m_device->readAll() : QByteArray();
}

void SerialLink::requestStop(const QString &why)
{
    m_stopWhy = why;
    m_stop = true;
    emit wake();
}

QString SerialLink::stopReason() const
{
    return m_stopWhy.isEmpty() ? tr("stopped by the user") : m_stopWhy;
}

void SerialLink::pass(QEventLoop::ProcessEventsFlags flags)
{
    QCoreApplication::processEvents(flags);
    m_passDue.setRemainingTime(framePeriod);
}

void SerialLink::wakeBy(QDeadlineTimer deadline)
{
    if (deadline.isForever())
        return;
    // A wake already due no later than this deadline is kept: when it comes early the
    // wait simply sets the next one.
    if (m_deadlineWake.isActive() && m_deadlineWakeAt.deadlineNSecs() <= deadline.deadlineNSecs())
        return;
    const qint64 ms = std::max<qint64>(0, (deadline.remainingTimeNSecs() + 999999) / 1000000);
    m_deadlineWake.start(int(std::min<qint64>(ms, std::numeric_limits<int>::max())));
    m_deadlineWakeAt.setRemainingTime(ms);
}

SerialLink::WaitEnd SerialLink::waitUntil(int count, QDeadlineTimer deadline)
{
    if (m_passDue.hasExpired())
        pass(QEventLoop::AllEvents);
    // Each pass sleeps until something happens: bytes from the port (taken into its buffer
    // as the pass runs), the deadline's wake, or a window event. A stop or a lost port is
    // the work of such an event, so the test after the pass sees it.
    for (;;) {
        if (m_stop)
            return WaitEnd::Stopped;
        if (!isOpen())
            return WaitEnd::PortLost;
        if (countReceived() >= count)
            return WaitEnd::Arrived;
        if (deadline.hasExpired())
            return WaitEnd::TimedOut;
        wakeBy(deadline);
        pass(QEventLoop::WaitForMoreEvents);
    }
}

Failure SerialLink::describeOpenFailure(int number, const QString &named, const QString &device,
                                        const QString &systemError, bool permission, bool notFound)
{
    if (notFound) {
        const QStringList present = PortMap::presentDevices();
        QString list = present.isEmpty() ? tr("none was found") : present.join(QStringLiteral(", "));
        const QString what = isLinkLoop(device) ? tr("The serial port %1 is a link that leads round in a loop, to no "
                                                     "device.")
                                                      .arg(named)
                                                : tr("The serial port %1 does not exist.").arg(named);
        return Failure{tr("%1\n\nSerial devices on this machine: %2.").arg(what, list), Failure::NoSuchPort, {}, false,
                       number};
    }
    if (permission) {
        QFileInfo fi(device);
        const bool accessible = fi.isReadable() && fi.isWritable();
        if (accessible) {
            return Failure{tr("The serial port %1 is in use by another program (a modem manager probing new "
                              "ports does this).")
                               .arg(named),
                           Failure::PortInUse, {}, false, number};
        }
        const QString group = fi.group().isEmpty() ? QStringLiteral("dialout") : fi.group();
        return Failure{tr("The serial port %1 cannot be opened: permission denied.\n\nThe device belongs to the "
                          "group \"%2\". Add yourself to it (sudo usermod -aG %2 $USER); joining a group takes effect "
                          "at your next login.")
                           .arg(named, group)};
    }
    return Failure{tr("The serial port %1 cannot be opened: %2.").arg(named, systemError)};
}

Failure SerialLink::describeHeldPort(int number, const QString &named, const QString &holder)
{
    const QString who = holder.isEmpty() ? QString() : QStringLiteral(", ") + holder;
    return Failure{tr("The serial port %1 is in use by another program%2.").arg(named, who), Failure::PortInUse, {},
                   false, number};
}

QString SerialLink::openName() const
{
    if (m_naming == Naming::ByDevice && !m_given.isEmpty())
        return m_given;
    return QStringLiteral("%1 (%2)").arg(portLabel(m_number), devicePath());
}
