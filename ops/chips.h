// The chips the programmer knows: one table, looked up by signature text.
#pragma once

#include <QString>
#include <array>

struct ChipInfo {
    const char *signature;  // as shown after Identify
    const char *caption;    // "Device : ..." after Identify
    int size;               // flash bytes
};

// Compared in this order; the first equal signature wins.
inline constexpr std::array<ChipInfo, 2> knownChips{{
    {"1E 52 FF", "Device : Atmel 89C52 (Vpp=12V)", 8192},
    {"1E 51 FF", "Device : Atmel 89C51 (Vpp=12V)", 4096},
}};

inline const ChipInfo *chipForSignature(const QString &text)
{
    for (const ChipInfo &c : knownChips)
        if (text == QLatin1String(c.signature))
            return &c;
    return nullptr;
}
