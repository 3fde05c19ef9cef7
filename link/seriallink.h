// The serial line to the programmer board: 9600 baud, 8N1, no flow control. Bytes go out
// as they are given, one write per command string; replies are counted and taken whole.
// Waiting is event-driven: a local event loop woken by readyRead, a deadline, a lost port
// or a stop request, so the window stays live and an idle wait costs nothing.
#pragma once

#include "portmap.h"
#include "result.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

class SerialLink : public QObject {
    Q_OBJECT
public:
    enum class WaitEnd { Arrived, TimedOut, PortLost, Stopped };

    // Makes the open device for a device path; the default opens a QSerialPort with the
    // line settings above. The in-process board emulator plugs in here.
    using Opener = std::function<std::unique_ptr<QIODevice>(const QString &device, Failure *why)>;

    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    void setOpener(Opener opener);
    PortMap &portMap() { return m_map; }

    void setPortNumber(int number) { m_number = number; }
    int portNumber() const { return m_number; }
    QString devicePath() const { return m_map.deviceFor(m_number); }

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

    // Lets pending events run once, then waits until `count` bytes are waiting, the
    // deadline passes, the port is lost or a stop is requested.
    WaitEnd waitUntil(int count, QDeadlineTimer deadline);
    WaitEnd waitFor(int count, std::chrono::milliseconds limit)
    {
        return waitUntil(count, QDeadlineTimer(limit));
    }

    // A stop asked for by the user (Escape) or by closing the window: the wait in hand
    // returns Stopped and so does every later one until clearStop().
    void requestStop();
    void clearStop() { m_stop = false; }
    bool stopRequested() const { return m_stop; }

    QString lastLossReason() const { return m_lossReason; }

    // Plain words for a failed open of `device` as port `number`.
    static Failure describeOpenFailure(int number, const QString &device, const QString &systemError,
                                       bool permission, bool notFound);

signals:
    void portLost(const QString &reason);
    void wake();  // internal: ends the wait in hand

private:
    Status openOnce(bool *retryable);
    void lose(const QString &reason);

    PortMap m_map;
    Opener m_opener;
    std::unique_ptr<QIODevice> m_device;
    int m_number = 2;
    bool m_stop = false;
    bool m_closing = false;
    QString m_lossReason;
};

QString portLabel(int number);  // "Com2"
