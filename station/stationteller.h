// SPDX-License-Identifier: GPL-3.0-or-later
// The station's Teller: what the sites tell from their threads, queued to the window's thread
// as values (signals of an object that lives there), so that the window alone touches widgets.
#pragma once

#include "teller.h"

#include <QObject>

Q_DECLARE_METATYPE(LineEvent)

class StationTeller : public QObject, public Teller {
    Q_OBJECT
public:
    enum class Kind { Result, Failure, Note, SiteEnds };
    Q_ENUM(Kind)

    explicit StationTeller(QObject *parent = nullptr);

    void result(const QString &text, int site = -1) override { emit told(Kind::Result, text, site); }
    void failure(const QString &text, int site = -1) override { emit told(Kind::Failure, text, site); }
    void note(const QString &text, int site = -1) override { emit told(Kind::Note, text, site); }
    // The tiles' bars come from the progress events, which the core throttles.
    Progress step(const QString &, int) override { return {}; }
    void siteEnds(int site, const QString &word) override { emit told(Kind::SiteEnds, word, site); }
    bool data(const QByteArray &) override { return false; }
    void event(const LineEvent &e) override { emit happened(e); }
    // QObject's own event() stays as it is.
    using QObject::event;

signals:
    // Connected with Qt::QueuedConnection: delivered in the receiver's thread, in the order
    // each site told them.
    void told(StationTeller::Kind kind, const QString &text, int site);
    void happened(const LineEvent &e);
};
