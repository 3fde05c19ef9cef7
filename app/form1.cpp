// SPDX-License-Identifier: GPL-3.0-or-later
// Main window: layout, menus, start-up and shut-down, the busy guard, port selection
// and Identify. The file commands and the device operations live in form1_file.cpp and
// form1_ops.cpp.
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
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace {
// The design is laid out in twips; 15 twips make one pixel at 96 dots per inch.
int px(int twips)
{
    return qRound(twips / 15.0);
}
void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

const char *const kPortKey = "Parameters/CommPort";

// A frame with its caption on the top edge, as the design draws them; the children keep
// the positions measured from the frame's own corner. Painted here rather than through a
// style sheet, which would route every widget of the window through the style sheet
// machinery: half a megabyte more at start and slower repaints.
class CaptionFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QFontMetrics fm = fontMetrics();
        // The caption sits on the edge with four pixels of room each side; the edge runs
        // six pixels below the top.
        const QRect captionRect(6, 0, fm.horizontalAdvance(title()) + 8, fm.height());
        p.setClipRegion(QRegion(rect()).subtracted(captionRect));
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(QRect(0, 6, width() - 1, height() - 7));
        p.setClipping(false);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(captionRect.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
    }
};

}  // namespace

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

void Form1::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(508, 276);
    setCentralWidget(client);

    QFont ui = designFace(8);
    // The design's captions were measured in a narrow 8-point face; a touch of
    // condensing keeps "Length (bytes) :" whole in its place.
    ui.setStretch(94);
    client->setFont(ui);

    auto frame = [&](const char *text, int l, int t, int w, int h) {
        auto *g = new CaptionFrame(QString::fromLatin1(text), client);
        place(g, l, t, w, h);
        return g;
    };
    auto label = [](QWidget *in, const char *text, int l, int t, int w, int h) {
        auto *lb = new QLabel(QString::fromLatin1(text), in);
        place(lb, l, t, w, h);
        return lb;
    };
    auto field = [](QWidget *in, int l, int t, int w, int h) {
        auto *e = new QLineEdit(in);
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::NoFocus);
        place(e, l, t, w, h);
        return e;
    };

    Frame4 = frame("File", 60, 120, 2535, 1015);
    Label1 = label(Frame4, "Name :", 120, 270, 615, 375);
    Text2 = field(Frame4, 720, 240, 1695, 285);
    Label2 = label(Frame4, "Length (bytes) :", 120, 630, 1095, 255);
    Text3 = field(Frame4, 1320, 600, 1095, 285);

    Frame2 = frame("Device", 2710, 120, 2715, 1015);
    Label3 = label(Frame2, "Signature bytes :", 120, 270, 1215, 255);
    Text4 = field(Frame2, 1480, 240, 1095, 285);
    Label4 = label(Frame2, "Device : [unknown]", 120, 630, 2415, 255);

    Frame3 = frame("Commands", 5520, 120, 2055, 3975);
    auto button = [&](const char *caption, int top, void (Form1::*handler)()) {
        auto *b = new QPushButton(QString::fromLatin1(caption), Frame3);
        place(b, 240, top, 1575, 495);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    IdentifyDevice = button("Identify Device", 360, &Form1::IdentifyDevice_Click);
    BlankCheck = button("Blank Check", 960, &Form1::BlankCheck_Click);
    ReadData = button("Read data", 1560, &Form1::ReadData_Click);
    Verify = button("Verify", 2160, &Form1::Verify_Click);
    WriteData = button("Write data", 2760, &Form1::WriteData_Click);
    ChipErase = button("Chip Erase", 3360, &Form1::ChipErase_Click);

    Frame1 = frame("Buffer", 60, 1200, 5375, 2895);
    Label5 = label(Frame1, "Wait...", 360, 360, 735, 375);
    {
        QFont f = designFace(12);
        f.setStretch(QFont::Unstretched);  // not the captions' condensing
        f.setItalic(true);
        Label5->setFont(f);
        QPalette p = Label5->palette();
        p.setColor(QPalette::WindowText, QColor(0, 0, 192));
        Label5->setPalette(p);
    }
    ProgressBar1 = new ScaledProgressBar(Frame1);
    place(ProgressBar1, 360, 840, 4695, 255);
    ProgressBar1->setMaximumValue(100);
    ProgressBar1->setCurrentValue(1);

    // The hex view lies over the inside of the "Buffer" frame and hides the status display.
    Text1 = new QPlainTextEdit(client);
    place(Text1, 150, 1440, 5175, 2535);
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono;
    mono.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("DejaVu Sans Mono")});
    mono.setStyleHint(QFont::TypeWriter);
    // The view only ever holds printable ASCII, which every such face has: no other face is
    // looked for to fill in, and none of it needs shaping.
    mono.setStyleStrategy(QFont::StyleStrategy(QFont::PreferNoShaping | QFont::NoFontMerging));
    mono.setFixedPitch(true);
    mono.setPointSizeF(9.75);
    mono.setStretch(QFont::Unstretched);
    Text1->setFont(mono);
    Text1->setPlainText(QStringLiteral("Voralith for AT89C5x - 7 Dec 2026"));
    Text1->raise();
    showStatusDisplay(false);
}

void Form1::buildMenus()
{
    auto item = [this](QMenu *menu, const char *caption, void (Form1::*handler)()) {
        QAction *a = menu->addAction(QString::fromLatin1(caption));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuOpen = item(mnuFile, "&Open", &Form1::mnuOpen_Click);
    mnuSave = item(mnuFile, "&Save", &Form1::mnuSave_Click);
    mnuFile->addSeparator();
    mnuExit = item(mnuFile, "&Exit", &Form1::mnuExit_Click);

    mnuActions = menuBar()->addMenu(QStringLiteral("&Actions"));
    mnuIdentifyDevice = item(mnuActions, "Identify Device", &Form1::mnuIdentifyDevice_Click);
    mnuBlankCheck = item(mnuActions, "Blank Check", &Form1::mnuBlankCheck_Click);
    mnuReadData = item(mnuActions, "Read Data", &Form1::mnuReadData_Click);
    mnuVerify = item(mnuActions, "Verify", &Form1::mnuVerify_Click);
    mnuWriteData = item(mnuActions, "Write Data", &Form1::mnuWriteData_Click);
    mnuChipErase = item(mnuActions, "Chip Erase", &Form1::mnuChipErase_Click);
    mnuLockBits = mnuActions->addMenu(QStringLiteral("&Protection"));
    mnuLockBit1 = item(mnuLockBits, "Program Lock Bit &1", &Form1::mnuLockBit1_Click);
    mnuLockBit2 = item(mnuLockBits, "Program Lock Bit &2", &Form1::mnuLockBit2_Click);
    mnuLockBit3 = item(mnuLockBits, "Program Lock bit &3", &Form1::mnuLockBit3_Click);
    mnuAllLockBits = item(mnuLockBits, "Program &All lock bits", &Form1::mnuAllLockBits_Click);

    mnuCommPort = menuBar()->addMenu(QStringLiteral("&Comm port"));
    mnuCom1 = item(mnuCommPort, "Com1", &Form1::mnuCom1_Click);
    mnuCom2 = item(mnuCommPort, "Com2", &Form1::mnuCom2_Click);
    mnuCom3 = item(mnuCommPort, "Com3", &Form1::mnuCom3_Click);
    mnuCom4 = item(mnuCommPort, "Com4", &Form1::mnuCom4_Click);
    for (QAction *a : {mnuCom1, mnuCom2, mnuCom3, mnuCom4})
        a->setCheckable(true);

    mnuWhatIsThis = menuBar()->addMenu(QStringLiteral("&?"));
    mnuAbout = item(mnuWhatIsThis, "&About", &Form1::mnuAbout_Click);
}

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
