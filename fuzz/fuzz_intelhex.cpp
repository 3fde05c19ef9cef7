// SPDX-License-Identifier: GPL-3.0-or-later
// The Intel HEX reader on any text: a refusal names a line (none for a blank text) and keeps
// nothing; what it takes fits the largest chip and comes back the same once written.
#include "image.h"
#include "intelhex.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    intelhex::looksLikeHex(text);
    const intelhex::Parsed p = intelhex::parse(text, maxImageSize);
    if (!p.reason.isEmpty() ? p.line < (text.trimmed().isEmpty() ? 0 : 1) || !p.bytes.isEmpty()
                            : p.tooLong || p.bytes.size() > maxImageSize ||
                                  intelhex::parse(intelhex::format(p.bytes), maxImageSize).bytes != p.bytes)
        __builtin_trap();
    return 0;
}
