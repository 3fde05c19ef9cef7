// SPDX-License-Identifier: GPL-3.0-or-later
// The Intel HEX reader on any text: it accepts or refuses with a line and a reason, never
// gives more than the chip holds, and what it accepts comes back the same once written.
#include "image.h"
#include "intelhex.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    intelhex::looksLikeHex(text);
    const intelhex::Parsed p = intelhex::parse(text, maxImageSize);
    if (!p.reason.isEmpty()) {
        if (p.line < 1 || !p.bytes.isEmpty())
            std::abort();
        return 0;
    }
    if (p.tooLong || p.bytes.size() > maxImageSize)
        std::abort();
    const intelhex::Parsed again = intelhex::parse(intelhex::format(p.bytes), maxImageSize);
    if (!again.reason.isEmpty() || again.bytes != p.bytes)
        std::abort();
    return 0;
}
