// SPDX-License-Identifier: GPL-3.0-or-later
// A serial number in every chip: where it goes and how it is written (--serial), and the
// counter file it is taken from. A number taken is on the disk as spent before the chip it
// goes into is written, so that no number is ever given twice, whatever happens next.
#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>
#include <mutex>
#include <optional>

struct SerialPlace {
    enum Format { BigEndian, LittleEndian, Bcd, Ascii };
    int address = 0;
    int size = 0;  // bytes (ascii: digits, one a byte)
    Format format = BigEndian;

    int end() const { return address + size; }  // one past its last byte
    // "be", "le", "bcd", "ascii"
    QString formatName() const;
    // The largest number that fits.
    quint64 largest() const;
    // The number's bytes; nothing when it does not fit.
    std::optional<QByteArray> bytes(quint64 number) const;
    // "The serial number 256 does not fit 1 byte as be (at most 255)."
    QString tooLarge(quint64 number) const;
    // "The serial number at 1FFEh to 2001h lies beyond the 8192 bytes of the largest chip."
    QString beyond(int room, const QString &whose) const;
};

// "1FFC:4", "1FF0:8:ascii": the place, or why the text is none.
Result<SerialPlace> parseSerialPlace(const QString &text);
// The image with the number's bytes at their place, padded with FF up to it when it ends
// before.
QByteArray withSerial(QByteArray image, const SerialPlace &place, const QByteArray &bytes);
// The image must leave the place erased (FF): the first address that holds data, or -1.
int dataAt(const QByteArray &image, const SerialPlace &place);

// The file that holds the next number: decimal digits and a line end, so that an operator
// can read and set it. Shared by every site of a command; take() may be called from any
// thread, and from several programs on the same file. A name that is a link leads to the
// counter: every name of one file is one counter, and the link stays a link.
class SerialCounter {
public:
    SerialCounter(QString path, quint64 start, quint64 step) : m_path(std::move(path)), m_start(start), m_step(step) {}
    const QString &path() const { return m_path; }
    quint64 start() const { return m_start; }
    quint64 step() const { return m_step; }
    // Before any chip, and again before each round while others may take from the same
    // file: a temporary file left by a run that died removed, the file made from the start
    // number when missing (on the first call only: one that goes later is not begun
    // again), the file one the user may write, and the next number and the `chips - 1`
    // after it checked to fit `place` and the counter.
    Status prepare(const SerialPlace &place, int chips = 1);
    // The next number, with the file holding the one after it on the disk; or why none
    // could be taken (the file is then as it was).
    Result<quint64> take(const SerialPlace &place);

private:
    Result<quint64> readNumber(const QString &file) const;
    // The file holds `held`; the number after `number` (one of those from `held` on) is
    // beyond 64 bits.
    QString beyondCounter(quint64 held, quint64 number) const;
    QString cannotWrite(const QString &why) const;
    QString m_path;
    quint64 m_start;
    quint64 m_step;
    bool m_prepared = false;
    std::mutex m_lock;
};

namespace durable {
// The file `path` leads to, every link followed (a relative target read from its link's
// folder); where a link leads nowhere yet, the name it leads to. Or why none: a link that
// leads round in a loop, a folder, something that is no regular file.
Result<QString> followLinks(const QString &path);
// The temporary file `replace` writes beside `path`.
QString temporaryFor(const QString &path);
// The temporary file beside `path` gone (or never there), or why it cannot be removed.
Status removeTemporary(const QString &path);
// Whether the user may write `path` by its mode (or it does not exist); why not ("it is
// read-only (mode 444)"). Root may write any file, so its mode decides: a file without any
// write bit is refused to root too.
Status mayWrite(const QString &path);
// `path` holds `data` on the disk: written to the temporary file, given the old file's
// mode and owner, synced, renamed over `path`, and the folder synced; or why not.
Status replace(const QString &path, const QByteArray &data);
// Held while it lives: no other program takes a number from a counter in the same folder.
class FolderLock {
public:
    explicit FolderLock(const QString &path);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    // Empty when the lock is held, else why not.
    const QString &error() const { return m_error; }

private:
    qintptr m_handle = -1;
    QString m_error;
};
}  // namespace durable
