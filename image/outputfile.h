// SPDX-License-Identifier: GPL-3.0-or-later
// Files the user names for output (a read image, File Save): where the bytes really go.
// A link is followed to the file it leads to, which is replaced safely beside it with its
// permissions kept; a device node, a named pipe or "-" (standard output) is written
// straight into. Neither a link nor a device node is ever replaced by a regular file.
// The program's own work files do not come here (see writeFileSafely).
#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

// Whether `path` can take an output, checked before anything is sent to the board: the
// folder of the file it leads to is there and writable, or the device or pipe may be
// written.
Status checkOutput(const QString &path);
// Writes `data` to `path` as above, every write's count checked.
Status writeOutput(const QString &path, const QByteArray &data);
// True when `path` names this program's standard output ("-", /dev/stdout and the like).
bool isStandardOutput(const QString &path);
