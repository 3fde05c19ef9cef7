// A serial-port opener for tests: named devices lead to in-process emulated boards,
// anything else fails to open as a missing device would. A byte sent to a board that is
// no command of it fails the test when the rig goes.
#pragma once

#include "emulatedport.h"
#include "seriallink.h"

#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <memory>

struct EmuRig {
    QMap<QString, std::shared_ptr<BoardEngine>> boards;  // device path -> board
    QStringList opened;                                  // every device asked for, in order
    QPointer<EmulatedPort> port;                         // the port opened last, while it exists

    EmuRig() = default;
    EmuRig(const EmuRig &) = delete;
    EmuRig &operator=(const EmuRig &) = delete;
    ~EmuRig()
    {
        for (auto it = boards.cbegin(); it != boards.cend(); ++it) {
            const QByteArray &stray = it.value()->unexpected();
            if (!stray.isEmpty())
                QTest::qFail(qPrintable(QStringLiteral("%1 received bytes that are no command of the board: %2")
                                            .arg(it.key(), QString::fromLatin1(stray.toHex(' ')))),
                             __FILE__, __LINE__);
        }
    }

    std::shared_ptr<BoardEngine> add(const QString &device, BoardConfig cfg = {})
    {
        auto e = std::make_shared<BoardEngine>(std::move(cfg));
        boards.insert(device, e);
        return e;
    }
    SerialLink::Opener opener()
    {
        return [this](const QString &device, Failure *why) -> std::unique_ptr<QIODevice> {
            opened << device;
            auto it = boards.find(device);
            if (it == boards.end()) {
                *why = Failure{QStringLiteral("The serial port %1 does not exist.").arg(device)};
                return nullptr;
            }
            auto p = std::make_unique<EmulatedPort>(it.value());
            p->open(QIODevice::ReadWrite);
            port = p.get();
            return p;
        };
    }
};
