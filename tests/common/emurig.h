// SPDX-License-Identifier: GPL-3.0-or-later
// A serial-port opener for tests: named devices lead to in-process emulated boards, others
// are missing. A byte sent that is no command of the board fails the test.
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
        for (auto it = boards.cbegin(); it != boards.cend(); ++it)
            if (!it.value()->unexpected().isEmpty())
                QTest::qFail(qPrintable(it.key() + " received bytes that are no command of the board: " +
                                        QString::fromLatin1(it.value()->unexpected().toHex(' '))),
                             __FILE__, __LINE__);
    }

    std::shared_ptr<BoardEngine> add(const QString &device, BoardConfig cfg = {})
    {
        return *boards.insert(device, std::make_shared<BoardEngine>(std::move(cfg)));
    }
    SerialLink::Opener opener()
    {
        return [this](const QString &device, Failure *why) -> std::unique_ptr<QIODevice> {
            opened << device;
            if (!boards.contains(device)) {
                *why = Failure{QStringLiteral("The serial port %1 does not exist.").arg(device)};
                return nullptr;
            }
            auto p = std::make_unique<EmulatedPort>(boards.value(device));
            p->open(QIODevice::ReadWrite);
            port = p.get();
            return p;
        };
    }
};
