// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls and menus, each at the place the design gives it.
#include "form1.h"

#include "windowstyle.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

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

    buildBuffer(client, frame("Buffer", 60, 1200, 5375, 2895));
}

// The "Buffer" frame: the status display, and the hex view over it.
void Form1::buildBuffer(QWidget *client, QGroupBox *frame)
{
    Frame1 = frame;
    Label5 = new QLabel(QStringLiteral("Wait..."), Frame1);
    place(Label5, 360, 360, 735, 375);
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
