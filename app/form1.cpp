// SPDX-License-Identifier: GPL-3.0-or-later
// Main window: start-up and shut-down, the busy guard, port selection and Identify. The
// controls are laid out in form1_layout.cpp, the file commands and the device operations
// live in form1_file.cpp and form1_ops.cpp.
#include "form1.h"

#include "frmabout.h"
#include "identify.h"
#include "settingsname.h"
#include "wording.h"
#include "version.h"
#include "windowstyle.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace {
const char *const kPortKey = "Parameters/CommPort";
}


Form1::Form1(Deps deps, QWidget *parent)
    : QMainWindow(parent), m_deps(std::move(deps)), m_session(m_deps.work->path())
{
    if (m_deps.prompter) {
        m_prompter = m_deps.prompter;
    } else {
        m_ownPrompter = std::make_unique<WidgetPrompter>();
        m_prompter = m_ownPrompter.get();
    }
    if (m_deps.opener)
        MSComm1.setOpener(m_deps.opener);
    for (const auto &[number, device] : m_deps.portsForThisRun)
        MSComm1.portMap().mapForThisRun(number, device);

    setWindowTitle(QStringLiteral("Voralith"));
    setWindowIcon(voralithIcon());
    buildControls();
    buildMenus();
    setCommandGroupEnabled(false);  // until an identification recognises a chip
    setAcceptDrops(true);
    // Fixed single border: a minimize box, no maximize box, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_stoppable)
            MSComm1.requestStop();
    });

    Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    const QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
    const QString stored = settings.value(QString::fromLatin1(kPortKey), QStringLiteral("2")).toString();
    // A settings file that cannot be read, or not as a whole, is left as it is: written
    // back, it would lose what could not be read, the user's port mappings among it.
    if (settings.status() != QSettings::NoError) {
        m_settingsUnusable = true;
        m_startupProblem = tr("The settings file %1 cannot be read as a whole, so it is left as it is and the "
                              "port chosen will not be remembered. Mend it, or delete it to start afresh.")
                               .arg(settings.fileName());
    }
    bool valid = false;
    const int number = portFromSetting(stored, &valid);
    // The check mark follows the exact text; a value that is no port at all counts as "2".
    markPort(valid ? 0 : 2);
    const char *const texts[] = {"1", "2", "3", "4"};
    for (int i = 0; i < 4; ++i) {
        if (stored == QLatin1String(texts[i])) {
            markPort(i + 1);
            break;
        }
    }
    MSComm1.setPortNumber(number);
    if (Status s = MSComm1.open(); !s)
        m_startupProblem += (m_startupProblem.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                            wording::failure(s.failure(), Audience::Window);
    Ready = true;
}

void Form1::tellStartupProblem()
{
    if (!m_startupProblem.isEmpty()) {
        const QString text = m_startupProblem;
        m_startupProblem.clear();
        prompter().tell(this, QStringLiteral("Comm port"), text, Prompter::Warning);
    }
    tellUnfinishedChanges(QStringLiteral(VORALITH_TITLE));
}

void Form1::tellUnfinishedChanges(const QString &title, const QString &device)
{
    for (const UnfinishedChange &c : unfinishedChanges(work().path(), device)) {
        const QString key = c.device + QLatin1Char('|') + c.started.toString(Qt::ISODateWithMs);
        if (m_toldChanges.contains(key))
            continue;
        m_toldChanges.insert(key);
        prompter().tell(this, title, wording::halfWritten(c, Audience::Window), Prompter::Warning);
    }
}

void Form1::Form_Unload()
{
    m_unloaded = true;
    if (!m_settingsUnusable) {
        QSettings settings(QString::fromLatin1(kSettingsOrganisation), QString::fromLatin1(kSettingsApplication));
        settings.setValue(QString::fromLatin1(kPortKey), QString::number(MSComm1.portNumber()));
        settings.sync();
    }
    MSComm1.close();
    // A file that cannot be deleted stays in the private work folder; the next run
    // replaces it.
    work().removeFiles();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    if (!Ready) {
        // The running operation is ended first, as when its time runs out; the close
        // is carried out as soon as it has let go.
        m_closePending = true;
        MSComm1.requestStop();
        event->ignore();
        return;
    }
    if (!m_unloaded)
        Form_Unload();
    event->accept();
}

Form1::Busy::Busy(Form1 &f) : m_f(f)
{
    m_f.Ready = false;
    // A stop asked for by a close or an Exit still in progress stays asked for.
    if (!m_f.ending())
        m_f.MSComm1.clearStop();
}

Form1::Busy::~Busy()
{
    m_f.commandEnded();
}

void Form1::commandEnded()
{
    m_stoppable = false;
    Ready = true;
    if (m_closePending && !m_exiting)
        QTimer::singleShot(0, this, &QWidget::close);
}

void Form1::showStatusDisplay(bool shown)
{
    // The status widgets are hidden too while the view covers them: never painted, and
    // the label's italic face not even loaded, until a long operation first shows them.
    if (shown) {
        Label5->show();
        ProgressBar1->show();
        Text1->hide();
    } else {
        Text1->show();
        Label5->hide();
        ProgressBar1->hide();
    }
}

Status Form1::ensurePort()
{
    return m_session.open();
}

void Form1::setCommandGroupEnabled(bool enabled)
{
    for (QWidget *w : {static_cast<QWidget *>(BlankCheck), static_cast<QWidget *>(ReadData),
                       static_cast<QWidget *>(Verify), static_cast<QWidget *>(WriteData),
                       static_cast<QWidget *>(ChipErase)})
        w->setEnabled(enabled);
    for (QAction *a : {mnuBlankCheck, mnuReadData, mnuVerify, mnuWriteData, mnuChipErase, mnuLockBits->menuAction()})
        a->setEnabled(enabled);
}

void Form1::IdentifyDevice_Click()
{
    if (!Ready)
        return;
    Busy busy(*this);
    // A port that will not open fails the exchange like any other: the user sees the usual
    // message.
    const Outcome out = m_session.identify(nullptr, [] { QCoreApplication::processEvents(); });
    if (ending())
        return;
    Text4->setText(signatureText(out.signature));
    if (out.ok()) {
        Label4->setText(QString::fromLatin1(out.chip->caption));
        setCommandGroupEnabled(true);
        // A chip there that a change left half-written is the first thing to know about it.
        tellUnfinishedChanges(QStringLiteral("Identification"), MSComm1.devicePath());
        return;
    }
    Label4->setText(QStringLiteral("Device : [unknown]"));
    prompter().tell(this, QStringLiteral("Identification"), wording::text(out, Audience::Window), Prompter::Critical);
    setCommandGroupEnabled(false);
}

void Form1::markPort(int number)
{
    m_markedPort = number;
    const QList<QAction *> items{mnuCom1, mnuCom2, mnuCom3, mnuCom4};
    for (int i = 0; i < items.size(); ++i)
        items[i]->setChecked(i + 1 == number);
}

void Form1::switchPort(int number)
{
    if (!Ready) {
        markPort(m_markedPort);  // the item's own toggle is undone: nothing changes
        return;
    }
    const int previous = MSComm1.portNumber();
    MSComm1.close();
    MSComm1.setPortNumber(number);
    const Status opened = MSComm1.open();
    if (opened) {
        markPort(number);
        return;
    }
    markPort(m_markedPort);
    MSComm1.setPortNumber(previous);
    if (const Status back = MSComm1.open(); !back) {
        prompter().tell(this, QStringLiteral("Comm port"),
                        tr("%1 could not be opened, and %2 could not be opened again: no serial port is open "
                           "now.\n\n%3\n\n%4")
                            .arg(portLabel(number), portLabel(previous), wording::failure(opened.failure(), Audience::Window),
                                 wording::failure(back.failure(), Audience::Window)),
                        Prompter::Warning);
    }
}

void Form1::mnuExit_Click()
{
    // Ends at once: no setting saved, no file deleted.
    m_exiting = true;
    MSComm1.requestStop();
    if (m_deps.exitProgram)
        m_deps.exitProgram();
    else
        QCoreApplication::exit(0);
}

void Form1::mnuAbout_Click()
{
    frmAbout::showAbout(this);
}
