// SPDX-License-Identifier: GPL-3.0-or-later
// Which device a port number names. Com1..ComN are the names the user knows; on Linux the
// settings store maps them to device paths, and a command-line option can map one for a
// single run without saving it.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class PortMap {
public:
    // The device path of port `number`: this run's mapping first, then the group "Ports"
    // of the settings store (key "ComN"), then the platform's own name for ComN.
    QString deviceFor(int number) const;
    void mapForThisRun(int number, const QString &device);
    // The platform's name for ComN when nothing maps it: /dev/ttyS<N-1>, or COMN on Windows.
    static QString defaultDevice(int number);
    // Serial devices present, stable /dev/serial/by-id names first; for messages.
    static QStringList presentDevices();
    // The ports the settings store maps, by number.
    static QMap<int, QString> storedMappings();

private:
    QMap<int, QString> m_runOnly;
};

// The port number of the saved setting "CommPort". A text that is not a whole number from
// 1 to 255 ("abc", "", "-1", "99999") counts as nothing saved: port 2, `valid` false.
// Spaces around a number are allowed, as a number.
int portFromSetting(const QString &text, bool *valid);

// Parses "N=DEVICE" (also "ComN=DEVICE") as given to --com; false when it is not that form.
bool parsePortMapping(const QString &text, int *number, QString *device);

// The options that name a port: voralith-cli's --port (DEVICE or ComN) and --com (N or
// N=DEVICE), and the window's --com (N=DEVICE only).
enum class PortOption { CliPort, CliCom, WindowCom };

// What such an option asks for: the port number to use (0: the one otherwise in use), the
// device to map to that port for this run (empty: none), or else why it is refused (the
// words for it are the session's: wording::portRefusal).
struct PortRequest {
    enum Refusal {
        None,
        ComOutOfRange,  // --port ComN with N beyond 1 to 255
        EmptyName,      // --port ""
        NoMapping,      // the window's --com: not N=DEVICE
        NoPortNumber,   // voralith-cli's --com: neither a port number nor N=DEVICE
    };
    int number = 0;
    QString device;
    Refusal refusal = None;
    QString given;  // the text refused
    bool refused() const { return refusal != None; }
};
// A device given by --port is a path from the current folder, made absolute, unless it is a
// bare name that is no file here ("ttyUSB0"): that is left to the serial port, which looks
// for it in /dev.
PortRequest parsePortOption(PortOption option, const QString &text);
