// SPDX-License-Identifier: GPL-3.0-or-later
// The station window as every station test builds it: voralith-board processes as its sites,
// a job and its image in a private folder, a scripted question, and what the window shows.
#pragma once

#include "boardtool.h"
#include "sitetile.h"
#include "stationwindow.h"
#include "testfiles.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>
#include <vector>
#include <zlib.h>

struct StationFixture {
    QTemporaryDir dir;
    std::vector<std::unique_ptr<BoardTool>> boards;
    std::unique_ptr<StationWindow> w;
    QStringList asked;   // the questions the window asked
    bool answer = true;  // and the answer each gets

    // A board for each entry of `sites` (its voralith-board options), each logging what it
    // receives; the window made with them as its --port (or with none).
    explicit StationFixture(const QList<QStringList> &sites = {{}, {}, {}}, bool givePorts = true)
    {
        QStringList ports;
        for (int i = 0; i < sites.size(); ++i) {
            boards.push_back(std::make_unique<BoardTool>(QStringList{"--log", wireLog(i)} + sites.at(i)));
            ports << boards.back()->path;
        }
        StationWindow::Deps d;
        if (givePorts)
            d.ports = ports;
        d.ask = [this](const QString &q) {
            asked << q;
            return answer;
        };
        w = std::make_unique<StationWindow>(d);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString wireLog(int site) const { return path(QStringLiteral("wire%1").arg(site)); }
    QByteArray wire(int site) const { return readAll(wireLog(site)); }

    // image.bin holding `image` and demo.job with `keys`, its crc32 that of `crcOf` (the
    // image itself unless given; empty: none).
    QString job(const QByteArray &image, const QString &keys, std::optional<QByteArray> crcOf = {})
    {
        writeFile(path("image.bin"), image);
        QString text = "[job]\nimage=image.bin\n" + keys;
        if (!crcOf || !crcOf->isEmpty()) {
            const QByteArray &of = crcOf ? *crcOf : image;
            const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(of.constData()), uInt(of.size()));
            text += "crc32=" + QStringLiteral("%1\n").arg(quint32(crc), 8, 16, QLatin1Char('0')).toUpper();
        }
        return writeFile(path("demo.job"), text.toUtf8());
    }

    SiteTile &tile(int i) const { return *w->tiles().at(i); }
    // A tile as one line: result, step and reason, serial, counts.
    QString shown(int i) const
    {
        const SiteTile &t = tile(i);
        return QStringList{t.resultText(), t.detailText(), t.serialText(), t.countsText()}.join(" | ");
    }
    QStringList logLines() const
    {
        return QString::fromUtf8(readAll(path("chips.log"))).split('\n', Qt::SkipEmptyParts);
    }
};
