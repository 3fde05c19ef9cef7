// SPDX-License-Identifier: GPL-3.0-or-later
// The image: the bytes for chip addresses 0..n-1, loaded from a raw binary or an Intel HEX
// file and written back in either form; and the one safe way this program writes a file.
#pragma once

#include "chips.h"
#include "result.h"

#include <QByteArray>
#include <QString>

enum class ImageFormat { Binary, IntelHex };
inline constexpr int maxImageSize = 8192;  // the largest chip; the single definition of that limit
static_assert(maxImageSize == largestChipSize(), "an image is as large as the largest known chip");

struct Image {
    QByteArray bytes;  // byte k belongs to chip address k; at most maxImageSize
    QString path;      // the file it came from
    ImageFormat format = ImageFormat::Binary;
};

// Loads a binary or Intel HEX file. HEX is told by the name (formatForName) or by content:
// a file whose first non-blank character is ':' and that is printable text throughout. A
// HEX file is never taken as raw bytes: one that fails its checks is refused
// (Failure::Refused, the message naming the line and the reason). Data at or past address
// 8192 fails with Failure::TooLong; an unreadable file with Failure::Error.
Result<Image> loadImage(const QString &path);
// The same in the format given, whatever the name or the content suggest.
Result<Image> loadImage(const QString &path, ImageFormat format);
// Write, Verify and program refuse an image with no data (a 0-byte file, HEX holding only
// its end record) before anything is sent: its success would say nothing of the chip.
Status requireData(const Image &image);
// .hex, .ihx and .ihex (any case) are Intel HEX; every other name raw binary.
ImageFormat formatForName(const QString &path);
// An image's bytes as a file of `format` holds them.
QByteArray encodeImage(const QByteArray &bytes, ImageFormat format);
// Writes `image` to `path` in `format`, as writeOutput writes a file the user names. A save
// in the image's own format copies its file byte for byte; a save onto the image's own file
// leaves it as it is and succeeds.
Status saveImage(const Image &image, const QString &path, ImageFormat format);
// The one safe file write: a temporary file beside `path`, unbuffered writes with checked
// counts, renamed over `path` only when complete, so a failed write leaves the old file as
// it was. A symbolic link standing at `path` is replaced, never written through: this is
// for the program's own files.
Status writeFileSafely(const QString &path, const QByteArray &data);
// True when both paths name the same existing file (also through links or "..").
bool sameFile(const QString &a, const QString &b);
