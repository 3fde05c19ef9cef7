// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: every control of the design at its place, the program state the
// commands share, and one click handler per command. The handlers are thin: they hold
// the busy guard, drive the controls, and call the widget-free core for the exchange.
#pragma once

#include "boardsession.h"
#include "image.h"
#include "progressbar.h"
#include "prompter.h"
#include "seriallink.h"
#include "workfolder.h"

#include <QMainWindow>
#include <QSet>
#include <functional>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    struct Deps {
        std::shared_ptr<WorkFolder> work;          // required
        Prompter *prompter = nullptr;              // null: the real dialogs
        SerialLink::Opener opener;                 // null: real serial ports
        QList<QPair<int, QString>> portsForThisRun; // --com N=DEVICE
        std::function<void()> exitProgram;         // null: leave the event loop
    };
    explicit Form1(Deps deps, QWidget *parent = nullptr);
    ~Form1() override;

private:
    // Made first: the serial port below is the session's.
    Deps m_deps;
    BoardSession m_session;
    // Program state, as the commands share it; the chip identified is the session's.
    QString FileName;
    qint32 FileLength = 0;
    bool Ready = false;
    friend struct WindowFixture;

public:
    const QString &fileName() const { return FileName; }
    bool ready() const { return Ready; }
    // The chip the last identification recognised; null before one, or after one that failed.
    const ChipInfo *chip() const { return m_session.chip(); }

    // Controls (designer names).
    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    QLineEdit *Text2, *Text3, *Text4;
    QPlainTextEdit *Text1;
    ScaledProgressBar *ProgressBar1;
    QPushButton *IdentifyDevice, *BlankCheck, *ReadData, *Verify, *WriteData, *ChipErase;
    QMenu *mnuFile, *mnuActions, *mnuLockBits, *mnuCommPort, *mnuWhatIsThis;
    QAction *mnuOpen, *mnuSave, *mnuExit;
    QAction *mnuIdentifyDevice, *mnuBlankCheck, *mnuReadData, *mnuVerify, *mnuWriteData, *mnuChipErase;
    QAction *mnuLockBit1, *mnuLockBit2, *mnuLockBit3, *mnuAllLockBits;
    QAction *mnuCom1, *mnuCom2, *mnuCom3, *mnuCom4;
    QAction *mnuAbout;

    SerialLink &MSComm1 = m_session.link();

    WorkFolder &work() { return *m_deps.work; }
    Prompter &prompter() { return *m_prompter; }
    // The problem met at start-up (a port that would not open), told once after the
    // window is shown; empty when there was none.
    QString startupProblem() const { return m_startupProblem; }

public slots:
    // Handlers, named after their controls.
    void IdentifyDevice_Click();
    void BlankCheck_Click();
    void ReadData_Click();
    void Verify_Click();
    void WriteData_Click();
    void ChipErase_Click();
    void mnuOpen_Click();
    void mnuSave_Click();
    void mnuExit_Click();
    void mnuAbout_Click();
    void mnuLockBit1_Click();
    void mnuLockBit2_Click();
    void mnuLockBit3_Click();
    void mnuAllLockBits_Click();
    void mnuCom1_Click() { switchPort(1); }
    void mnuCom2_Click() { switchPort(2); }
    void mnuCom3_Click() { switchPort(3); }
    void mnuCom4_Click() { switchPort(4); }
    void mnuIdentifyDevice_Click() { IdentifyDevice_Click(); }
    void mnuBlankCheck_Click() { BlankCheck_Click(); }
    void mnuReadData_Click() { ReadData_Click(); }
    void mnuVerify_Click() { Verify_Click(); }
    void mnuWriteData_Click() { WriteData_Click(); }
    void mnuChipErase_Click() { ChipErase_Click(); }

    // Tells the start-up problem, if any, and any chip change left unfinished; main calls
    // it once the window is shown.
    void tellStartupProblem();

protected:
    void closeEvent(QCloseEvent *event) override;
    // A file dropped onto the window is opened as File, Open opens it.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

public:
    // Busy guard: `Ready` false for the life of the object, true again on every path out.
    // A window close asked for meanwhile is carried out once the command has ended.
    class Busy {
    public:
        explicit Busy(Form1 &f);
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;
    private:
        Form1 &m_f;
    };

    // Status display: hiding Text1 uncovers "Wait..." and ProgressBar1.
    void showStatusDisplay(bool shown);
    // Escape stops the long operation in hand after the byte in hand.
    void setStoppable(bool stoppable) { m_stoppable = stoppable; }
    // True while the window is being closed or the program left: no more messages then.
    bool ending() const { return m_closePending || m_exiting; }
    // Makes sure the port is open before a command; a port lost earlier (an adapter
    // pulled out and plugged back) is opened again.
    Status ensurePort();
    // Lists the current image in Text1, with its name and length.
    Status DisplayBuffer(const Image &image);
    // The current image file as it is now, for Write, Verify and Save. One rebuilt since it
    // was listed is listed again first, so that the view shows what goes to the chip.
    Result<Image> currentImage();

private:
    void Form_Load();
    void Form_Unload();
    void buildControls();
    void buildMenus();
    void buildBuffer(QWidget *client, QGroupBox *frame);
    void setCommandGroupEnabled(bool enabled);
    void switchPort(int number);
    void markPort(int number);
    void lockBitCommand(const QString &text, int times = 1);
    // Opens `path` as the current image. Refused: it was told and FileName emptied (Open
    // shows its dialog again); Ended: opened, or a failure told.
    enum OpenOutcome { OpenEnded, OpenRefused };
    OpenOutcome openImageFile(const QString &path);
    void commandEnded();
    // Tells each chip change left unfinished (on `device`, or on any when empty) that has
    // not been told in this run.
    void tellUnfinishedChanges(const QString &title, const QString &device = {});

    std::unique_ptr<Prompter> m_ownPrompter;
    Prompter *m_prompter = nullptr;
    QString m_startupProblem;
    QString m_lastDialogPath;  // the path chosen last by Open or Save
    QByteArray m_listed;       // the bytes the view lists
    bool m_settingsUnusable = false;  // a settings file that could not be read is never written
    bool m_stoppable = false;
    bool m_closePending = false;
    bool m_exiting = false;
    bool m_unloaded = false;
    int m_markedPort = 0;  // the Com item carrying the check mark, 0 for none
    QSet<QString> m_toldChanges;  // unfinished chip changes told in this run
};
