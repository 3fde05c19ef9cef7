// SPDX-License-Identifier: GPL-3.0-or-later
// A job as the station takes it: checked (a CRC-32 is required, the image must give it), its
// image loaded, and the line's settings it asks for; the sites are chosen beside it.
#pragma once

#include "checksums.h"
#include "image.h"
#include "job.h"
#include "line.h"
#include "pgstore.h"

#include <optional>

struct StationJob {
    Job job;
    Image image;
    ImageSums sums;
    LineSettings settings;  // all but the ports
    QString logPath;        // empty: no log
    QString com;            // the job's com, as voralith-cli's --com takes it
    QStringList ports;      // the devices the job names
    std::optional<StoreOptions> store;  // the store the job's numbers and records go to
};

// The keys a job may hold: voralith-cli's options (those that take no value are flags).
JobKeys stationJobKeys();
// The job at `path`, or why the station refuses it.
Result<StationJob> openStationJob(const QString &path);
// The image read again and checked against the job (a rebuilt file is caught before a lot).
Status reloadImage(StationJob &job);
// The next number the counter file holds, as text; empty when it cannot be read.
QString nextSerial(const StationJob &job);
