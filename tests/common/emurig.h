// A serial-port opener for window tests: named devices lead to in-process emulated
// boards, anything else fails to open as a missing device would.
#pragma once

#include "emulatedport.h"
#include "seriallink.h"

#include <QMap>
#include <QPointer>
#include <QStringList>
#include <memory>

struct EmuRig {
    QMap<QString, std::shared_ptr<BoardEngine>> boards;  // device path -> board
    QStringList opened;                                  // every device asked for, in order
    QPointer<EmulatedPort> port;                         // the port opened last, while it exists

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
