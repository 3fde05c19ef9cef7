// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli ports: the serial devices, the Com numbers that lead to each, whether the user
// may open it and whether another program holds it; with --probe, the board on each.
#include "boardsession.h"
#include "cli.h"
#include "deviceidentity.h"
#include "portmap.h"
#include "portscan.h"
#include "wording.h"

namespace {

// A name leads to a device listed under another name when both are the same device.
bool leadsTo(const QString &name, const SerialDevice &d)
{
    return name == d.path || (!d.device.isEmpty() && DeviceIdentity::of(name).sameAs(DeviceIdentity::of(d.device)));
}

// A held port is never probed: bytes sent to it reach the program that holds it too.
// `id` gets what the board answered, when it was asked.
QString probeBoard(const SerialDevice &d, Outcome *id)
{
    if (!d.mayOpen)
        return QStringLiteral("not probed (you may not open it)");
    if (!d.heldBy.isEmpty())
        return QStringLiteral("not probed (held by another program)");
    // A session as any command's: the port opened and the chip judged by the same rules.
    BoardSession session(WorkFolder::defaultLocation());
    SerialLink &link = session.link();
    link.setNaming(SerialLink::Naming::ByDevice);
    link.portMap().mapForThisRun(1, d.path);
    link.setPortNumber(1);
    if (Status s = session.open(); !s)
        return s.message().section(QLatin1Char('\n'), 0, 0);
    *id = session.identify();
    if (id->kind == Outcome::LinkFailure)
        return id->failure.message;
    if (id->ok())
        return QString::fromLatin1(id->chip->signature) + QStringLiteral(", ") + QString::fromLatin1(id->chip->caption);
    return wording::judgement(*id);
}

// The device, the Com numbers that lead to it, and whether it may be opened and is held.
QString deviceText(const SerialDevice &d, const QMap<int, QString> &coms, bool probe)
{
    QStringList names;
    for (auto it = coms.cbegin(); it != coms.cend(); ++it) {
        if (leadsTo(it.value(), d))
            names << portLabel(it.key());
    }
    QString text = d.path;
    if (!d.device.isEmpty() && d.device != d.path)
        text += QStringLiteral(" -> ") + d.device;
    if (!names.isEmpty())
        text += QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (d.device.isEmpty())
        return text + QStringLiteral("\n  does not exist");
    if (d.mayOpen)
        text += QStringLiteral("\n  may open: yes");
    else if (d.groupPending)
        text += QStringLiteral("\n  may open: not yet; you are in the group %1, which takes effect at your "
                               "next login")
                    .arg(d.group);
    else
        text += QStringLiteral("\n  may open: no; join the group %1 (sudo usermod -aG %1 $USER), then log in "
                               "again")
                    .arg(d.group);
    text += d.heldBy.isEmpty() ? QStringLiteral("\n  held: no") : QStringLiteral("\n  held: yes, by %1").arg(d.heldBy);
    if (probe) {
        Outcome id;
        text += QStringLiteral("\n  board: ") + probeBoard(d, &id);
    }
    return text;
}

// The device as a JSON line's fields; with `probe`, the signature and chip the board gave.
JsonLine deviceFields(const SerialDevice &d, bool probe)
{
    const QString device = d.device.isEmpty() ? d.path : d.device;
    JsonLine fields;
    fields.add("device", device)
        .add("stable_name", d.path != device ? QJsonValue(d.path) : QJsonValue())
        .add("may_open", d.mayOpen)
        .add("held_by", d.heldBy.isEmpty() ? QJsonValue() : QJsonValue(d.heldBy));
    if (probe) {
        Outcome id;
        if (!d.device.isEmpty())
            probeBoard(d, &id);
        const bool answered = id.kind != Outcome::LinkFailure && id.signature.size() == 3;
        fields.add("signature", answered ? QJsonValue(QString::fromLatin1(id.signature.toHex().toUpper())) : QJsonValue())
            .add("chip", answered && id.chip ? QJsonValue(QStringLiteral("AT") + QLatin1String(id.chip->name))
                                             : QJsonValue());
    }
    return fields;
}

}  // namespace

int Cli::ports()
{
    // The ports the window knows as Com1 to Com4 and every port the settings map, so that
    // each device shows the Com numbers that lead to it.
    const QMap<int, QString> stored = PortMap::storedMappings();
    QMap<int, QString> coms = stored;
    for (int n = 1; n <= 4; ++n) {
        if (!coms.contains(n))
            coms.insert(n, PortMap::defaultDevice(n));
    }
    // --com N=DEVICE maps port N for this run, as the window's --com does.
    PortRequest mapped;
    if (m_p.isSet(m_o.com))
        mapped = parsePortOption(PortOption::CliCom, m_p.value(m_o.com));
    if (!mapped.device.isEmpty())
        coms.insert(mapped.number, mapped.device);
    QStringList extra = stored.values();
    if (!mapped.device.isEmpty() && !extra.contains(mapped.device))
        extra << mapped.device;
    QStringList given;
    for (const SitePort &port : m_settings.ports)
        given << port.device;
    if (m_p.isSet(m_o.port)) {
        for (const QString &device : given)
            if (!extra.contains(device))
                extra << device;
    }
    QList<SerialDevice> devices = serialDevices(extra);
    // With --port, only the devices it names.
    if (m_p.isSet(m_o.port))
        devices.removeIf([&](const SerialDevice &d) {
            return std::none_of(given.begin(), given.end(), [&](const QString &g) { return leadsTo(g, d); });
        });
    if (m_t.json()) {
        for (const SerialDevice &d : devices)
            m_r.event("port", deviceFields(d, m_p.isSet(m_o.probe)));
        return Success;
    }
    if (devices.isEmpty()) {
        m_t.result(QStringLiteral("No serial devices were found."));
        return Success;
    }
    for (const SerialDevice &d : devices)
        m_t.result(deviceText(d, coms, m_p.isSet(m_o.probe)));
    return Success;
}
