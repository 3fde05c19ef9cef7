// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: the program's title and version, the programming-voltage warning, and
// a button that starts the system-information tool. One window at a time, built on first
// use and destroyed by OK; it never blocks the main window.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // How System Info finds and starts its tool and tells a failure; tests replace these
    // so that no real program is started and no real box is shown. Null members: the
    // real thing.
    struct Deps {
        std::function<std::optional<QString>()> findTool;
        std::function<bool(const QString &path)> startTool;  // true once it is running
        std::function<void(QWidget *parent, const QString &title, const QString &text)> tell;
    };
    static void setDeps(Deps deps);

    // Shows the About window without blocking `parent`, building it if none is open;
    // while one is open it is brought to the front instead.
    static void showAbout(QWidget *parent);
    // The window now open, or null.
    static frmAbout *openWindow();
    ~frmAbout() override;

    // Controls (designer names); Line1 is the etched separator, its white and grey halves.
    QLabel *picIcon, *lblTitle, *lblVersion, *lblDescription, *lblDisclaimer, *Label1;
    QFrame *Line1[2];
    QPushButton *cmdOK, *cmdSysInfo;

public slots:
    void cmdOK_Click();
    void cmdSysInfo_Click();

protected:
    void done(int result) override;

private:
    explicit frmAbout(QWidget *parent);
    void Form_Load();
    void StartSysInfo();
};
