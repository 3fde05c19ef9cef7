// SPDX-License-Identifier: GPL-3.0-or-later
// Font configuration on Windows: the system's fonts need no reading ahead.
#include "fontwarmup.h"

FontWarmUp::FontWarmUp() = default;
