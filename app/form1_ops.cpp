// SPDX-License-Identifier: GPL-3.0-or-later
// Device operations of the window: confirmations, the status display and the messages;
// the exchanges themselves are the core's.
#include "form1.h"

#include "image.h"
#include "operations.h"
#include "program.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPlainTextEdit>


// The bar and the view as every long operation drives them.
static Progress barProgress(Form1 &w)
{
    return Progress{[&w](double m) { w.ProgressBar1->setMaximumValue(m); },
                    [&w](double v) { w.ProgressBar1->setCurrentValue(v); }};
}

// A failure that ends an operation is told, unless the window is closing.
static void tellFailure(Form1 &w, const QString &title, const Failure &f)
{
    if (!w.ending())
        w.prompter().tell(&w, title, f.message, f.kind == Failure::Stopped ? Prompter::Information
                                                                          : Prompter::Critical);
}

void Form1::BlankCheck_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    const QString title = QStringLiteral("Blank Check");
    if (Status s = ensurePort(); !s) {
        tellFailure(*this, title, s.failure());
        return;
    }
    showStatusDisplay(true);
    setStoppable(true);
    const auto blank = blankCheck(board, chipSize(), barProgress(*this));
    setStoppable(false);
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
    if (!blank) {
        tellFailure(*this, title, blank.failure());
        return;
    }
    if (ending())
        return;
    if (blank.value())
        prompter().tell(this, title, QStringLiteral("Device is erased."), Prompter::Information);
    else
        prompter().tell(this, title, QStringLiteral("Device contains data."), Prompter::Warning);
}

void Form1::ReadData_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    if (Status s = ensurePort(); !s) {
        tellFailure(*this, QStringLiteral("Read Data"), s.failure());
        return;
    }
    showStatusDisplay(true);
    setStoppable(true);
    // The chip's bytes are gathered first; the buffer file is replaced only when all of
    // them are in, so a read that does not complete leaves the image the user had.
    const auto data = readDevice(board, chipSize(), barProgress(*this));
    setStoppable(false);
    auto finish = [this] {
        ProgressBar1->setCurrentValue(1);
        showStatusDisplay(false);
    };
    if (!data) {
        finish();
        tellFailure(*this, QStringLiteral("Read Data"), data.failure());
        return;
    }
    const QString buffer = work().bufferPath();
    if (Status s = writeFileSafely(buffer, data.value()); !s) {
        finish();
        tellFailure(*this, QStringLiteral("Read Data"),
                    Failure{tr("The chip was read, but the buffer file was not written. %1").arg(s.message())});
        return;
    }
    FileName = buffer;
    const Status listed = DisplayBuffer(Image{data.value(), buffer, ImageFormat::Binary});
    finish();
    if (!listed)
        tellFailure(*this, QStringLiteral("Read Data"), listed.failure());
}

void Form1::Verify_Click()
{
    if (!Ready || FileName.isEmpty())
        return;
    Busy busy(*this);
    const QString title = QStringLiteral("Write Data");
    // The image file is read again before anything is sent, so a rebuilt file is what is
    // compared; one gone or refused since it was listed is told, and the board not touched.
    const auto image = currentImage();
    if (!image) {
        tellFailure(*this, title, image.failure());
        return;
    }
    if (Status s = requireData(image.value()); !s) {
        tellFailure(*this, title, s.failure());
        return;
    }
    if (Status s = ensurePort(); !s) {
        tellFailure(*this, title, s.failure());
        return;
    }
    showStatusDisplay(true);
    ProgressBar1->setMaximumValue(FileLength + 1);
    setStoppable(true);
    const auto result = verifyDevice(board, image.value().bytes, barProgress(*this));
    setStoppable(false);
    if (!result) {
        ProgressBar1->setCurrentValue(1);
        showStatusDisplay(false);
        tellFailure(*this, title, result.failure());
        return;
    }
    if (!ending()) {
        if (const auto &d = result.value()) {
            prompter().tell(this, title,
                            QStringLiteral("It isn't the same : ") + hexNumber(d->address) +
                                QStringLiteral(" h expexted ") + hexNumber(d->expected) + QStringLiteral("h read ") +
                                hexNumber(d->read) + QStringLiteral("h"),
                            Prompter::NoIcon);
        } else {
            prompter().tell(this, title, QStringLiteral("Equal."), Prompter::NoIcon);
        }
    }
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
}

void Form1::WriteData_Click()
{
    if (!Ready || FileName.isEmpty())
        return;
    const QString title = QStringLiteral("Write Data");
    if (prompter().message(this, title, confirmationText(), Prompter::OkCancel, Prompter::Warning, Prompter::Cancel) !=
        Prompter::Ok) {
        showStatusDisplay(false);
        return;
    }
    showStatusDisplay(true);
    Busy busy(*this);
    // Escape counts from here: the events let in next may already hold it.
    setStoppable(true);
    QCoreApplication::processEvents();
    auto finish = [this] {
        ProgressBar1->setCurrentValue(1);
        showStatusDisplay(false);
    };
    // Read again now: a file rebuilt since it was listed is what is programmed.
    const auto image = currentImage();
    Status usable = image ? requireData(image.value()) : Status(image.failure());
    if (!usable) {
        finish();
        tellFailure(*this, title, usable.failure());
        return;
    }
    showStatusDisplay(true);  // a listing made again above ends with the view shown
    if (Status s = ensurePort(); !s) {
        finish();
        tellFailure(*this, title, s.failure());
        return;
    }
    auto change = ChipChange::begin(work().path(), MSComm1.devicePath(), QStringLiteral("Write"));
    if (!change) {
        finish();
        tellFailure(*this, title, change.failure());
        return;
    }
    ProgressBar1->setMaximumValue(FileLength);
    const auto result = writeDevice(board, image.value().bytes, chipSize(), barProgress(*this), [&](const Mismatch &m) {
        if (!ending())
            prompter().tell(this, title,
                            QStringLiteral("Error in ") + hexNumber(m.address) + QStringLiteral("h : write ") +
                                hexNumber(m.written) + QStringLiteral("h read ") + hexNumber(m.read) +
                                QStringLiteral("h"),
                            Prompter::NoIcon);
    });
    setStoppable(false);
    ProgressBar1->setCurrentValue(1);
    if (!result) {
        showStatusDisplay(false);
        tellFailure(*this, title, result.failure());
        return;
    }
    change.value().completed();
    if (!ending()) {
        if (result.value().mismatches == 0)
            prompter().tell(this, title, QStringLiteral("Device was succesfully programmed."), Prompter::Information);
        else
            prompter().tell(this, title, QStringLiteral("Some errors are occurred."), Prompter::Critical);
    }
    showStatusDisplay(false);
}

void Form1::ChipErase_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    const QString title = QStringLiteral("Erase Chip");
    if (prompter().message(this, title, confirmationText(), Prompter::OkCancel, Prompter::Warning, Prompter::Cancel) !=
        Prompter::Ok)
        return;
    Status done = ensurePort();
    if (done) {
        auto change = ChipChange::begin(work().path(), MSComm1.devicePath(), QStringLiteral("Chip Erase"));
        done = change ? eraseDevice(board) : Status(change.failure());
        if (done)
            change.value().completed();
    }
    if (!done)
        tellFailure(*this, title, done.failure());
}

// The lock-bit commands: the explanation in Msg, one confirmation, then "1" once per
// lock bit to program.
void Form1::lockBitCommand(const QString &text, int times)
{
    if (!Ready)
        return;
    Busy busy(*this);
    Msg = text;
    const QString title = QStringLiteral("Program Lock Bit 1");
    if (prompter().message(this, title, confirmationText(Msg), Prompter::OkCancel, Prompter::Warning,
                           Prompter::Cancel) != Prompter::Ok)
        return;
    Status done = ensurePort();
    if (done) {
        auto change = ChipChange::begin(work().path(), MSComm1.devicePath(), QStringLiteral("lock bit programming"));
        done = change ? lockDevice(board, times) : Status(change.failure());
        if (done)
            change.value().completed();
    }
    if (!done)
        tellFailure(*this, title, done.failure());
}

void Form1::mnuLockBit1_Click()
{
    lockBitCommand(lockBitsExplanation(1));
}

void Form1::mnuLockBit2_Click()
{
    lockBitCommand(lockBitsExplanation(2));
}

void Form1::mnuLockBit3_Click()
{
    lockBitCommand(lockBitsExplanation(3));
}

// All three lock bits: one confirmation with the strongest text, then as if the three
// items had been chosen one after another.
void Form1::mnuAllLockBits_Click()
{
    lockBitCommand(lockBitsExplanation(3), 3);
}
