// SPDX-License-Identifier: GPL-3.0-or-later
// Device operations of the window: confirmations, the status display and the messages;
// the exchanges themselves are the core's.
#include "form1.h"

#include "image.h"
#include "operations.h"
#include "wholechip.h"
#include "wording.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <algorithm>
#include <memory>


// The bar as every long operation drives it, counting as the window always has: a blank
// check its reads of four bytes from 1, a read its bytes from 1, a verify from 1 to the
// image's length and 1, a write its bytes.
static ProgressFor barFor(Form1 &w)
{
    return [&w](Step step) {
        // The maximum set again only when it changes: each setting draws the bar at once.
        auto shownMaximum = std::make_shared<double>(-1);
        return Progress{[&w, step, shownMaximum](qint64 done, qint64 total) {
            double maximum = double(total), value = double(done);
            switch (step) {
            case Step::BlankCheck:
                maximum = double(total / 4);
                value = double(done / 4 + 1);
                break;
            case Step::Read:
                value = double(std::max<qint64>(done, 1));
                break;
            case Step::Verify:
                maximum = double(total + 1);
                value = double(done + 1);
                break;
            default:
                break;
            }
            if (maximum != *shownMaximum) {
                *shownMaximum = maximum;
                w.ProgressBar1->setMaximumValue(maximum);
            }
            w.ProgressBar1->setCurrentValue(value);
            return true;
        }};
    };
}

// A failure that ends an operation is told, unless the window is closing.
static void tellFailure(Form1 &w, const QString &title, const Failure &f)
{
    if (!w.ending())
        w.prompter().tell(&w, title, wording::failure(f, Audience::Window),
                          f.kind == Failure::Stopped ? Prompter::Information : Prompter::Critical);
}

// What a command found, as the window tells it: a failure of the line or the port as a
// failure, a result with the icon the command gives it.
static void tellOutcome(Form1 &w, const QString &title, const Outcome &o, Prompter::Icon icon)
{
    if (o.kind == Outcome::LinkFailure || o.kind == Outcome::NotOpened || o.kind == Outcome::NoteRefused) {
        tellFailure(w, title, o.failure);
        return;
    }
    const QString text = wording::text(o, Audience::Window);
    if (!w.ending() && !text.isEmpty())
        w.prompter().tell(&w, title, text, icon);
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
    const Outcome blank = m_session.blankCheck(barFor(*this));
    setStoppable(false);
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
    tellOutcome(*this, title, blank, blank.ok() ? Prompter::Information : Prompter::Warning);
}

void Form1::ReadData_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    const QString title = QStringLiteral("Read Data");
    if (Status s = ensurePort(); !s) {
        tellFailure(*this, title, s.failure());
        return;
    }
    showStatusDisplay(true);
    setStoppable(true);
    // The chip's bytes are gathered first; the buffer file is replaced only when all of
    // them are in, so a read that does not complete leaves the image the user had.
    const Outcome read = m_session.read(barFor(*this));
    setStoppable(false);
    auto finish = [this] {
        ProgressBar1->setCurrentValue(1);
        showStatusDisplay(false);
    };
    if (!read.ok()) {
        finish();
        tellFailure(*this, title, read.failure);
        return;
    }
    const QString buffer = work().bufferPath();
    if (Status s = writeFileSafely(buffer, read.data); !s) {
        finish();
        tellFailure(*this, title,
                    Failure{tr("The chip was read, but the buffer file was not written. %1").arg(s.message())});
        return;
    }
    FileName = buffer;
    const Status listed = DisplayBuffer(Image{read.data, buffer, ImageFormat::Binary});
    finish();
    if (!listed)
        tellFailure(*this, title, listed.failure());
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
    Status usable = image ? requireData(image.value()) : Status(image.failure());
    if (usable)
        usable = ensurePort();
    if (!usable) {
        tellFailure(*this, title, usable.failure());
        return;
    }
    showStatusDisplay(true);
    ProgressBar1->setMaximumValue(FileLength + 1);
    setStoppable(true);
    const Outcome verified = m_session.verify(image.value().bytes, barFor(*this));
    setStoppable(false);
    // A failure is told once the view is back; a result while the bar still shows the end.
    if (verified.kind == Outcome::LinkFailure) {
        ProgressBar1->setCurrentValue(1);
        showStatusDisplay(false);
    }
    tellOutcome(*this, title, verified, Prompter::NoIcon);
    ProgressBar1->setCurrentValue(1);
    showStatusDisplay(false);
}

void Form1::WriteData_Click()
{
    if (!Ready || FileName.isEmpty())
        return;
    const QString title = QStringLiteral("Write Data");
    if (prompter().message(this, title, wording::confirmationText(), Prompter::OkCancel, Prompter::Warning, Prompter::Cancel) !=
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
    if (usable) {
        showStatusDisplay(true);  // a listing made again above ends with the view shown
        usable = ensurePort();
    }
    if (!usable) {
        finish();
        tellFailure(*this, title, usable.failure());
        return;
    }
    ProgressBar1->setMaximumValue(FileLength);
    const Outcome written = m_session.write(image.value().bytes, barFor(*this), [&](const Mismatch &m) {
        if (!ending())
            prompter().tell(this, title, wording::wrongByte(m), Prompter::NoIcon);
    });
    setStoppable(false);
    ProgressBar1->setCurrentValue(1);
    if (written.kind == Outcome::NoteRefused)
        finish();
    else if (written.kind == Outcome::LinkFailure)
        showStatusDisplay(false);
    tellOutcome(*this, title, written, written.ok() ? Prompter::Information : Prompter::Critical);
    showStatusDisplay(false);
}

void Form1::ChipErase_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    const QString title = QStringLiteral("Erase Chip");
    if (prompter().message(this, title, wording::confirmationText(), Prompter::OkCancel, Prompter::Warning, Prompter::Cancel) !=
        Prompter::Ok)
        return;
    tellOutcome(*this, title, m_session.erase(), Prompter::NoIcon);
}

// The lock-bit commands: the explanation in Msg, one confirmation, then "1" once per
// lock bit to program.
void Form1::lockBitCommand(const QString &text, int times)
{
    if (!Ready)
        return;
    Busy busy(*this);
    const QString Msg = text;
    const QString title = QStringLiteral("Program Lock Bit 1");
    if (prompter().message(this, title, wording::confirmationText(Msg), Prompter::OkCancel, Prompter::Warning,
                           Prompter::Cancel) != Prompter::Ok)
        return;
    tellOutcome(*this, title, m_session.lock(times), Prompter::NoIcon);
}

void Form1::mnuLockBit1_Click()
{
    lockBitCommand(wording::lockBitsExplanation(1));
}

void Form1::mnuLockBit2_Click()
{
    lockBitCommand(wording::lockBitsExplanation(2));
}

void Form1::mnuLockBit3_Click()
{
    lockBitCommand(wording::lockBitsExplanation(3));
}

// All three lock bits: one confirmation with the strongest text, then as if the three
// items had been chosen one after another.
void Form1::mnuAllLockBits_Click()
{
    lockBitCommand(wording::lockBitsExplanation(3), 3);
}
