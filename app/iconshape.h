// SPDX-License-Identifier: GPL-3.0-or-later
// The shapes of the program's icon, those of voralith.svg on the same 64-unit grid.
#pragma once

class QPainter;

// Paints the icon into the square (0, 0, size, size).
void paintIcon(QPainter &p, int size);

// The sizes a window manager is offered for title bars and task switchers; they are
// painted once, when the program is built, and kept in it.
inline constexpr int kStoredIconSizes[] = {16, 24, 32, 48, 64};
