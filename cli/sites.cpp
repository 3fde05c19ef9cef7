// SPDX-License-Identifier: GPL-3.0-or-later
// The sites' threads.
#include "sites.h"

#include "site.h"

#include <QEventLoop>

struct Sites::Worker {
    QThread thread;
    QObject *context = nullptr;  // lives in `thread`: what is invoked on it runs there
    std::unique_ptr<Site> site;
};

Sites::Sites(Cli &cli, const QList<SitePort> &ports)
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
            w->context, [worker, &cli, i, &ports] { worker->site = std::make_unique<Site>(cli, i, ports.at(i)); },
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

std::vector<int> Sites::run(const std::function<int(Site &)> &job, int active)
{
    std::vector<int> statuses(m_workers.size(), 0);
    const std::size_t working = active < 0 ? m_workers.size() : std::min(m_workers.size(), std::size_t(active));
    std::size_t left = working;
    QEventLoop wait;
    for (std::size_t i = 0; i < working; ++i) {
        Worker *worker = m_workers[i].get();
        QMetaObject::invokeMethod(
            worker->context,
            [worker, &job, &wait, &statuses, &left, i] {
                const int status = job(*worker->site);
                // Told in the command's thread, which alone counts the sites that are done.
                QMetaObject::invokeMethod(
                    &wait,
                    [&, status, i] {
                        statuses[i] = status;
                        if (--left == 0)
                            wait.quit();
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
    if (left)
        wait.exec();
    return statuses;
}

void Sites::stop()
{
    for (const auto &w : m_workers) {
        Worker *worker = w.get();
        QMetaObject::invokeMethod(
            w->context, [worker] { if (worker->site) worker->site->stop(); }, Qt::QueuedConnection);
    }
}
