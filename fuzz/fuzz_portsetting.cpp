// SPDX-License-Identifier: GPL-3.0-or-later
// The port settings from any text, the saved "CommPort" value and a --com mapping: a port
// number is 1 to 255, and what is taken is what the text says.
#include "portmap.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    bool valid = true;
    const int port = portFromSetting(text, &valid);
    if (valid ? port < 1 || port > 255 || text.trimmed().toInt() != port : port != 2)
        __builtin_trap();
    int number = -1;
    QString device;
    if (!parsePortMapping(text, &number, &device))
        return 0;
    const QString said = text.section(QLatin1Char('='), 0, 0);
    if (number < 1 || number > 255 || device.isEmpty() || text.mid(said.size() + 1) != device ||
        (said.startsWith(QLatin1String("com"), Qt::CaseInsensitive) ? said.mid(3) : said).toInt() != number)
        __builtin_trap();
    return 0;
}
