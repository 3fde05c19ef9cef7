// SPDX-License-Identifier: GPL-3.0-or-later
// Font configuration on Linux and other Unix systems: the fontconfig library that the
// display's text goes through, whose first call reads and parses every configuration file.
#include "fontwarmup.h"

#include <dlfcn.h>

FontWarmUp::FontWarmUp()
{
    // Only where the library is already in the program: a toolkit that draws text without
    // it is left alone, and nothing new is loaded.
    void *library = ::dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return;
    using Init = int (*)();
    const auto init = reinterpret_cast<Init>(::dlsym(library, "FcInit"));
    if (init)
        m_thread = std::thread([init, library] {
            // The configuration it reads is the one every later call uses, whichever thread
            // makes it; a call made meanwhile reads it alongside, never wrongly.
            init();
            ::dlclose(library);
        });
    else
        ::dlclose(library);
}
