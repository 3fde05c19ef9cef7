// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as every window test builds it: a private work folder, scripted dialogs,
// in-process emulated boards on the Com devices, and helpers to read what the window shows.
#pragma once

#include "emurig.h"
#include "fakeprompter.h"
#include "form1.h"
#include "image.h"
#include "testfiles.h"

#include <QAction>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>

Q_DECLARE_METATYPE(BoardConfig)

// A chip preset ("89c51", "89c52", "none") with one change, for table rows.
inline BoardConfig chip(const char *name, const std::function<void(BoardConfig &)> &change = {})
{
    BoardConfig c = *BoardConfig::forChip(QString::fromLatin1(name));
    if (change)
        change(c);
    return c;
}

// The settings store as the program sees it (each test program has its own).
inline std::unique_ptr<QSettings> storedSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("Quorvale"), QStringLiteral("Quorvale"));
}

struct WindowFixture {
    QTemporaryDir dir;
    FakePrompter prompts;
    EmuRig rig;
    std::unique_ptr<Form1> w;
    int exits = 0;     // File, Exit taken
    int wireMark = 0;  // bytes sent before the last markWire()

    // A board `cfg` on each Com of `coms` (ComN: /dev/ttyS<N-1>), or the real serial ports;
    // start-up has run.
    explicit WindowFixture(const BoardConfig &cfg = {}, const QList<int> &coms = {2}, bool realPorts = false)
    {
        for (int n : coms)
            rig.add(device(n), cfg);
        Form1::Deps d;
        d.work = WorkFolder::acquireAt(dir.filePath(QStringLiteral("work"))).value();
        d.prompter = &prompts;
        if (!realPorts)
            d.opener = rig.opener();
        d.exitProgram = [this] { ++exits; };
        w = std::make_unique<Form1>(d);
    }
    static QString device(int com) { return QStringLiteral("/dev/ttyS%1").arg(com - 1); }
    BoardEngine &board(int com = 2) { return *rig.boards.value(device(com)); }

    // As while a command runs (false) or none does (true).
    void setReady(bool ready) { w->Ready = ready; }
    // Identify, then the wire counts from here.
    void identify() { w->IdentifyDevice_Click(); markWire(); }
    // Every byte sent on the port opened last, as written; wire(): since markWire().
    QByteArray sent() const { return rig.port ? rig.port->writes().join() : QByteArray(); }
    void markWire() { wireMark = int(sent().size()); }
    QByteArray wire() const { return sent().mid(wireMark); }

    // A file in the test's folder: `data` as it stands, or written as Intel HEX.
    QString file(const QString &name, const QByteArray &data) { return writeFile(dir.filePath(name), data); }
    QString hexFile(const QString &name, const QByteArray &data)
    {
        return saveImage(Image{data}, dir.filePath(name), ImageFormat::IntelHex) ? dir.filePath(name) : QString();
    }
    // File, Open on `path` (empty: Cancel); true when the window is ready again.
    bool open(const QString &path) { prompts.openPaths.enqueue(path); w->mnuOpen_Click(); return w->ready(); }
    // Opens `data` as a file called `name`; a HEX name gets it written as Intel HEX.
    QString openImage(const QByteArray &data, const QString &name = QStringLiteral("image.bin"))
    {
        open(formatForName(name) == ImageFormat::IntelHex ? hexFile(name, data) : file(name, data));
        return dir.filePath(name);
    }
    // A file dragged from a file manager and let go over the listing, which passes it on.
    void drop(const QString &path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        if (QCoreApplication::sendEvent(w->Text1->viewport(), &enter); enter.isAccepted())
            QCoreApplication::sendEvent(w->Text1->viewport(), &dropped);
    }

    // The Com item carrying the check mark: 0 for none, -1 for more than one.
    int checkedCom() const
    {
        const QList<QAction *> items{w->mnuCom1, w->mnuCom2, w->mnuCom3, w->mnuCom4};
        int found = 0;
        for (int i = 0; i < 4; ++i)
            found = items[i]->isChecked() ? (found ? -1 : i + 1) : found;
        return found;
    }
    // The command group Identify switches, all together: "enabled", "disabled" or "mixed".
    QString group() const
    {
        const QList<bool> states{w->BlankCheck->isEnabled(), w->ReadData->isEnabled(), w->Verify->isEnabled(),
                                 w->WriteData->isEnabled(), w->ChipErase->isEnabled(), w->mnuBlankCheck->isEnabled(),
                                 w->mnuReadData->isEnabled(), w->mnuVerify->isEnabled(), w->mnuWriteData->isEnabled(),
                                 w->mnuChipErase->isEnabled(), w->mnuLockBits->menuAction()->isEnabled()};
        return !states.contains(false) ? "enabled" : !states.contains(true) ? "disabled" : "mixed";
    }
};
