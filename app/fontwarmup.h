// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the system's font configuration on a second thread while the program connects to
// the display, so that the first window's text does not wait for it: two-fifths of the
// work between the display's connection and the first shown window is that reading.
#pragma once

#include <thread>

class FontWarmUp {
public:
    FontWarmUp();   // starts it, where the platform has something to read
    ~FontWarmUp() { wait(); }
    // Before the first widget that draws text is built.
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};
