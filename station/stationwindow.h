// SPDX-License-Identifier: GPL-3.0-or-later
// The production station's window: a job, one tile per site, the lot's counts and times, and
// the last results. A thin front end over the line: it chooses the settings from the job and
// the sites, starts and stops rounds, and shows what the line tells; it never talks to a board.
#pragma once

#include "line.h"
#include "stationjob.h"
#include "stationteller.h"

#include <QMainWindow>
#include <QSet>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QGridLayout;
class QLabel;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;
class SiteTile;

class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Deps {
        QStringList ports;  // the sites given on the command line (devices or ComN)
        // A question with a yes and a no (closing during a round); a message box unless given.
        std::function<bool(const QString &question)> ask;
        // After this many rounds the lot ends and `finished` is called with its status (0: never).
        int rounds = 0;
        std::function<void(int status)> finished;
    };
    explicit StationWindow(Deps deps, QWidget *parent = nullptr);
    ~StationWindow() override;
    void setFinished(std::function<void(int status)> finished) { m_deps.finished = std::move(finished); }

    // File, Open job: shown, or the refusal shown; false when refused.
    bool openJob(const QString &path);
    // The sites to use instead of the ones found (Lot, Sites); false when refused.
    bool setSites(const QStringList &given);
    // Space, Enter, Start: a round on every site (the lot begins with the first).
    void startRound();
    // Escape, Stop: every site stops after the byte in hand; the lot ends with the round.
    void stop();
    // Lot, End lot: the lot's summary recorded, and the job and the sites free to change.
    void endLot();

    bool lotRunning() const { return m_line != nullptr; }
    bool roundRunning() const { return m_roundRunning; }

    // What the window shows, for the tests.
    QList<SiteTile *> tiles() const { return m_tiles; }
    QLabel *jobLabel() const { return m_jobText; }
    QLabel *countsLabel() const { return m_counts; }
    QLabel *timesLabel() const { return m_times; }
    QLabel *messageLabel() const { return m_message; }
    QTreeWidget *resultList() const { return m_results; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *stopButton() const { return m_stop; }
    QAction *openAction() const { return m_openAction; }
    QAction *sitesAction() const { return m_sitesAction; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildLayout();
    void chooseSites();
    void showJob();
    void showSites();
    void showLot();
    void showMessage(const QString &text, bool failure);
    void refreshControls();
    bool beginLot();
    void roundEnded(const RoundEnd &end);
    void finishLot(int status);
    void onEvent(const LineEvent &e);
    void onTold(StationTeller::Kind kind, const QString &text, int site);
    void addResultRow(const QJsonObject &o, int site);

    Deps m_deps;
    StationTeller m_teller;
    std::optional<StationJob> m_job;
    QString m_jobRefusal;
    QStringList m_givenSites;  // Lot, Sites: these instead of the ones found
    QList<SitePort> m_ports;
    bool m_sitesFromJob = false;  // else the job's own are overridden, as the records say
    QString m_sitesRefusal;
    std::unique_ptr<PgStore> m_store;  // the job's store, for a lot
    std::unique_ptr<Records> m_records;
    std::unique_ptr<Line> m_line;
    bool m_roundRunning = false;
    bool m_closeWhenDone = false;
    bool m_lotDone = false;  // the job's lot is whole: no chip more until a job is opened
    int m_rounds = 0;
    int m_worst = 0;

    // The lot's figures, from the results.
    int m_passed = 0, m_failed = 0, m_empty = 0, m_toGo = -1;
    qint64 m_timeSum = 0, m_fastest = 0, m_slowest = 0;
    int m_timed = 0;

    QVBoxLayout *m_column = nullptr;
    QLabel *m_jobText = nullptr;
    QWidget *m_tileArea = nullptr;
    QGridLayout *m_tileGrid = nullptr;
    QList<SiteTile *> m_tiles;
    // The bars that moved, drawn together at the next frame: one repaint for every site.
    QSet<SiteTile *> m_barsDue;
    QTimer m_barFrame;
    QLabel *m_counts = nullptr;
    QLabel *m_times = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QTreeWidget *m_results = nullptr;
    QAction *m_openAction = nullptr;
    QAction *m_sitesAction = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_endAction = nullptr;
};
