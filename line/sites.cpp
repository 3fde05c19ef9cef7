// SPDX-License-Identifier: GPL-3.0-or-later
// The sites' threads.
#include "sites.h"

#include "site.h"


struct Sites::Worker {
    QThread thread;
    QObject *context = nullptr;  // lives in `thread`: what is invoked on it runs there
    std::unique_ptr<Site> site;
};

Sites::Sites(Line &line, const QList<SitePort> &ports)
{
    for (int i = 0; i < ports.size(); ++i) {
        auto w = std::make_unique<Worker>();
        w->thread.setObjectName(ports.at(i).name);
        w->thread.start();
        w->context = new QObject;
        w->context->moveToThread(&w->thread);
        // A Qt object lives in the thread that made it: the session's port and timers too.
        Worker *worker = w.get();
        QMetaObject::invokeMethod(
            w->context, [worker, &line, i, &ports] { worker->site = std::make_unique<Site>(line, i, ports.at(i)); },
            Qt::BlockingQueuedConnection);
        m_workers.push_back(std::move(w));
    }
}

Sites::~Sites()
{
    for (const auto &w : m_workers) {
        Worker *worker = w.get();
        QMetaObject::invokeMethod(w->context, [worker] { worker->site.reset(); }, Qt::BlockingQueuedConnection);
        w->thread.quit();
        w->thread.wait();
        delete w->context;
    }
}

void Sites::start(const std::function<int(Site &)> &job, int active, std::function<void(std::vector<int>)> done)
{
    m_job = job;
    m_done = std::move(done);
    m_statuses.assign(m_workers.size(), 0);
    const std::size_t working = active < 0 ? m_workers.size() : std::min(m_workers.size(), std::size_t(active));
    m_left = working;
    if (m_left == 0) {
        // Nothing to wait for, but the end is still told from the event loop, as always.
        QMetaObject::invokeMethod(&m_home, [this] { std::exchange(m_done, {})(m_statuses); }, Qt::QueuedConnection);
        return;
    }
    for (std::size_t i = 0; i < working; ++i) {
        Worker *worker = m_workers[i].get();
        QMetaObject::invokeMethod(
            worker->context,
            [this, worker, i] {
                const int status = m_job(*worker->site);
                // Told in the home thread, which alone counts the sites that are done.
                QMetaObject::invokeMethod(
                    &m_home,
                    [this, status, i] {
                        m_statuses[i] = status;
                        if (--m_left == 0)
                            std::exchange(m_done, {})(m_statuses);
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
}

void Sites::stop()
{
    for (const auto &w : m_workers) {
        Worker *worker = w.get();
        QMetaObject::invokeMethod(
            w->context, [worker] { if (worker->site) worker->site->stop(); }, Qt::QueuedConnection);
    }
}
