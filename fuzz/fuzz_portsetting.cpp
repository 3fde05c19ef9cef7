// SPDX-License-Identifier: GPL-3.0-or-later
// The port settings from any text: the saved "CommPort" value and a --com mapping. A port
// number is always 1 to 255, and what is taken is what the text says.
#include "portmap.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    bool valid = true;
    const int port = portFromSetting(text, &valid);
    if (valid ? (port < 1 || port > 255 || text.trimmed().toInt() != port) : port != 2)
        std::abort();

    int number = -1;
    QString device;
    if (parsePortMapping(text, &number, &device)) {
        if (number < 1 || number > 255 || device.isEmpty())
            std::abort();
        const QString said = text.left(text.indexOf(QLatin1Char('=')));
        const QString digits = said.startsWith(QLatin1String("com"), Qt::CaseInsensitive) ? said.mid(3) : said;
        if (digits.toInt() != number || text.mid(said.size() + 1) != device)
            std::abort();
    }
    return 0;
}
