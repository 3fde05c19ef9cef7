// SPDX-License-Identifier: GPL-3.0-or-later
// The store's tables: their steps, numbered, each applied once in one transaction by
// `voralith-cli store init`, and the check every other use makes before anything is sent.
// The tables are a public interface: a step only ever adds.
#pragma once

#include "pgconnection.h"
#include "result.h"

namespace storeschema {
// The schema this program knows and makes.
inline constexpr int kVersion = 1;
// The store's schema version: 0 when it has no tables of this program; or why it cannot be
// read.
Result<int> version(PgConnection &c, QDeadlineTimer deadline);
// The tables present and of this version; else why not, naming what mends it (`shown`: the
// store as shown). A failure of kind PortLost is a store that cannot be reached.
Status check(PgConnection &c, const QString &shown, QDeadlineTimer deadline);
// The tables made, or brought up to date, in one transaction: what was done, in a sentence.
Result<QString> init(PgConnection &c, const QString &shown, QDeadlineTimer deadline);
}  // namespace storeschema
