// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line to the programmer board: 9600 baud, 8N1, no flow control. Bytes go out
// as they are given, one write per command string; replies are counted and taken whole.
// Waiting is event-driven: the thread sleeps in the event loop until the port, a deadline
// timer or the window has something; each pass lets the window repaint and take clicks,
// and a wait builds nothing, so it costs next to nothing per reply.
#pragma once

#include "portmap.h"
#include "result.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class QSerialPort;

QString portLabel(int number);  // "Com2"

class SerialLink : public QObject {
    Q_OBJECT
public:
    enum class WaitEnd { Arrived, TimedOut, PortLost, Stopped };
    // How messages name the port: "Com2" (the window's menu), or by its device (a shell,
    // where the user gave the device and may never have heard of Com2).
    enum class Naming { ByNumber, ByDevice };

    // Makes the open device for a device path; the default opens a QSerialPort with the
    // line settings above. The in-process board emulator plugs in here.
    using Opener = std::function<std::unique_ptr<QIODevice>(const QString &device, Failure *why)>;

    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    void setOpener(Opener opener);
    PortMap &portMap() { return m_map; }

    void setNaming(Naming naming) { m_naming = naming; }
    void setPortNumber(int number) { m_number = number; }
    int portNumber() const { return m_number; }
    QString devicePath() const { return m_map.deviceFor(m_number); }
    // The port as messages name it.
    QString portName() const
    {
        if (m_naming == Naming::ByNumber)
            return portLabel(m_number);
        return m_given.isEmpty() ? devicePath() : m_given;
    }
    // The port as the user named it (--port DEVICE): messages by device use that name.
    void setGivenName(const QString &name) { m_given = name; }
    // The port as an open's failure names it: "Com2 (/dev/ttyS1)", or the name given.
    QString openName() const;

    Status open();
    void close();
    bool isOpen() const;
    // Opens the port again when it was lost (an adapter unplugged and plugged back).
    Status ensureOpen();

    Status send(const QByteArray &command);
    // Waits until what was sent has left (before a close that would drop it).
    void drain();
    int countReceived() const;
    QByteArray takeReceived();

    // Waits until `count` bytes are waiting, the deadline passes, the port is lost or a
    // stop is requested, letting the window's events run meanwhile. Bytes already in end
    // it at once; the window still gets a pass at least once a frame.
    WaitEnd waitUntil(int count, QDeadlineTimer deadline);
    WaitEnd waitFor(int count, std::chrono::milliseconds limit)
    {
        return waitUntil(count, QDeadlineTimer(limit));
    }

    // A stop asked for by the user (Escape) or by closing the window: the wait in hand
    // returns Stopped and so does every later one until clearStop(). `why` words what
    // stopped it ("stopped by SIGTERM"); by default the user did.
    void requestStop(const QString &why = {});
    void clearStop() { m_stop = false; }
    bool stopRequested() const { return m_stop; }
    // "stopped by the user", or the words the stop was asked with.
    QString stopReason() const;

    // "the serial port Com2 was lost (why)": a lost port as every exchange tells it.
    Failure lossFailure() const;

    // Plain words for a failed open of `device` as port `number`, named `named`: what
    // happened, not what to do about it.
    static Failure describeOpenFailure(int number, const QString &named, const QString &device,
                                       const QString &systemError, bool permission, bool notFound);
    // Plain words for `device` refused since `holder` ("process 1234 (voralith-cli)", or
    // empty when not known) holds it.
    static Failure describeHeldPort(int number, const QString &named, const QString &holder);

signals:
    void wake();  // a stop or a close: the wait in hand ends after the pass that emitted it

private:
    Status openOnce(bool *retryable);
    void lose(const QString &reason);
    void wakeBy(QDeadlineTimer deadline);
    void pass(QEventLoop::ProcessEventsFlags flags);

    PortMap m_map;
    Opener m_opener;
    std::unique_ptr<QIODevice> m_device;
    QSerialPort *m_serial = nullptr;  // m_device, when it is a serial port
    int m_number = 2;
    QString m_given;
    Naming m_naming = Naming::ByNumber;
    bool m_stop = false;
    QString m_stopWhy;
    bool m_closing = false;
    QString m_lossReason;  // why the port was last lost, for lossFailure()
    // Wakes a sleeping wait at its deadline. Made once and left running between waits:
    // an earlier wake than a wait needs only costs one more pass.
    QTimer m_deadlineWake;
    QDeadlineTimer m_deadlineWakeAt;
    QDeadlineTimer m_passDue;  // the window's next pass at the latest
};

