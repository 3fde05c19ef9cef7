// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes and file dialogs behind one seam: users get the platform's standard
// dialogs, tests answer them without a real window.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class Prompter {
public:
    enum Icon { NoIcon, Information, Warning, Critical };
    enum Buttons { OkOnly, OkCancel, YesNo };
    enum Answer { Ok, Cancel, Yes, No };

    virtual ~Prompter() = default;
    // A modal message box; returns the button chosen (closing the box is Cancel or No).
    virtual Answer message(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                           Icon icon, Answer preselected) = 0;
    // The open and save dialogs; an empty path is Cancel. `filter` is in the program's
    // own form, "description|pattern|description|pattern".
    virtual QString openFileName(QWidget *parent, const QString &filter, const QString &initialPath) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &filter, const QString &initialPath) = 0;

    // The ok-only shorthand used by result messages.
    void tell(QWidget *parent, const QString &title, const QString &text, Icon icon)
    {
        message(parent, title, text, OkOnly, icon, Ok);
    }
};

// The real dialogs.
class WidgetPrompter : public Prompter {
public:
    Answer message(QWidget *parent, const QString &title, const QString &text, Buttons buttons, Icon icon,
                   Answer preselected) override;
    QString openFileName(QWidget *parent, const QString &filter, const QString &initialPath) override;
    QString saveFileName(QWidget *parent, const QString &filter, const QString &initialPath) override;
};

// "File binari (*.*)|*.BIN|..." as Qt name filters. The description is shown exactly as
// it stands; the pattern is matched without regard to case, so "*.BIN" also shows
// ".bin" files on a case-sensitive file system.
QStringList dialogNameFilters(const QString &filter);
