// SPDX-License-Identifier: GPL-3.0-or-later
// The chips the programmer knows: one table that the window, the command line and the
// board emulator share, looked up by signature text.
#pragma once

#include <QString>
#include <array>

struct ChipInfo {
    const char *name;       // "89C52": the emulator's --chip, in any case
    const char *signature;  // as shown after Identify
    const char *caption;    // "Device : ..." after Identify
    int size;               // flash bytes
};

// Compared in this order; the first equal signature wins.
inline constexpr std::array<ChipInfo, 2> knownChips{{
    {"89C52", "1E 52 FF", "Device : Atmel 89C52 (Vpp=12V)", 8192},
    {"89C51", "1E 51 FF", "Device : Atmel 89C51 (Vpp=12V)", 4096},
}};

inline const ChipInfo *chipForSignature(const QString &text)
{
    for (const ChipInfo &c : knownChips)
        if (text == QLatin1String(c.signature))
            return &c;
    return nullptr;
}

inline const ChipInfo *chipForName(const QString &name)
{
    for (const ChipInfo &c : knownChips)
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

// The most any known chip holds.
inline constexpr int largestChipSize()
{
    int most = 0;
    for (const ChipInfo &c : knownChips)
        most = c.size > most ? c.size : most;
    return most;
}
