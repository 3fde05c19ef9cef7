// SPDX-License-Identifier: GPL-3.0-or-later
// The About window and its System Info button.
#include "frmabout.h"

#include "sysinfo.h"
#include "version.h"
#include "windowstyle.h"

#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>

namespace {
QPointer<frmAbout> s_open;

frmAbout::Deps &deps()
{
    static frmAbout::Deps d;
    return d;
}

QFont boldFace(qreal points)
{
    QFont f = designFace(points);
    f.setBold(true);
    return f;
}

void setTextColour(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    w->setPalette(p);
}
}  // namespace

void frmAbout::setDeps(Deps d)
{
    deps() = std::move(d);
}

void frmAbout::showAbout(QWidget *parent)
{
    if (!s_open)
        s_open = new frmAbout(parent);
    s_open->show();
    s_open->raise();
    s_open->activateWindow();
}

frmAbout *frmAbout::openWindow()
{
    return s_open;
}

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The designed client area, 5730 by 3285 twips at 15 twips a pixel.
    setFixedSize(382, 219);
    setFont(designFace(8));

    picIcon = new QLabel(this);
    picIcon->setGeometry(16, 16, 32, 32);
    picIcon->setPixmap(voralithIcon().pixmap(32, 32));

    lblTitle = new QLabel(this);
    lblTitle->setGeometry(70, 14, 296, 30);
    lblTitle->setFont(boldFace(13.5));
    setTextColour(lblTitle, QColor(0, 0, 128));

    lblVersion = new QLabel(this);
    lblVersion->setGeometry(70, 48, 296, 18);

    lblDescription = new QLabel(QStringLiteral("Voralith"), this);
    lblDescription->setGeometry(70, 68, 296, 18);

    Label1 = new QLabel(QStringLiteral("Happy flashing!"), this);
    Label1->setGeometry(70, 94, 296, 36);
    QFont signature;
    signature.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), QStringLiteral("URW Gothic"),
                           QStringLiteral("DejaVu Sans")});
    signature.setStyleHint(QFont::Cursive);
    signature.setPointSize(18);
    signature.setBold(true);
    Label1->setFont(signature);
    setTextColour(Label1, QColor(0, 128, 0));

    // Etched: the grey line drawn over the top of the white one.
    for (int i = 0; i < 2; ++i) {
        Line1[i] = new QFrame(this);
        Line1[i]->setFrameShape(QFrame::NoFrame);
        Line1[i]->setAutoFillBackground(true);
        QPalette p = Line1[i]->palette();
        p.setColor(QPalette::Window, i == 0 ? QColor(255, 255, 255) : QColor(128, 128, 128));
        Line1[i]->setPalette(p);
        Line1[i]->setGeometry(8, 140, 366, i == 0 ? 2 : 1);
    }

    lblDisclaimer = new QLabel(QStringLiteral("Warning : use only AT89C5x with Vpp=12V !"), this);
    lblDisclaimer->setGeometry(16, 154, 240, 48);
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(268, 152, 100, 25);
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setGeometry(268, 184, 100, 25);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    Form_Load();
}

frmAbout::~frmAbout()
{
    if (s_open == this)
        s_open = nullptr;
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + QStringLiteral(VORALITH_TITLE));
    lblVersion->setText(QStringLiteral("Versione %1.%2.%3")
                            .arg(VORALITH_VERSION_MAJOR)
                            .arg(VORALITH_VERSION_MINOR)
                            .arg(VORALITH_VERSION_PATCH));
    lblTitle->setText(QStringLiteral(VORALITH_TITLE));
}

void frmAbout::done(int result)
{
    QDialog::done(result);
    // However it is dismissed (OK, Escape, the close box) the window is unloaded, and
    // from now on "About" builds a new one even before this one is deleted.
    if (s_open == this)
        s_open = nullptr;
    deleteLater();
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::StartSysInfo()
{
    const Deps &d = deps();
    const std::optional<QString> tool = d.findTool ? d.findTool() : findSystemInfoTool();
    if (tool) {
        const bool started = d.startTool ? d.startTool(*tool) : QProcess::startDetached(*tool, {});
        if (started)
            return;
    }
    const QString title = QStringLiteral(VORALITH_TITLE);
    const QString text = QStringLiteral("Le informazioni sul sistema non sono disponibili in questa fase");
    if (d.tell) {
        d.tell(this, title, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
    box.exec();
}
