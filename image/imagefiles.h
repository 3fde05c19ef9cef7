// Image files chosen by the user: the size rule of Open, reading an image whole, and
// Save as a copy that never destroys the old file.
#pragma once

#include "result.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace imagefiles {
inline constexpr qint64 maxImageSize = 8192;  // the largest chip

// Size of the file at `path`; a Failure naming the file when it cannot be measured.
Result<qint64> sizeOf(const QString &path);
// The whole image (at most a little over the largest chip is ever read).
Result<QByteArray> readImage(const QString &path);
// True when both paths name the same existing file (also through links or "..").
bool sameFile(const QString &a, const QString &b);
// Copies `source` to `destination` byte for byte through a temporary file next to the
// destination that is renamed over it only when complete: a failed copy leaves the old
// destination as it was. Copying a file onto itself leaves it intact and succeeds.
Status saveCopy(const QString &source, const QString &destination);
// Removes a symbolic link standing at `path` (the work folder's own files are never
// written through one); anything else is left alone.
void dropLink(const QString &path);
// Why a write came back short.
QString shortWriteReason(const QFileDevice &f);
}  // namespace imagefiles
