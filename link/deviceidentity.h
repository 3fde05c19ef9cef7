// SPDX-License-Identifier: GPL-3.0-or-later
// A serial device as itself, whatever name leads to it (a /dev/serial/by-id link, a link of
// the user's, the device node), and this program's hold on a device it has open. One file
// per system.
#pragma once

#include <QString>

class QSerialPort;

struct DeviceIdentity {
    QString path;        // the name with every link resolved; the name as given when it leads nowhere
    quint64 number = 0;  // the device number of a character device; 0 when there is none or it is not known

    // The device `name` leads to, as the serial port opens it: a bare name is looked for
    // among the system's devices.
    static DeviceIdentity of(const QString &name);
    // Two names lead to one device: the same device number, else the same resolved path.
    bool sameAs(const DeviceIdentity &other) const
    {
        return number && other.number ? number == other.number : path == other.path;
    }
    // The same text for every name of the device, for what is recorded of it.
    QString key() const { return number ? QStringLiteral("char %1").arg(number) : path; }
};

// True when `name` is a link that leads round in a loop (to itself, at last), so to no device.
bool isLinkLoop(const QString &name);

// "process 1234 (voralith-cli)", or "process 1234" when its name cannot be read.
QString processText(qint64 pid);

// The hold: a second copy of this program is refused a device held by the first under any
// of its names, root too, and the hold ends with the process that took it, however it ends.
namespace devicehold {
// Takes the hold on the device `port` has open; false when another process has it.
// It also takes back the terminal's exclusive flag that the serial port sets on opening:
// that flag does not bind root, and it outlives a killed process while another process
// (the emulator keeps its pseudo-terminal open) holds the terminal, refusing every later
// open by a normal user.
bool take(QSerialPort &port);
// The process holding `device`; empty when none does or it cannot be told.
QString holder(const DeviceIdentity &device);
}  // namespace devicehold
