// SPDX-License-Identifier: GPL-3.0-or-later
// System information outside Windows: the first well-known system monitor on PATH.
#include "sysinfo.h"

#include <QStandardPaths>

std::optional<QString> findSystemInfoTool()
{
    return firstProgramFound(systemMonitorNames(),
                             [](const QString &name) { return QStandardPaths::findExecutable(name); });
}
