// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port's few requests that differ by operating system: low latency from the
// driver, and a command string handed to the system at once. One file per system.
#pragma once

#include <QByteArray>
#include <QString>

class QSerialPort;

namespace portsystem {

// USB serial adapters hold received bytes for up to 16 ms before passing them on; with
// one request outstanding that wait is paid for every byte. Linux shortens it to 1 ms
// for a port whose low-latency flag is set.
enum class LowLatency {
    NotAsked,  // not a serial port, or a system without the flag
    Set,       // the flag is set (it was already, or the driver granted it)
    Refused,   // the driver has no such flag (a pseudo-terminal) or would not set it
};
LowLatency askLowLatency(QSerialPort &port);

// Hands `bytes` to the system now, in one write where it takes them all, rather than
// when the event loop next runs; what it does not take at once is queued on the port.
// False, with the system's words in `why`, when the port refused them (the device is gone).
bool writeNow(QSerialPort &port, const QByteArray &bytes, QString *why);

}  // namespace portsystem
