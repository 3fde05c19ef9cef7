// SPDX-License-Identifier: GPL-3.0-or-later
// The program's look: the design's face for every window and menu, and a style that reads
// the images it holds when they are first drawn rather than at start.
#pragma once

class QApplication;

// Sets the style and the face of the whole program; called once, before any window.
void setUpLook(QApplication &app);
