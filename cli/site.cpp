// SPDX-License-Identifier: GPL-3.0-or-later
// What a site does to its chip for each command, and what it tells and records of it.
#include "site.h"

#include "outputfile.h"
#include "wholechip.h"
#include "wording.h"

Site::Site(Cli &cli, int index, const SitePort &port)
    : m_cli(cli), m_t(cli.terminal()), m_index(index), m_name(port.name), m_session(WorkFolder::defaultLocation())
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
    m_round = round;
    m_roundTime.start();
    m_recorded = false;
    m_result.clear();
    m_step.reset();
    m_id = Outcome();
    m_lastFailure.clear();
}

ProgressFor Site::steps(double maximum)
{
    return [this, maximum](Step step) {
        stepStarts(step);
        const Progress bar =
            m_cli.records().progress(m_name, m_round, step, m_t.step(stepName(step), m_index));
        if (maximum > 0)
            bar.maximum(maximum);
        return bar;
    };
}

void Site::stepStarts(Step step)
{
    m_step = step;
    m_cli.records().step(m_name, m_round, step);
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
    record(o, status == NoBoard && stopped() ? int(Usage) : status);
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
    m_id = m_session.identify(m_cli.wanted());
    if (!m_id.ok())
        return report(m_id);
    return Success;
}

// The window writes what fits and leaves the rest out without a word; a script gets a
// refusal instead, before anything is sent.
int Site::fitsChip(const Image &image)
{
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
    if (int e = openAndIdentify(); e != Success)
        return e;
    if (int e = fitsChip(image); e != Success)
        return e;
    const int status = report(m_session.write(image.bytes, steps(image.bytes.size()), [this](const Mismatch &m) {
        m_t.failure(wording::wrongByte(m), m_index);
    }));
    if (status == Success)
        printSums(image.path, image.bytes);
    return status;
}

int Site::verify(const Image &image)
{
    if (int e = openAndIdentify(); e != Success)
        return e;
    if (int e = fitsChip(image); e != Success)
        return e;
    const int status = report(m_session.verify(image.bytes, steps(image.bytes.size() + 1)));
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

Site::Chip Site::programChip(const Image &image, const QString &label)
{
    Outcome outcome;
    if (Status s = m_session.open(); !s) {
        outcome.operation = Operation::Program;
        outcome.kind = Outcome::NotOpened;
        outcome.failure = s.failure();
    } else {
        tellUnfinishedChanges();
        BoardSession::ProgramOptions options;
        options.erase = !m_cli.noErase();
        options.wanted = m_cli.wanted();
        outcome = m_session.program(image.bytes, options, steps());
    }
    const QString text = label + wording::text(outcome, Audience::Shell);
    Chip chip;
    if (outcome.ok()) {
        record(outcome, Success);
        result(text);
        printSums(image.path, image.bytes);
        chip.result = QStringLiteral("passed");
        return chip;
    }
    if (outcome.kind == Outcome::NoChip && m_cli.repeating()) {
        // With --repeat an empty socket is no failure: the next chip is awaited.
        record(outcome, Success);
        failure(wording::text(outcome, Audience::Shell), Success);
        chip.result = QStringLiteral("empty");
        return chip;
    }
    // Nothing was sent when the note could not be kept, and no chip can be programmed
    // without it.
    chip.noteRefused = outcome.kind == Outcome::NoteRefused;
    chip.status = chip.noteRefused ? int(Usage) : stopped() ? int(Usage) : exitFor(outcome);
    chip.result = QStringLiteral("failed");
    record(outcome, chip.status);
    failure(text, chip.status);
    return chip;
}
