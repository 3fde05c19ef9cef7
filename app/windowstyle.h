// SPDX-License-Identifier: GPL-3.0-or-later
// The program's look, for the main window and the About window alike: the design's face for
// every window and menu, the program's icon, and a style that reads the images it holds
// when they are first drawn rather than at start.
#pragma once

#include <QFont>
#include <QIcon>

class QApplication;

// Sets the style and the face of the whole program; called once, before any window.
void setUpLook(QApplication &app);
// The design's sans-serif face at a size, for every window of the program.
QFont designFace(qreal points);
// The program's own icon, for the windows and the About box (voralithicon.cpp).
QIcon voralithIcon();
