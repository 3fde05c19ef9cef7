// SPDX-License-Identifier: GPL-3.0-or-later
// Identify: "Z", 48 times "I" (the counter to 30h), "SISIS", and three signature bytes.
#pragma once

#include "boardcommands.h"
#include "chips.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// First, next-to-last and last byte of the reply in hex without leading zeros; a reply
// of fewer than three bytes is shown as it came.
QString signatureText(const QByteArray &reply);

struct IdentifyOutcome {
    QByteArray reply;
    QString signature;
    const ChipInfo *chip = nullptr;   // null: not present or defective
    std::optional<Failure> failure;   // the port was lost or the command was stopped
};

// `beforeEachStep` runs before every "I" (the window lets its events run there).
IdentifyOutcome identifyDevice(BoardCommands &board, const std::function<void()> &beforeEachStep = {});
