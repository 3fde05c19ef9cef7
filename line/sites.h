// SPDX-License-Identifier: GPL-3.0-or-later
// The sites of a command, each in a thread of its own: its session is made there, its port
// is waited on there, and a fault ends only that thread's work. The command's thread asks,
// starts a job on every site at once and waits for them all, its event loop still running
// so that Ctrl+C reaches every site.
#pragma once

#include "line.h"

#include <QThread>
#include <functional>
#include <memory>
#include <vector>

class Sites {
public:
    Sites(Line &line, const QList<SitePort> &ports);
    ~Sites();
    // `job` on the first `active` sites at once (every site when -1); `done`, in the thread
    // that made the sites, gets each site's status in the order of the sites (0 for a site
    // left idle) once every site has ended. That thread's event loop must run meanwhile.
    void start(const std::function<int(Site &)> &job, int active, std::function<void(std::vector<int>)> done);
    // Every site's wait in hand ends (from any thread).
    void stop();

private:
    struct Worker;
    std::vector<std::unique_ptr<Worker>> m_workers;
    QObject m_home;  // in the thread that made the sites: where the ends are counted
    std::function<int(Site &)> m_job;
    std::vector<int> m_statuses;
    std::size_t m_left = 0;
    std::function<void(std::vector<int>)> m_done;
};
