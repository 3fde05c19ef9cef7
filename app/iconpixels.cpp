// SPDX-License-Identifier: GPL-3.0-or-later
// Build step: paints the icon at each stored size and writes the pixels as a header, so
// the program shows its icon without painting it (or loading an image plug-in) at start.
//   iconpixels OUTPUT.h
#include "iconshape.h"

#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: iconpixels OUTPUT.h\n");
        return 2;
    }
    FILE *out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Made by iconpixels from the icon's shapes when the program was built.\n"
                      "struct StoredIcon { int size; const quint32 *pixels; };\n");
    for (const int size : kStoredIconSizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        paintIcon(p, size);
        p.end();
        std::fprintf(out, "static const quint32 kIcon%d[] = {", size);
        for (int y = 0; y < size; ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
            for (int x = 0; x < size; ++x)
                std::fprintf(out, "%s0x%08x,", x % 8 ? "" : "\n    ", line[x]);
        }
        std::fprintf(out, "\n};\n");
    }
    std::fprintf(out, "static const StoredIcon kStoredIcons[] = {");
    for (const int size : kStoredIconSizes)
        std::fprintf(out, "{%d, kIcon%d}, ", size, size);
    std::fprintf(out, "};\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
