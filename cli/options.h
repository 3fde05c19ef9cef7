// SPDX-License-Identifier: GPL-3.0-or-later
// voralith-cli's options, as the help shows them; the commands read them from the parser.
#pragma once

#include <QCommandLineOption>

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version.")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("The board's serial device, or ComN for port N as the window maps it (the "
                                           "section [Ports] of the settings file, else /dev/ttyS<N-1>). Given "
                                           "several times, every board works at once (not read)."),
                            QStringLiteral("DEVICE|ComN")};
    QCommandLineOption com{QStringLiteral("com"),
                           QStringLiteral("Port number N, as the window's Com N (default 2); N=DEVICE maps it to "
                                          "DEVICE for this run."),
                           QStringLiteral("N")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("Change the chip without asking first.")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print only failures.")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("FILE is raw binary (bin) or Intel HEX (hex), whatever its name."),
                              QStringLiteral("bin|hex")};
    QCommandLineOption chip{QStringLiteral("chip"), QStringLiteral("Refuse any other chip."),
                            QStringLiteral("89c51|89c52")};
    QCommandLineOption noErase{QStringLiteral("no-erase"),
                               QStringLiteral("program: do not erase first; the chip must be blank.")};
    QCommandLineOption repeat{QStringLiteral("repeat"),
                              QStringLiteral("program: one chip after another. After each, Enter programs the next; "
                                             "q or the end of input stops.")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("Standard output carries only JSON lines, one object a line (see the "
                                           "README); no question is asked, so a change needs --yes.")};
    QCommandLineOption log{QStringLiteral("log"),
                           QStringLiteral("Append a JSON line for every chip to FILE, on the disk before the next "
                                          "chip starts."),
                           QStringLiteral("FILE")};
    QCommandLineOption serial{QStringLiteral("serial"),
                              QStringLiteral("program, write: put a serial number into each chip at ADDR (hex), SIZE "
                                             "bytes long, as be (binary, most significant byte first; the default), "
                                             "le (least significant first), bcd (two decimal digits a byte) or ascii "
                                             "(SIZE decimal digits). Taken from --serial-file, never given twice."),
                              QStringLiteral("ADDR:SIZE[:FORMAT]")};
    QCommandLineOption serialFile{QStringLiteral("serial-file"),
                                  QStringLiteral("The file holding the next serial number (decimal digits and a line "
                                                 "end); made from --serial-start when missing."),
                                  QStringLiteral("FILE")};
    QCommandLineOption serialStart{QStringLiteral("serial-start"),
                                   QStringLiteral("The first serial number, for a --serial-file not yet made "
                                                  "(default 1)."),
                                   QStringLiteral("N")};
    QCommandLineOption serialStep{QStringLiteral("serial-step"),
                                  QStringLiteral("Added to the serial number after each one taken (default 1)."),
                                  QStringLiteral("K")};
    QCommandLineOption serialCounter{QStringLiteral("serial-counter"),
                                     QStringLiteral("--store: the counter the serial numbers come from (default: the "
                                                    "job's name, else the image file's name without its suffix); "
                                                    "made from --serial-start when the store has none of that name."),
                                     QStringLiteral("NAME")};
    QCommandLineOption store{QStringLiteral("store"),
                             QStringLiteral("Take the serial numbers from, and record every chip in, the PostgreSQL "
                                            "database URL (a libpq URI or key=value words, see the README), shared "
                                            "with other stations; its tables are made by store init."),
                             QStringLiteral("URL")};
    QCommandLineOption station{QStringLiteral("station"),
                               QStringLiteral("--store: the name of this station in every row (default: the host's "
                                              "name)."),
                               QStringLiteral("NAME")};
    QCommandLineOption since{QStringLiteral("since"),
                             QStringLiteral("store report: only what happened from TIME on (2026-12-07T08:00)."),
                             QStringLiteral("TIME")};
    QCommandLineOption counter{QStringLiteral("counter"),
                               QStringLiteral("store report: only the numbers of counter NAME and their chips."),
                               QStringLiteral("NAME")};
    QCommandLineOption lock{QStringLiteral("lock"),
                            QStringLiteral("program: program lock bits 1 to N into each chip once it is verified; it "
                                           "passes only then. With 2 or 3 it can no longer be read back."),
                            QStringLiteral("1|2|3")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("program: a lot of N good chips, round after round as --repeat runs "
                                            "them; it stops by itself once N have passed."),
                             QStringLiteral("N")};
    QCommandLineOption job{QStringLiteral("job"),
                           QStringLiteral("program: the job FILE (an INI file, see the README) gives the image, its "
                                          "CRC-32 and the options; options given beside it override the job's."),
                           QStringLiteral("FILE")};
    QCommandLineOption probe{QStringLiteral("probe"),
                             QStringLiteral("ports: also identify a board on each port you may open (this sends bytes "
                                            "to the device).")};
};
