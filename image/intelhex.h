// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX as 8051 toolchains write it: reading with every record checked, and writing.
#pragma once

#include <QByteArray>
#include <QString>

namespace intelhex {

struct Parsed {
    QByteArray bytes;  // addresses 0..highest written; gaps are FF, the erased value
    int line = 0;      // on a refusal: the line it names (1-based); 0 when the text holds no record
    QString reason;    // on a refusal: why; empty when the text was accepted
    bool tooLong = false;  // the refusal is data at or past `limit`
};

// Reads data (00), end of file (01), extended segment (02) and linear (04) address records;
// start addresses (03, 05) are accepted and ignored. Upper- or lower-case digits, CR, LF or
// CR LF line ends (mixed too; CR LF is one), blank lines and blanks around a record are taken
// as they come; after the end record only blanks and one Ctrl+Z (1Ah), as DOS tools left it.
Parsed parse(const QByteArray &text, int limit);
// Records of 16 data bytes from address 0, then the end record; upper case, CR LF.
QByteArray format(const QByteArray &bytes);
// True for text whose first non-blank character is ':' and that is printable throughout,
// Ctrl+Z (1Ah) aside.
bool looksLikeHex(const QByteArray &content);

}  // namespace intelhex
