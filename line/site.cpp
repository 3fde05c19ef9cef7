// SPDX-License-Identifier: GPL-3.0-or-later
// What a site does to its chip for each command, and what it tells and records of it.
#include "site.h"

#include "checksums.h"
#include "outputfile.h"
#include "wholechip.h"
#include "wording.h"

Site::Site(Line &line, int index, const SitePort &port)
    : m_line(line), m_t(line.teller()), m_index(index), m_name(port.name), m_session(WorkFolder::defaultLocation())
{
    m_link.setNaming(SerialLink::Naming::ByDevice);
    for (const auto &[number, device] : port.mapped)
        m_link.portMap().mapForThisRun(number, device);
    if (!port.given.isEmpty())
        m_link.setGivenName(port.given);
    m_link.setPortNumber(port.number);
}

void Site::newRound(int round)
{
    // A stop that ended an earlier round, since let go of by the line, does not end this one.
    if (!m_line.stopped())
        m_link.clearStop();
    m_round = round;
    m_roundTime.start();
    m_recorded = false;
    m_result.clear();
    m_step.reset();
    m_id = Outcome();
    m_lastFailure.clear();
    m_serial.reset();
    m_chipImage.clear();
}

Status Site::serialFits(const ChipInfo &chip) const
{
    const SerialPlace &place = *m_line.settings().serial;
    if (place.end() <= chip.size)
        return {};
    return Failure{place.beyond(chip.size, QStringLiteral("the %1 in the socket").arg(wording::chipName(chip))) +
                   QStringLiteral(" Nothing was written.")};
}

Status Site::takeSerial(QByteArray *image)
{
    if (Status s = m_line.takeSerial(m_name, m_round, &m_serial); !s)
        return s;
    const SerialPlace &place = *m_line.settings().serial;
    *image = withSerial(*image, place, *place.bytes(*m_serial));
    m_chipImage = *image;
    return {};
}

void Site::tellSerial(bool passed, const Image &image)
{
    if (!m_serial) {
        if (passed)
            printSums(image.path, image.bytes);
        return;
    }
    if (passed)
        result(QStringLiteral("%1 with serial number %2: %3")
                   .arg(image.path)
                   .arg(*m_serial)
                   .arg(sumsText(imageSums(m_chipImage))));
    else if (!m_chipImage.isEmpty())  // a number spent before any byte went in was told so
        m_t.failure(QStringLiteral("Serial number %1 went to this chip and is not given again.").arg(*m_serial),
                    m_index);
}

ProgressFor Site::steps()
{
    return [this](Step step) {
        stepStarts(step);
        return m_line.records().progress(m_name, m_index, m_round, step, m_t.step(stepName(step), m_index));
    };
}

void Site::stepStarts(Step step)
{
    m_step = step;
    m_line.records().step(m_name, m_index, m_round, step);
}

void Site::printSums(const QString &path, const QByteArray &bytes)
{
    result(path + QStringLiteral(": ") + sumsText(imageSums(bytes)));
}

void Site::tellUnfinishedChanges()
{
    for (const UnfinishedChange &c : m_session.unfinishedChanges())
        m_t.failure(wording::halfWritten(c, Audience::Shell), m_index);
}

int Site::report(const Outcome &o)
{
    const QString text = wording::text(o, Audience::Shell);
    const int status = exitFor(o);
    record(o, status == NoBoard && stopped() ? m_line.stopStatus() : status);
    if (status == Success) {
        if (!text.isEmpty())
            result(text);
        return Success;
    }
    if (status == NoBoard)
        return boardFailure(text);
    return failure(text, status);
}

int Site::openAndIdentify()
{
    if (Status s = m_session.open(); !s)
        return boardFailure(wording::failure(s.failure(), Audience::Shell));
    tellUnfinishedChanges();
    stepStarts(Step::Identify);
    m_id = m_session.identify(m_line.settings().wanted);
    if (!m_id.ok())
        return report(m_id);
    return Success;
}

// The window writes what fits and leaves the rest out without a word; a script gets a
// refusal instead, before anything is sent.
int Site::identifyFor(const Image &image)
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    const ChipInfo &chip = *m_id.chip;
    if (image.bytes.size() <= chip.size)
        return Success;
    return failure(wording::tooLong(image.path, image.bytes.size(), chip), Usage);
}

void Site::ends(int status)
{
    recordFailure(status);
    QString word = m_result;
    if (m_result == QLatin1String("empty"))
        word = QStringLiteral("empty socket");
    else if (status != Success)
        word = m_step ? QStringLiteral("failed at %1 (exit %2)").arg(stepName(*m_step)).arg(status)
                      : QStringLiteral("failed (exit %1)").arg(status);
    m_t.siteEnds(m_index, word);
}

int Site::identify()
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    return report(m_id);
}

int Site::blank()
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    return report(m_session.blankCheck(steps()));
}

int Site::read(const QString &path, ImageFormat format)
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    const Outcome read = m_session.read(steps());
    if (!read.ok())
        return report(read);
    // The image itself on standard output goes through the terminal's checked writes (a
    // reader that has gone ends the command quietly); its figures go beside it, not into it.
    if (isStandardOutput(path)) {
        if (!m_t.data(encodeImage(read.data, format)))
            return Usage;
        record(read, Success, JsonLine().add("file", path).append(sumsFields(read.data)));
        m_t.note(path + QStringLiteral(": ") + sumsText(imageSums(read.data)), m_index);
        return Success;
    }
    if (Status s = saveImage(Image{read.data, QString(), format}, path, format); !s)
        return failure(s.message(), Usage);
    record(read, Success, JsonLine().add("file", path).append(sumsFields(read.data)));
    printSums(path, read.data);
    return Success;
}

int Site::write(const Image &image)
{
    if (int e = identifyFor(image); e != Success)
        return e;
    QByteArray bytes = image.bytes;
    if (m_line.settings().serial) {
        Outcome withheld = m_id;
        withheld.operation = Operation::Write;
        withheld.step = Step::Write;
        withheld.kind = Outcome::Withheld;
        Status s = serialFits(*m_id.chip);
        if (s)
            s = takeSerial(&bytes);
        if (!s) {
            withheld.failure = s.failure();
            return report(withheld);
        }
    }
    const int paddedFrom = bytes.size() > image.bytes.size() ? int(image.bytes.size()) : -1;
    const int status = report(m_session.write(
        bytes, steps(), [this](const Mismatch &m) { m_t.failure(wording::wrongByte(m), m_index); },
        paddedFrom));
    tellSerial(status == Success, image);
    return status;
}

int Site::verify(const Image &image)
{
    if (int e = identifyFor(image); e != Success)
        return e;
    const int status = report(m_session.verify(image.bytes, steps()));
    if (status == Success)
        printSums(image.path, image.bytes);
    return status;
}

int Site::erase()
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    stepStarts(Step::Erase);
    return report(m_session.erase());
}

int Site::lock(int bits)
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    stepStarts(Step::Lock);
    return report(m_session.lock(bits));
}

SiteChip Site::programChip(const Image &image, const QString &label)
{
    Outcome outcome;
    if (Status s = m_session.open(); !s) {
        outcome.operation = Operation::Program;
        outcome.kind = Outcome::NotOpened;
        outcome.failure = s.failure();
    } else {
        tellUnfinishedChanges();
        BoardSession::ProgramOptions options;
        options.erase = m_line.settings().erase;
        options.wanted = m_line.settings().wanted;
        options.lockBits = m_line.settings().lockBits;
        if (m_line.settings().serial) {
            options.checkChip = [this](const ChipInfo &chip) { return serialFits(chip); };
            options.beforeWrite = [this](QByteArray *bytes) { return takeSerial(bytes); };
        }
        outcome = m_session.program(image.bytes, options, steps());
    }
    const QString text = label + wording::text(outcome, Audience::Shell);
    SiteChip chip;
    if (outcome.ok()) {
        record(outcome, Success);
        result(text);
        tellSerial(true, image);
        chip.result = QStringLiteral("passed");
        return chip;
    }
    if (outcome.kind == Outcome::NoChip && boardSaysEmpty(outcome.signature) && m_line.settings().repeat) {
        // With --repeat an empty socket is no failure: the next chip is awaited. A board
        // that does not answer is no empty socket.
        record(outcome, Success);
        failure(wording::text(outcome, Audience::Shell), Success);
        chip.result = QStringLiteral("empty");
        return chip;
    }
    // Nothing was sent when the note could not be kept, and no chip can be programmed
    // without it.
    chip.noteRefused = outcome.kind == Outcome::NoteRefused;
    chip.status = chip.noteRefused ? int(Usage) : stopped() ? m_line.stopStatus() : exitFor(outcome);
    chip.result = QStringLiteral("failed");
    record(outcome, chip.status);
    failure(text, chip.status);
    tellSerial(false, image);
    return chip;
}
