// SPDX-License-Identifier: GPL-3.0-or-later
// The station's window: its layout, the job and the sites, the lot's rounds, and how each
// event of the line is shown.
#include "stationwindow.h"

#include "chips.h"
#include "outcome.h"
#include "portmap.h"
#include "records.h"
#include "sitetile.h"
#include "windowstyle.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int keptResults = 500;  // rows of the list; the log keeps every one
constexpr int tilesPerRow = 4;
// The bars move at most this often, all together: smooth to the eye, and each site's progress
// (ten a second) costs no repaint of its own.
constexpr int barFrameMs = 100;

// "10 241": digits in threes, as an operator reads a number off a label.
QString grouped(qint64 n)
{
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0 && digits.at(at - 1).isDigit(); at -= 3)
        digits.insert(at, QChar(0x00A0));
    return digits;
}

QString seconds(qint64 ms)
{
    return QStringLiteral("%1 s").arg(double(ms) / 1000, 0, 'f', 1);
}

// "Blank check" for "blank": the steps as the window and the shell name them.
QString stepTitle(const QString &json)
{
    for (Step s : {Step::Identify, Step::Erase, Step::BlankCheck, Step::Read, Step::Write, Step::Verify, Step::Lock})
        if (jsonStep(s) == json)
            return stepName(s);
    return json;
}

QString serialOf(const QJsonValue &v)
{
    return v.isDouble() ? grouped(v.toInteger()) : QString();
}

QLabel *label(const QString &text, qreal points, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(designFace(points));
    return l;
}
}  // namespace

StationWindow::StationWindow(Deps deps, QWidget *parent) : QMainWindow(parent), m_deps(std::move(deps))
{
    if (!m_deps.ask)
        m_deps.ask = [this](const QString &question) {
            return QMessageBox::question(this, QStringLiteral("Voralith Station"), question) == QMessageBox::Yes;
        };
    setWindowTitle(QStringLiteral("Voralith Station"));
    buildMenus();
    buildLayout();
    m_barFrame.setSingleShot(true);
    m_barFrame.setInterval(barFrameMs);
    connect(&m_barFrame, &QTimer::timeout, this, [this] {
        for (SiteTile *tile : std::as_const(m_barsDue))
            tile->showBar();
        m_barsDue.clear();
    });
    connect(&m_teller, &StationTeller::happened, this, &StationWindow::onEvent, Qt::QueuedConnection);
    connect(&m_teller, &StationTeller::told, this, &StationWindow::onTold, Qt::QueuedConnection);
    chooseSites();
    showJob();
    showLot();
    refreshControls();
    resize(1000, 720);
    if (m_deps.rounds > 0)
        QTimer::singleShot(0, this, [this] {
            startRound();
            if (!m_roundRunning && m_deps.finished)
                m_deps.finished(2);
        });
}

StationWindow::~StationWindow()
{
    if (m_line) {
        m_line->stop(2, QStringLiteral("stopped: the station was closed"));
        finishLot(m_worst);
    }
}

void StationWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    m_openAction = file->addAction(QStringLiteral("&Open job..."), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open job"), QString(),
                                                          QStringLiteral("Jobs (*.job *.ini);;All files (*)"));
        if (!path.isEmpty())
            openJob(path);
    });
    m_openAction->setShortcut(QKeySequence::Open);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu *lot = menuBar()->addMenu(QStringLiteral("&Lot"));
    m_startAction = lot->addAction(QStringLiteral("&Start round"), this, &StationWindow::startRound);
    m_startAction->setShortcuts({Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter});
    m_stopAction = lot->addAction(QStringLiteral("S&top"), this, &StationWindow::stop);
    m_stopAction->setShortcut(Qt::Key_Escape);
    m_endAction = lot->addAction(QStringLiteral("&End lot"), this, &StationWindow::endLot);
    lot->addSeparator();
    m_sitesAction = lot->addAction(QStringLiteral("S&ites..."), this, [this] {
        QStringList names;
        for (const SitePort &p : m_ports)
            names << p.name;
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Sites"),
                                                   QStringLiteral("Devices or ComN, separated by commas:"),
                                                   QLineEdit::Normal, names.join(QStringLiteral(", ")), &ok);
        if (ok)
            setSites(text.split(QLatin1Char(','), Qt::SkipEmptyParts));
    });
    // The shortcuts work wherever the window has the keyboard, the menus closed.
    for (QAction *a : {m_startAction, m_stopAction})
        addAction(a);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About"), this, [this] {
        QMessageBox::about(this, QStringLiteral("Voralith Station"),
                           QStringLiteral("Voralith Station %1\nA production station over the programmer boards.")
                               .arg(QApplication::applicationVersion()));
    });
}

void StationWindow::buildLayout()
{
    auto *central = new QWidget(this);
    auto *column = m_column = new QVBoxLayout(central);
    column->setContentsMargins(10, 8, 10, 10);
    column->setSpacing(8);

    auto panel = [central](QLayout *inside) {
        auto *f = new QFrame(central);
        f->setFrameShape(QFrame::StyledPanel);
        f->setAutoFillBackground(true);
        QPalette p = f->palette();
        p.setColor(QPalette::Window, Qt::white);
        f->setPalette(p);
        f->setLayout(inside);
        return f;
    };

    m_jobText = label(QString(), 11, central);
    m_jobText->setTextFormat(Qt::RichText);
    m_jobText->setWordWrap(true);
    auto *jobBox = new QVBoxLayout;
    jobBox->addWidget(m_jobText);
    column->addWidget(panel(jobBox));

    m_tileArea = new QWidget(central);
    m_tileGrid = new QGridLayout(m_tileArea);
    m_tileGrid->setContentsMargins(0, 0, 0, 0);
    m_tileGrid->setSpacing(8);
    column->addWidget(m_tileArea, 3);

    auto *lotRow = new QHBoxLayout;
    auto *figures = new QVBoxLayout;
    m_counts = label(QString(), 17, central);
    m_times = label(QString(), 11, central);
    m_message = label(QString(), 11, central);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setFocusPolicy(Qt::NoFocus);
    figures->addWidget(m_counts);
    figures->addWidget(m_times);
    figures->addWidget(m_message);
    lotRow->addLayout(figures, 1);
    auto button = [central](const QString &text, QColor back, QAction *action) {
        auto *b = new QPushButton(text, central);
        b->setFont(designFace(15));
        b->setMinimumSize(150, 52);
        // Space and Enter start a round wherever the keyboard is: no button takes them.
        b->setFocusPolicy(Qt::NoFocus);
        QPalette p = b->palette();
        p.setColor(QPalette::Active, QPalette::Button, back);
        p.setColor(QPalette::Inactive, QPalette::Button, back);
        p.setColor(QPalette::ButtonText, Qt::white);
        // Unavailable, it steps back: pale, so that the one to press stands out.
        p.setColor(QPalette::Disabled, QPalette::Button, QColor(0xE0, 0xE0, 0xE0));
        p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9E, 0x9E, 0x9E));
        b->setPalette(p);
        connect(b, &QPushButton::clicked, action, &QAction::trigger);
        return b;
    };
    m_start = button(QStringLiteral("Start  ␣"), QColor(0x15, 0x65, 0xC0), m_startAction);
    m_stop = button(QStringLiteral("Stop  Esc"), QColor(0x61, 0x61, 0x61), m_stopAction);
    lotRow->addWidget(m_start, 0, Qt::AlignVCenter);
    lotRow->addWidget(m_stop, 0, Qt::AlignVCenter);
    column->addWidget(panel(lotRow));

    m_results = new QTreeWidget(central);
    m_results->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Site"), QStringLiteral("Result"),
                                QStringLiteral("Serial"), QStringLiteral("CRC-32"), QStringLiteral("Chip"),
                                QStringLiteral("Step / reason")});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->setFocusPolicy(Qt::NoFocus);
    m_results->setSelectionMode(QAbstractItemView::NoSelection);
    m_results->setFont(designFace(10.5));
    const int widths[] = {80, 50, 70, 90, 90, 80};
    for (int i = 0; i < 6; ++i)
        m_results->setColumnWidth(i, widths[i]);
    m_results->setMinimumHeight(110);
    column->addWidget(m_results, 2);
    setCentralWidget(central);
}

bool StationWindow::openJob(const QString &path)
{
    if (m_line)
        return false;
    Result<StationJob> job = openStationJob(path);
    if (!job) {
        m_job.reset();
        m_jobRefusal = job.message();
        setWindowTitle(QStringLiteral("Voralith Station"));
        showJob();
        showMessage(m_jobRefusal, true);
        chooseSites();
        refreshControls();
        return false;
    }
    m_job = job.value();
    m_jobRefusal.clear();
    m_lotDone = false;
    setWindowTitle(QStringLiteral("Voralith Station — ") + m_job->job.name);
    showMessage(QString(), false);
    showJob();
    chooseSites();
    refreshControls();
    return true;
}

bool StationWindow::setSites(const QStringList &given)
{
    if (m_line)
        return false;
    m_givenSites.clear();
    for (const QString &g : given)
        if (!g.trimmed().isEmpty())
            m_givenSites << g.trimmed();
    chooseSites();
    refreshControls();
    return m_sitesRefusal.isEmpty();
}

// The sites: named here (Lot, Sites, or --port), else the ports the settings map, else the job's.
void StationWindow::chooseSites()
{
    QStringList given = !m_givenSites.isEmpty() ? m_givenSites : m_deps.ports;
    if (given.isEmpty())
        for (int number : PortMap::storedMappings().keys())
            given << portLabel(number);
    m_sitesFromJob = given.isEmpty() && m_job;
    if (m_sitesFromJob)
        given = m_job->ports;
    m_ports.clear();
    m_sitesRefusal.clear();
    if (given.isEmpty()) {
        m_sitesRefusal = QStringLiteral("No sites: give --port for each board, map the ports in [Ports] of the "
                                        "settings, or name them in the job (port=).");
    } else {
        Result<QList<SitePort>> ports = sitePorts(given, m_job ? m_job->com : QString());
        if (ports)
            m_ports = ports.value();
        else
            m_sitesRefusal = ports.message();
    }
    showSites();
    if (!m_sitesRefusal.isEmpty() && (m_job || !m_deps.ports.isEmpty() || !m_givenSites.isEmpty()))
        showMessage(m_sitesRefusal, true);
}

void StationWindow::showSites()
{
    m_barsDue.clear();
    for (SiteTile *t : std::as_const(m_tiles))
        delete t;
    m_tiles.clear();
    const int n = int(m_ports.size());
    const int columns = n <= tilesPerRow ? std::max(n, 1) : std::min(tilesPerRow, (n + 1) / 2);
    // Two rows of tiles take room from the list, which scrolls.
    m_column->setStretchFactor(m_tileArea, n > columns ? 6 : 3);
    for (int i = 0; i < n; ++i) {
        auto *tile = new SiteTile(i + 1, m_ports.at(i).name, m_tileArea);
        m_tileGrid->addWidget(tile, i / columns, i % columns);
        m_tiles << tile;
    }
}

void StationWindow::showJob()
{
    if (!m_job) {
        m_jobText->setText(QStringLiteral("<b>No job open.</b> File, Open job (Ctrl+O) takes a job file."));
        return;
    }
    const StationJob &j = *m_job;
    const LineSettings &s = j.settings;
    auto item = [](const QString &key, const QString &value) {
        return QStringLiteral("<b>%1</b>&nbsp;%2").arg(key, value.toHtmlEscaped());
    };
    const QString gap = QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
    QStringList first{item(QStringLiteral("Job"), QFileInfo(j.job.path).fileName()),
                      item(QStringLiteral("Image"), QFileInfo(j.job.image).fileName()),
                      QStringLiteral("%1 bytes").arg(grouped(j.sums.length)),
                      item(QStringLiteral("CRC-32"), QStringLiteral("%1").arg(j.sums.crc32, 8, 16, QLatin1Char('0')).toUpper()),
                      item(QStringLiteral("Chip"), s.wanted ? QStringLiteral("AT") + QLatin1String(s.wanted->name)
                                                            : QStringLiteral("any known"))};
    if (s.lockBits)
        first << item(QStringLiteral("Lock"), QString::number(s.lockBits));
    if (!s.erase)
        first << QStringLiteral("no erase");
    QStringList second;
    if (s.serial) {
        const QString next = nextSerial(j);
        second << item(QStringLiteral("Serial numbers"),
                       QStringLiteral("%1:%2 %3 from %4%5")
                           .arg(QString::number(s.serial->address, 16).toUpper())
                           .arg(s.serial->size)
                           .arg(s.serial->formatName(), QFileInfo(s.serialFile).fileName(),
                                next.isEmpty() ? QString() : QStringLiteral(" (next %1)").arg(grouped(next.toLongLong()))));
    } else {
        second << QStringLiteral("<b>Serial numbers</b>&nbsp;none");
    }
    second << item(QStringLiteral("Log"), j.logPath.isEmpty() ? QStringLiteral("none") : QFileInfo(j.logPath).fileName());
    second << item(QStringLiteral("Lot"), s.lot ? QStringLiteral("%1 chips").arg(grouped(s.lot)) : QStringLiteral("no end"));
    m_jobText->setText(first.join(gap) + QStringLiteral("<br>") + second.join(gap));
    m_jobText->setToolTip(j.job.path);
}

void StationWindow::showLot()
{
    QString counts = QStringLiteral("Passed %1").arg(grouped(m_passed));
    if (m_job && m_job->settings.lot)
        counts += QStringLiteral(" of %1").arg(grouped(m_job->settings.lot));
    counts += QStringLiteral("    Failed %1    Empty %2").arg(grouped(m_failed), grouped(m_empty));
    if (m_job && m_job->settings.lot)
        counts += QStringLiteral("    To go %1")
                      .arg(grouped(m_toGo >= 0 ? m_toGo : std::max(0, m_job->settings.lot - m_passed)));
    m_counts->setText(counts);
    const int chips = m_passed + m_failed;
    QString times = QStringLiteral("Yield %1").arg(
        chips ? QStringLiteral("%1 %").arg(100.0 * m_passed / chips, 0, 'f', 1) : QStringLiteral("—"));
    times += QStringLiteral("    Time per chip %1")
                 .arg(m_timed ? QStringLiteral("%1 (fastest %2, slowest %3)")
                                    .arg(seconds(m_timeSum / m_timed), seconds(m_fastest), seconds(m_slowest))
                              : QStringLiteral("—"));
    times += QStringLiteral("    Round %1").arg(m_rounds);
    m_times->setText(times);
}

void StationWindow::showMessage(const QString &text, bool failure)
{
    QPalette p = m_message->palette();
    p.setColor(QPalette::WindowText, failure ? QColor(0xB7, 0x1C, 0x1C) : palette().color(QPalette::WindowText));
    m_message->setPalette(p);
    m_message->setText(text);
}

void StationWindow::refreshControls()
{
    const bool ready = m_job && !m_ports.isEmpty() && !m_lotDone;
    m_startAction->setEnabled(ready && !m_roundRunning && !m_closeWhenDone);
    m_stopAction->setEnabled(m_roundRunning);
    m_endAction->setEnabled(m_line && !m_roundRunning);
    // While a lot runs its job and its sites stay as they are.
    m_openAction->setEnabled(!m_line);
    m_sitesAction->setEnabled(!m_line);
    m_start->setEnabled(m_startAction->isEnabled());
    m_stop->setEnabled(m_stopAction->isEnabled());
}

bool StationWindow::beginLot()
{
    if (!m_job || m_ports.isEmpty())
        return false;
    // The image as it is now: a file rebuilt since the job was opened is caught here.
    if (Status s = reloadImage(*m_job); !s) {
        showMessage(s.message(), true);
        return false;
    }
    std::unique_ptr<PgStore> store;
    if (m_job->store) {
        // Refused before anything is sent: a store that cannot be reached, or is not ours.
        store = std::make_unique<PgStore>(*m_job->store);
        QStringList notes;
        if (Status s = store->open(&notes); !s) {
            showMessage(s.message() + QStringLiteral(" Nothing was programmed."), true);
            return false;
        }
    }
    auto records = std::make_unique<Records>(m_teller);
    if (!m_job->logPath.isEmpty()) {
        // No chip is worked on without its record.
        if (Status opened = records->openLog(m_job->logPath); !opened) {
            showMessage(QStringLiteral("The log %1 cannot be opened: %2. Nothing was programmed.")
                            .arg(m_job->logPath, opened.failure().message),
                        true);
            return false;
        }
        records->setLogPath(m_job->logPath);
    }
    LineSettings settings = m_job->settings;
    settings.ports = m_ports;
    settings.store = store.get();
    records->setStore(store.get());
    records->setLot(settings.lot);
    auto line = std::make_unique<Line>(settings, m_teller, *records);
    line->setImage(m_job->image);
    if (Status s = line->checkSerial(m_job->image); !s) {
        showMessage(s.message(), true);
        return false;
    }
    m_store = std::move(store);
    m_records = std::move(records);
    m_line = std::move(line);
    m_passed = m_failed = m_empty = m_timed = m_rounds = m_worst = 0;
    m_toGo = -1;
    m_timeSum = m_fastest = m_slowest = 0;
    showSites();
    showLot();
    if (!m_records->logWarning().isEmpty())
        showMessage(m_records->logWarning(), true);
    else
        showMessage(QString(), false);
    // As voralith-cli --job records it: the job, and what the station put in place of its own.
    QStringList overrides;
    if (!m_job->ports.isEmpty() && !m_sitesFromJob)
        overrides << QStringLiteral("port");
    m_line->start(JsonLine().add("job", m_job->job.path).add("overrides", QJsonArray::fromStringList(overrides)));
    return true;
}

void StationWindow::startRound()
{
    if (m_roundRunning || m_closeWhenDone || m_lotDone || !m_job || m_ports.isEmpty())
        return;
    if (!m_line && !beginLot())
        return;
    // After Escape the lot goes on with the next round, its counts kept.
    m_line->resume();
    m_roundRunning = true;
    refreshControls();
    m_line->startRound([this](const RoundEnd &end) { roundEnded(end); });
}

void StationWindow::stop()
{
    if (!m_roundRunning)
        return;
    m_line->stop(2, QStringLiteral("stopped by the operator"));
    if (m_store)
        m_store->stop();
    showMessage(QStringLiteral("Stopping every site after the byte in hand..."), false);
}

void StationWindow::endLot()
{
    if (!m_line || m_roundRunning)
        return;
    finishLot(m_failed ? m_worst : 0);
    showMessage(QStringLiteral("The lot was ended after %1 round%2.").arg(m_rounds).arg(m_rounds == 1 ? "" : "s"), false);
}

void StationWindow::roundEnded(const RoundEnd &end)
{
    m_roundRunning = false;
    m_rounds = end.round;
    m_worst = end.worst;
    m_passed = end.total.passed;
    m_failed = end.total.failed;
    m_empty = end.total.empty;
    m_toGo = end.toGo;
    showLot();
    showJob();  // the next serial number
    const int status = end.total.failed ? end.worst : 0;
    const bool stopped = m_line->stopped();
    const bool enough = m_deps.rounds > 0 && m_rounds >= m_deps.rounds;
    if (end.mustEnd || m_closeWhenDone || enough) {
        if (end.toGo == 0) {
            m_lotDone = true;
            showMessage(QStringLiteral("The lot of %1 is done. File, Open job starts the next.")
                            .arg(grouped(m_job->settings.lot)),
                        false);
        }
        // The line is let go once its round has returned.
        QTimer::singleShot(0, this, [this, status] {
            finishLot(status);
            if (m_closeWhenDone)
                close();
            else if (m_deps.rounds > 0 && m_deps.finished)
                m_deps.finished(status);
        });
    } else if (stopped) {
        showMessage(QStringLiteral("Stopped in round %1; Start goes on with the lot, Lot, End lot ends it.").arg(m_rounds),
                    false);
    } else if (m_deps.rounds > 0) {
        QTimer::singleShot(0, this, &StationWindow::startRound);
    }
    refreshControls();
}

void StationWindow::finishLot(int status)
{
    if (!m_line)
        return;
    m_records->summary(status);
    m_line.reset();
    if (m_store) {
        // What the store could not take while it was away, tried once more; what it still
        // lacks is in the log and the list above.
        m_records->setStore(nullptr);
        if (const QStringList missing = m_store->flushPending(); !missing.isEmpty())
            showMessage(QStringLiteral("The store %1 does not have the results of %2.")
                            .arg(m_store->shownName(), missing.join(QLatin1String(", "))),
                        true);
        m_store.reset();
    }
    m_records.reset();
    refreshControls();
}

void StationWindow::onEvent(const LineEvent &e)
{
    if (e.site < 0 || e.site >= m_tiles.size())
        return;
    SiteTile *tile = m_tiles.at(e.site);
    if (tile->round() != e.round && e.kind != LineEvent::Result)
        tile->newRound(e.round);
    const QJsonObject o = QJsonDocument::fromJson(e.json).object();
    switch (e.kind) {
    case LineEvent::Step: tile->stepStarts(stepTitle(o.value(QLatin1String("step")).toString())); break;
    case LineEvent::Progress:
        if (tile->progress(o.value(QLatin1String("done")).toInteger(), o.value(QLatin1String("total")).toInteger())) {
            m_barsDue.insert(tile);
            if (!m_barFrame.isActive())
                m_barFrame.start();
        }
        break;
    case LineEvent::Serial: tile->serialTaken(serialOf(o.value(QLatin1String("serial")))); break;
    case LineEvent::Result: {
        if (tile->round() != e.round)
            tile->newRound(e.round);
        const QString result = o.value(QLatin1String("result")).toString();
        const SiteTile::Look look = result == QLatin1String("passed")  ? SiteTile::Look::Passed
                                    : result == QLatin1String("empty") ? SiteTile::Look::Empty
                                                                       : SiteTile::Look::Failed;
        QString detail;
        if (look != SiteTile::Look::Passed) {
            // The first paragraph: what happened; what to check follows it in the tooltip.
            const QString message = o.value(QLatin1String("message")).toString();
            detail = message.section(QStringLiteral("\n\n"), 0, 0).simplified();
            const QString step = stepTitle(o.value(QLatin1String("step")).toString());
            if (look == SiteTile::Look::Failed && !step.isEmpty() && !detail.startsWith(step))
                detail = step + QStringLiteral(": ") + detail;
        }
        const QString serial = serialOf(o.value(QLatin1String("serial")));
        tile->setChip(o.value(QLatin1String("chip")).toString());
        tile->ends(look, detail,
                   serial.isEmpty() ? QString()
                                    : QStringLiteral("serial %1%2").arg(serial, look == SiteTile::Look::Passed
                                                                                     ? QString()
                                                                                     : QStringLiteral(" (spent)")));
        ++(look == SiteTile::Look::Passed ? m_passed : look == SiteTile::Look::Empty ? m_empty : m_failed);
        if (look == SiteTile::Look::Passed) {
            // Time per chip: of good chips, which went through every step.
            const qint64 ms = o.value(QLatin1String("duration_ms")).toInteger();
            m_timeSum += ms;
            m_fastest = m_timed ? std::min(m_fastest, ms) : ms;
            m_slowest = std::max(m_slowest, ms);
            ++m_timed;
        }
        if (m_job && m_job->settings.lot)
            m_toGo = std::max(0, m_job->settings.lot - m_passed);
        showLot();
        addResultRow(o, e.site);
        break;
    }
    default: break;
    }
}

void StationWindow::addResultRow(const QJsonObject &o, int site)
{
    const QString result = o.value(QLatin1String("result")).toString();
    QString crc = QStringLiteral("—");
    const QJsonObject image = o.value(QLatin1String("image")).toObject();
    if (!image.isEmpty())
        crc = image.value(QLatin1String("crc32")).toString();
    else if (result == QLatin1String("passed") && m_job)
        crc = QStringLiteral("%1").arg(m_job->sums.crc32, 8, 16, QLatin1Char('0')).toUpper();
    QString reason;
    if (result != QLatin1String("passed")) {
        const QString step = stepTitle(o.value(QLatin1String("step")).toString());
        const QString message = o.value(QLatin1String("message")).toString().section(QStringLiteral("\n\n"), 0, 0).simplified();
        reason = step.isEmpty() || result == QLatin1String("empty") || message.startsWith(step)
                     ? message
                     : step + QStringLiteral(": ") + message;
    }
    const QString serial = serialOf(o.value(QLatin1String("serial")));
    const QString chip = o.value(QLatin1String("chip")).toString();
    auto *row = new QTreeWidgetItem(QStringList{o.value(QLatin1String("time")).toString().mid(11, 8),
                                                QString::number(site + 1), result,
                                                serial.isEmpty() ? QStringLiteral("—") : serial, crc,
                                                chip.isEmpty() ? QStringLiteral("—") : chip, reason});
    if (result == QLatin1String("failed"))
        for (int c = 0; c < row->columnCount(); ++c)
            row->setForeground(c, QColor(0xB7, 0x1C, 0x1C));
    row->setToolTip(6, o.value(QLatin1String("message")).toString());
    m_results->insertTopLevelItem(0, row);
    while (m_results->topLevelItemCount() > keptResults)
        delete m_results->takeTopLevelItem(m_results->topLevelItemCount() - 1);
}

void StationWindow::onTold(StationTeller::Kind kind, const QString &text, int site)
{
    if (kind == StationTeller::Kind::SiteEnds || text.isEmpty())
        return;
    if (site >= 0) {
        // A site's own words beside its result (a half-written chip, a spent number).
        if (kind != StationTeller::Kind::Result && site < m_tiles.size())
            m_tiles.at(site)->tell(text);
        return;
    }
    showMessage(text, kind == StationTeller::Kind::Failure);
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (m_roundRunning) {
        // The round ends cleanly first; the window closes when its last site has ended.
        if (!m_closeWhenDone) {
            if (!m_deps.ask(QStringLiteral("A round is running. Stop every site after the byte in hand and close?"))) {
                event->ignore();
                return;
            }
            m_closeWhenDone = true;
            m_line->stop(2, QStringLiteral("stopped: the window was closed"));
            refreshControls();
        }
        event->ignore();
        return;
    }
    finishLot(m_failed ? m_worst : 0);
    event->accept();
}
