// SPDX-License-Identifier: GPL-3.0-or-later
// The hex listing of an image: rows of eight bytes, address, cells and characters,
// written to the listing file and then loaded into the view in one step.
#pragma once

#include "image.h"
#include "result.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace listing {
inline constexpr int rowWidth = 38;
inline constexpr int bytesPerRow = 8;

// One row: four-digit address, two spaces, eight "HH " cells, eight characters (0x22 to
// 0x7D as themselves, anything else "."). Cells past `count` stay blank, so the two
// columns never show a byte that is not in the file.
QByteArray formatRow(int address, const quint8 *bytes, int count);

// Listing of `data` as the file holds it: CR LF after every complete row, the final
// row always written (also for an empty image or a length that is a multiple of 8).
// `afterRow` runs once per complete row (the window moves its progress bar there).
QByteArray format(const QByteArray &data, const std::function<void()> &afterRow = {});

// Lists `image` into `listingPath`, with `afterRow` as above. The listing file is written
// in place (it is scratch), never through a link planted at its path.
Status write(const Image &image, const QString &listingPath, const std::function<void()> &afterRow = {});
}  // namespace listing
