// SPDX-License-Identifier: GPL-3.0-or-later
// What a production run tells, and to whom: each front end (the command line, the station
// window) implements a Teller and decides how to show it. The sites call it from their own
// threads, at once: an implementation locks, or queues what it is told to its own thread.
#pragma once

#include "operations.h"

#include <QByteArray>
#include <QString>

// One event of a run, as a value that may cross threads: what it is, whose, and the event
// itself as one JSON object (the line --json prints and the log keeps; its keys are a public
// interface, documented in the README).
struct LineEvent {
    enum Kind { Start, Step, Progress, Serial, Result, Round, Summary, Refused, Other };
    Kind kind = Other;
    int site = -1;   // the site's index in the run; -1 for the run's own events
    int round = 0;   // 0 for the run's own events
    QByteArray json;  // without a line end
};

class Teller {
public:
    virtual ~Teller() = default;
    // Texts for a person, of site `site` (-1: the run's own): a result, a failure, a note
    // that goes beside data.
    virtual void result(const QString &text, int site = -1) = 0;
    virtual void failure(const QString &text, int site = -1) = 0;
    virtual void note(const QString &text, int site = -1) = 0;
    // A step of `site` begins: its bar (none is fine).
    virtual Progress step(const QString &name, int site = -1) = 0;
    // The site's last word in a round ("passed", "failed at Write (exit 3)", "empty socket").
    virtual void siteEnds(int site, const QString &word) = 0;
    // An image read into "-": the bytes themselves; false when they could not be written.
    virtual bool data(const QByteArray &bytes) = 0;
    // Every event of the run, in the order each site emits them; progress at most ten a
    // second per site.
    virtual void event(const LineEvent &e) = 0;
};
